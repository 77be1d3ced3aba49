// ピョコラン: a reaction-time experiment in which creatures rise out of holes.
#include "app/my_app.h"
#include "gui/command_line.h"
#include "gui/report_window.h"
#include "platform/qt/qt_platform.h"

int main(int argc, char** argv) {
  // --report and --simulate run without a window and end here.
  if (const int code = pyokoran::RunAnalysisCommandLine(argc, argv); code >= 0) return code;
  pyokoran::QtPlatform platform(argc, argv);
  platform.SetReportOpener(&pyokoran::OpenReportWindow);
  pyokoran::CMyApp app(platform);
  return app.Run();
}
