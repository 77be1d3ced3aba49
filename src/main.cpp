// ピョコラン: a reaction-time experiment in which creatures rise out of holes.
#include "app/my_app.h"
#include "platform/qt/qt_platform.h"

int main(int argc, char** argv) {
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::CMyApp app(platform);
  return app.Run();
}
