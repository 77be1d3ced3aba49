// ピョコラン: a reaction-time experiment in which creatures rise out of holes.
#include "app/my_app.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/timing_command.h"

int main(int argc, char** argv) {
  if (int code = 0; pyokoran::RunTimingCommand(argc, argv, code)) return code;
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::CMyApp app(platform);
  return app.Run();
}
