#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>

#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_display.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/sdl_sound.h"

namespace pyokoran {

// Watches key events application-wide, so that a query sees a key that is down now or was
// pressed since the previous query, whichever window had the focus.
class KeyTracker : public QObject {
 public:
  bool Active(int virtual_key) {
    State& s = keys_[virtual_key];
    bool active = s.down || s.pressed;
    s.pressed = false;
    return active;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
      auto* key = static_cast<QKeyEvent*>(event);
      int vk = ToVirtualKey(key->key());
      if (vk != 0 && !key->isAutoRepeat()) {
        State& s = keys_[vk];
        if (event->type() == QEvent::KeyPress) {
          s.down = true;
          s.pressed = true;
        } else {
          s.down = false;
        }
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  struct State {
    bool down = false;
    bool pressed = false;
  };
  static int ToVirtualKey(int qt_key) {
    switch (qt_key) {
      case Qt::Key_Escape: return VK_ESCAPE;
      case Qt::Key_Return:
      case Qt::Key_Enter: return VK_RETURN;
      default: return 0;
    }
  }
  std::map<int, State> keys_;
};

namespace {

// The program asks for Windows' Japanese faces; here the IPA fonts stand in for them.
void SubstituteJapaneseFonts() {
  const char* faces[] = {"ＭＳ Ｐゴシック", "MS UI Gothic", "MS PGothic"};
  for (const char* face : faces) {
    QFont::insertSubstitution(QString::fromUtf8(face), QStringLiteral("IPAPGothic"));
  }
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("IPAPGothic"), font.family()});
  QApplication::setFont(font);
}

}  // namespace

QtPlatform::QtPlatform(int& argc, char** argv)
    : app_(std::make_unique<QApplication>(argc, argv)),
      keys_(std::make_unique<KeyTracker>()),
      display_(std::make_unique<QtDisplay>()),
      sound_(std::make_unique<SdlSound>()) {
  QApplication::setQuitOnLastWindowClosed(false);
  // The desktop entry and icon the package installs, so docks and task bars show them.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.pyokoran.Pyokoran"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.pyokoran.Pyokoran")));
  app_->installEventFilter(keys_.get());
  SubstituteJapaneseFonts();
}

QtPlatform::~QtPlatform() {
  tick_thread_.Stop();
  experiment_window_.reset();
  main_window_.reset();
  display_.reset();
  sound_.reset();
  if (app_) app_->removeEventFilter(keys_.get());
}

ScreenSize QtPlatform::GetScreenSize() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  QRect g = screen->geometry();
  qreal ratio = screen->devicePixelRatio();
  return {int32_t(g.width() * ratio + 0.5), int32_t(g.height() * ratio + 0.5)};
}

bool QtPlatform::CreateMainWindow(const std::string& title, const std::string& caption_line,
                                  MainWindowHandler& handler) {
  if (!QGuiApplication::primaryScreen()) return false;
  main_window_ = std::make_unique<QtMainWindow>(QString::fromStdString(title),
                                                QString::fromStdString(caption_line), handler);
  main_window_->CoverScreen();
  return true;
}

void QtPlatform::RestoreMainWindow() {
  if (main_window_ && !main_window_->destroyed()) main_window_->CoverScreen();
}

void QtPlatform::CloseMainWindow() {
  if (!main_window_) return;
  main_window_->close();
  QCoreApplication::quit();
}

void QtPlatform::DestroyMainWindow() {
  if (main_window_) main_window_->Destroy();
}

int QtPlatform::RunMessageLoop() {
  if (!main_window_ || main_window_->destroyed()) return 0;
  return app_->exec();
}

bool QtPlatform::CreateExperimentWindow(PointerHandler& handler) {
  experiment_window_ = std::make_unique<QtExperimentWindow>(main_window_.get(), handler);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) experiment_window_->setGeometry(screen->geometry());
  experiment_window_->show();
  experiment_window_->raise();
  experiment_window_->activateWindow();
  sound_->Prepare();  // opening the audio device here keeps it out of the first strike
  return true;
}

void QtPlatform::DestroyExperimentWindow() { experiment_window_.reset(); }

void QtPlatform::ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  QMessageBox box(main_window_.get());
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  box.setIcon(icon == MessageIcon::Stop          ? QMessageBox::Critical
              : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                 : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void QtPlatform::ShowAboutBox(const AboutBoxContent& content) {
  RunAboutBox(main_window_.get(), content);
}

int QtPlatform::ShowConditionDialog(CSubject& dialog) {
  return RunConditionDialog(main_window_.get(), dialog);
}

void QtPlatform::ShowResultDialog(const ResultDialogContent& content) {
  RunResultDialog(main_window_.get(), content);
}

void QtPlatform::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// Sleeps until the next event or about a millisecond, whichever comes first: input that
// arrives meanwhile is delivered at once, and an idle run does not spin a core.
void QtPlatform::YieldSlice() {
  display_->NoteLoopPass();
  if (!yield_timer_) {
    yield_timer_ = std::make_unique<QTimer>();
    yield_timer_->setSingleShot(true);
    yield_timer_->setTimerType(Qt::PreciseTimer);
    yield_timer_->setInterval(1);
  }
  yield_timer_->start();
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  yield_timer_->stop();
}

bool QtPlatform::KeyActive(int virtual_key) {
  // Key events reach the tracker only through the event queue: let those that have
  // arrived be seen.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return keys_->Active(virtual_key);
}

bool QtPlatform::InitDisplay() { return display_->Init(); }

void QtPlatform::BindPresentWindow(WindowId window) {
  QWidget* target = window == WindowId::Experiment && experiment_window_
                        ? static_cast<QWidget*>(experiment_window_.get())
                        : static_cast<QWidget*>(main_window_.get());
  display_->Bind(target, window == WindowId::Experiment);
}

void QtPlatform::Present(const Surface& stage, const Rect& stage_rect) {
  display_->Present(stage, stage_rect);
}

void QtPlatform::DrawText(Surface& surface, const Rect& rect, const std::string& text,
                          int32_t height, uint32_t colour) {
  QtDisplay::DrawText(surface, rect, text, height, colour);
}

void QtPlatform::ShutdownDisplay() { display_->Shutdown(); }

bool QtPlatform::TickClockAvailable() { return TickThread::ClockAvailable(); }
bool QtPlatform::TickClockHasMsResolution() { return TickThread::ClockHasMsResolution(); }

bool QtPlatform::StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  if (!tick_thread_.Start(tick, hook)) return false;
  // At every run, so a log of the session shows how steady its clock could be.
  std::fprintf(stderr, "pyokoran: %s\n", DescribeTickScheduling(tick_thread_.scheduling()).c_str());
  return true;
}

void QtPlatform::StopTickThread() { tick_thread_.Stop(); }

int64_t QtPlatform::CurrentTime() { return int64_t(std::time(nullptr)); }

void QtPlatform::PlayWav(const std::vector<uint8_t>* wav) { sound_->Play(wav); }

}  // namespace pyokoran
