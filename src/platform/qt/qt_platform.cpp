#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_display.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_keys.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/sdl_sound.h"

namespace pyokoran {

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
  // The desktop entry the package installs, so docks and task bars show its name and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.pyokoran.Pyokoran"));
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
  if (main_window_) main_window_->close();
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
  if (main_window_) main_window_->set_run_under_way(true);
  sound_->Prepare();  // opening the audio device here keeps it out of the first strike
  return true;
}

void QtPlatform::DestroyExperimentWindow() {
  experiment_window_.reset();
  if (main_window_) main_window_->set_run_under_way(false);
}

void QtPlatform::ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  keys_->DialogOpening();
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
  keys_->DialogOpening();
  RunAboutBox(main_window_.get(), content);
}

int QtPlatform::ShowConditionDialog(CSubject& dialog) {
  keys_->DialogOpening();
  return RunConditionDialog(main_window_.get(), dialog);
}

void QtPlatform::ShowResultDialog(const ResultDialogContent& content) {
  keys_->DialogOpening();
  RunResultDialog(main_window_.get(), content);
}

void QtPlatform::ShowReport() {
  if (report_opener_) report_opener_(main_window_.get());
}

// Goes round until nothing is left (or 2 ms have passed): input read from the window
// system in one round is delivered to the windows only in the next.
void QtPlatform::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 2); }

// Sleeps about a millisecond. Events that arrive meanwhile wait for the next PumpEvents:
// the experiment window's handlers run only there.
void QtPlatform::YieldSlice() {
  display_->NoteLoopPass();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool QtPlatform::KeyActive(int virtual_key) { return keys_->Active(virtual_key); }

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
