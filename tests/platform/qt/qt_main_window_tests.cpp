// The real main window, headless: title, menu, geometry, input routing, and a whole start
// and exit through Qt's event loop.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/my_app.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_platform.h"
#include "run/touch_wnd.h"

namespace pyokoran {

class SpyHandler : public MainWindowHandler {
 public:
  std::vector<std::string> seen;
  void OnCommand(int command) override { seen.push_back("command " + std::to_string(command)); }
  void OnLeftButtonDown() override { seen.push_back("left"); }
  void OnKeyDown(int key) override { seen.push_back("key " + std::to_string(key)); }
  void OnDestroy() override { seen.push_back("destroy"); }
};

// A close request as the window system sends it (WM_DELETE_WINDOW); true when accepted.
bool RequestClose(QtMainWindow& window) {
  QCloseEvent event;
  QCoreApplication::sendEvent(window.windowHandle(), &event);
  return event.isAccepted();
}

class QtMainWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void menuHasTheThreePopUpsWithTheirItems() {
    SpyHandler spy;
    QtMainWindow window(QString::fromUtf8("ピョコラン"), QStringLiteral("caption"), spy);
    QCOMPARE(window.windowTitle(), QString::fromUtf8("ピョコラン"));
    QStringList menus;
    QStringList items;
    for (QAction* top : window.menuBar()->actions()) {
      menus << top->text();
      for (QAction* item : top->menu()->actions()) items << item->text();
    }
    QCOMPARE(menus, (QStringList{"&File", QString::fromUtf8("ピョコラン(&E)"), "&Help"}));
    QCOMPARE(items, (QStringList{"E&xit", "&Start", "Show&Result", "Re&port", "&About"}));

    window.action(ID_START)->trigger();
    window.action(ID_SHOW_RESULT)->trigger();
    window.action(ID_REPORT)->trigger();
    window.action(ID_APP_ABOUT)->trigger();
    window.action(ID_APP_EXIT)->trigger();
    QCOMPARE(spy.seen, (std::vector<std::string>{"command 40005", "command 40007", "command 40008",
                                                  "command 40002", "command 40001"}));
  }

  void coversTheScreenAndRoutesClicksAndEscape() {
    SpyHandler spy;
    QtMainWindow window(QString::fromUtf8("ピョコラン"), QStringLiteral("caption"), spy);
    window.CoverScreen();
    QCOMPARE(window.frameGeometry(), QGuiApplication::primaryScreen()->geometry());
    QVERIFY(window.isVisible());
    QTest::mouseClick(window.centralWidget(), Qt::RightButton);
    QTest::mouseClick(window.centralWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(&window, Qt::Key_A);
    QTest::keyClick(&window, Qt::Key_Escape);
    window.close();
    window.close();
    QCOMPARE(spy.seen, (std::vector<std::string>{"left", "key 27", "destroy"}));
  }

  // Start-up, the message loop and its end by Exit from the menu or by a close request from
  // the window system (close box, Alt+F4), both writing the settings file.
  void closingEndsTheProgramAndWritesTheSettingsFile_data() {
    QTest::addColumn<bool>("from_menu");
    QTest::newRow("File > Exit") << true;
    QTest::newRow("close request") << false;
  }
  void closingEndsTheProgramAndWritesTheSettingsFile() {
    QFETCH(bool, from_menu);
    char pattern[] = "/tmp/pyokoran-qt-XXXXXX";
    QVERIFY(mkdtemp(pattern));
    char old_cwd[4096];
    QVERIFY(getcwd(old_cwd, sizeof old_cwd));
    QCOMPARE(chdir(pattern), 0);

    CMyApp app(*platform_);
    QTimer::singleShot(0, [&] {
      QtMainWindow* window = platform_->main_window();
      if (!window) return;
      if (from_menu) {
        window->action(ID_APP_EXIT)->trigger();
      } else {
        RequestClose(*window);
      }
    });
    QTimer watchdog;  // a loop that goes on after the window has gone ends here
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    watchdog.start(5000);
    int code = app.Run();
    watchdog.stop();

    std::ifstream in("ピョコラン.ini", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    QCOMPARE(chdir(old_cwd), 0);
    std::system((std::string("rm -rf '") + pattern + "'").c_str());

    QCOMPARE(code, 0);
    QCOMPARE(QString::fromStdString(bytes.str()),
             QStringLiteral("subject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\n"
                            "n_holes = 12\r\nduration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\n"
                            "time_limit = 60\r\nrandom_seed = 0\r\nflag_ordered = 1\r\n"));
  }

  // While a modal dialog or a run is up the main window stays; afterwards it closes.
  void closeRequestIsRefusedWhileADialogOrARunIsUp() {
    SpyHandler spy;
    QVERIFY(platform_->CreateMainWindow("ピョコラン", "caption", spy));
    QtMainWindow& window = *platform_->main_window();
    bool refused_in_dialog = false;
    QTimer::singleShot(0, [&] {
      refused_in_dialog = !RequestClose(window) && !window.destroyed();
      if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    });
    platform_->ShowAboutBox({});
    QVERIFY(refused_in_dialog);

    CTouchWnd touch;
    QVERIFY(platform_->CreateExperimentWindow(touch));
    QVERIFY(!RequestClose(window));
    platform_->DestroyExperimentWindow();
    QVERIFY(spy.seen.empty());
    QVERIFY(RequestClose(window));
    QCOMPARE(spy.seen, std::vector<std::string>{"destroy"});
  }

 public:
  QtPlatform* platform_ = nullptr;
};

}  // namespace pyokoran

int main(int argc, char** argv) {
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::QtMainWindowTest test;
  test.platform_ = &platform;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_main_window_tests.moc"
