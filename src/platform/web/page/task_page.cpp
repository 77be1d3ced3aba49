#include "app/my_app.h"
#include "platform/web/page/web_page_platform.h"
#include "platform/web/task.h"
#include "settings/experiment_settings.h"

namespace pyokoran {

int RunTaskHere(const std::string& version) {
  WebPagePlatform platform;
  CMyApp app(platform, version);
  // A page may be closed at any moment, without the program's exit: the settings are written
  // back, as the exit writes them, whenever the main window is back after a command.
  platform.SetAfterCommand([&app] {
    Program& p = app.program();
    StoreSettings(p.settings_file, p.settings);
    p.settings_file.Save();
  });
  return app.Run();
}

}  // namespace pyokoran
