#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QFont>
#include <QIcon>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/file_system.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_display.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_keys.h"
#include "platform/qt/x11_event_clock.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/sdl_sound.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"

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
  // Every window carries the program's icon (drawn by tools/make_stimuli, built in).
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/pyokoran-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);
}

QtPlatform::~QtPlatform() {
  front_server_.reset();
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
  // An OpenGL surface where OpenGL can be had and the backing store is not forced.
  const bool opengl = QtDisplay::OpenGLAvailable() &&
                      ParseForcedMode(std::getenv(kPresentModeVariable)) != ForcedMode::Fallback;
  QWindow* owner = main_window_ ? main_window_->windowHandle() : nullptr;
  experiment_window_ = std::make_unique<QtExperimentWindow>(owner, handler, opengl);
  QtDisplay* display = display_.get();
  QtExperimentWindow* window = experiment_window_.get();
  experiment_window_->set_on_expose([display, window] { display->RepaintIfBound(window); });
  // A press is stamped with the event's own time where that maps onto the tick clock, else
  // with the tick clock as it is delivered.
  experiment_window_->set_event_time(
      [this](const QInputEvent* event, int64_t& tick_us, EventTimeSource& source) {
        int64_t arrival_us;
        const int64_t monotonic_ns = TickThread::MonotonicNs();
        if (!tick_thread_.TickClockUs(monotonic_ns, arrival_us)) return false;
        tick_us = event_clock_.Stamp(uint32_t(event->timestamp()), monotonic_ns, arrival_us);
        source = event_clock_.last_from_event() ? EventTimeSource::Event : EventTimeSource::Arrival;
        return true;
      });
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) experiment_window_->setGeometry(screen->geometry());
  experiment_window_->show();
  experiment_window_->raise();
  experiment_window_->requestActivate();
  if (main_window_) main_window_->set_run_under_way(true);
  sound_->Prepare();  // opening the audio device here keeps it out of the first strike
  return true;
}

void QtPlatform::DestroyExperimentWindow() {
  if (experiment_window_) display_->Forget(experiment_window_.get());
  experiment_window_.reset();
  if (main_window_) main_window_->set_run_under_way(false);
}

void QtPlatform::ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  keys_->DialogOpening();
  QMessageBox box(main_window_.get());
  box.setWindowTitle(QString::fromStdString(caption));
  SetMessageText(box, text);
  box.setIcon(icon == MessageIcon::Stop          ? QMessageBox::Critical
              : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                 : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

bool QtPlatform::AskRetry(const std::string& text, const std::string& caption) {
  keys_->DialogOpening();
  QMessageBox box(main_window_.get());
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  box.setIcon(QMessageBox::Warning);
  QPushButton* retry = box.addButton(QStringLiteral("再試行"), QMessageBox::AcceptRole);
  QPushButton* give_up = box.addButton(QStringLiteral("中止"), QMessageBox::RejectRole);
  box.setDefaultButton(retry);
  box.setEscapeButton(give_up);
  box.exec();
  return box.clickedButton() == retry;
}

std::string QtPlatform::UserDataFolder() { return LocalDataFolder(); }

std::string QtPlatform::ComputerName() { return ::pyokoran::ComputerName(); }

// A lock file of this user's, named after the folder, claims it (Qt takes over the claim of a
// copy that died); the first copy listens on a local socket of the same name for a second
// copy's request to come to the front.
bool QtPlatform::ClaimWorkingFolder(const std::string& folder) {
  QString place = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (place.isEmpty()) place = QDir::tempPath();
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha256).toHex().left(24);
  const QString base = place + "/pyokoran-" + QString::fromLatin1(hash);
  folder_claim_ = std::make_unique<QLockFile>(base + ".lock");
  folder_claim_->setStaleLockTime(0);
  if (!folder_claim_->tryLock(0)) {
    if (folder_claim_->error() != QLockFile::LockFailedError) return true;  // cannot tell: go on
    folder_claim_.reset();
    QLocalSocket socket;
    socket.connectToServer(base + ".socket");
    if (socket.waitForConnected(1000)) {
      socket.write("front\n");
      socket.waitForBytesWritten(1000);
    }
    return false;
  }
  QLocalServer::removeServer(base + ".socket");
  front_server_ = std::make_unique<QLocalServer>();
  QObject::connect(front_server_.get(), &QLocalServer::newConnection, [this] {
    while (QLocalSocket* peer = front_server_->nextPendingConnection()) peer->deleteLater();
    // Never over a run: the experiment window keeps the screen until the run ends.
    if (main_window_ && !experiment_window_) {
      main_window_->raise();
      main_window_->activateWindow();
    }
  });
  front_server_->listen(base + ".socket");
  return true;
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

// Frames go only to the experiment window: between runs nothing is presented, and the main
// window paints itself.
void QtPlatform::BindPresentWindow(WindowId window) {
  if (window == WindowId::Experiment && experiment_window_) {
    display_->Bind(experiment_window_.get(), true);
    CheckEventClock();
    presented_run_ = true;
    have_present_time_ = false;
    lock_lost_tick_us_ = -1;
  } else {
    display_->Bind(nullptr, false);
  }
}

void QtPlatform::CheckEventClock() {
  // Input event times are the X server's milliseconds: proved to be the monotonic clock, or
  // shifted by the offset the round trips show.
  const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
  event_clock_.SetCheck(x11 ? pyokoran::CheckEventClock(ProbeX11EventClock(8)) : ClockCheck{});
  std::fprintf(stderr, "pyokoran: input event times: %s\n", event_clock_.Describe().c_str());
}

void QtPlatform::NotePresentTime() {
  const int64_t ns = display_->last_present_ns();
  have_present_time_ = ns != 0 && tick_thread_.TickClockUs(ns, present_tick_us_);
  const int64_t lost_ns = display_->lock_lost_ns();
  if (lost_ns != 0 && lock_lost_tick_us_ < 0 &&
      !tick_thread_.TickClockUs(lost_ns, lock_lost_tick_us_)) {
    lock_lost_tick_us_ = 0;  // before the tick clock ran
  }
}

void QtPlatform::Present(const Surface& stage, const Rect& stage_rect) {
  display_->Present(stage, stage_rect);
  NotePresentTime();
}

void QtPlatform::PresentChanged(const Surface& stage, const Rect& stage_rect,
                                const std::vector<Rect>& changed) {
  display_->Present(stage, stage_rect, &changed);
  NotePresentTime();
}

bool QtPlatform::LastPresentTickUs(int64_t& tick_us) {
  if (!have_present_time_) return false;
  tick_us = present_tick_us_;
  return true;
}

bool QtPlatform::LastPresentFailed() { return display_->last_present_failed(); }

bool QtPlatform::LastPresentSendUs(int64_t& send_us) {
  if (display_->last_present_failed() || display_->last_send_ns() <= 0) return false;
  send_us = display_->last_send_ns() / 1000;
  return true;
}

bool QtPlatform::LastPresentCompletion(FrameCompletion& completion, bool& dropped) {
  const FrameCompletion* c = display_->last_present_failed() ? nullptr : display_->last_completion();
  if (!c) return false;
  completion = *c;
  dropped = display_->last_dropped();
  return true;
}

bool QtPlatform::GetPresentationReport(PresentationReport& report) {
  if (!presented_run_) return false;
  report = display_->Report();
  report.tick_lag_ms = double(tick_thread_.largest_lag_ns()) / 1e6;
  if (report.lock_lost_ms >= 0) report.lock_lost_ms = double(std::max<int64_t>(lock_lost_tick_us_, 0)) / 1000.0;
  report.event_clock = event_clock_.Describe();
  return true;
}

void QtPlatform::DrawText(Surface& surface, const Rect& rect, const std::string& text,
                          int32_t height, uint32_t colour) {
  QtDisplay::DrawText(surface, rect, text, height, colour);
}

void QtPlatform::ShutdownDisplay() { display_->Shutdown(); }

bool QtPlatform::TickClockAvailable() { return TickThread::ClockAvailable(); }
bool QtPlatform::TickClockHasMsResolution() { return TickThread::ClockHasMsResolution(); }

bool QtPlatform::StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  event_clock_.Reset();
  if (!tick_thread_.Start(tick, hook)) return false;
  // At every run, so a log of the session shows how steady its clock could be.
  std::fprintf(stderr, "pyokoran: %s\n", DescribeTickScheduling(tick_thread_.scheduling()).c_str());
  return true;
}

void QtPlatform::StopTickThread() { tick_thread_.Stop(); }

int64_t QtPlatform::CurrentTime() { return int64_t(std::time(nullptr)); }

void QtPlatform::PlayWav(const std::vector<uint8_t>* wav) { sound_->Play(wav); }

}  // namespace pyokoran

namespace pyokoran {

namespace {


}  // namespace

bool QtPlatform::RunPresentationCheck(PresentationReport& report) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const ScreenSize screen = GetScreenSize();
  if (screen.width <= 0 || screen.height <= 0 || !display_->Init()) return false;

  NoPointer no_pointer;
  const bool opengl = QtDisplay::OpenGLAvailable() &&
                      ParseForcedMode(std::getenv(kPresentModeVariable)) != ForcedMode::Fallback;
  QtExperimentWindow window(nullptr, no_pointer, opengl);
  QtDisplay* display = display_.get();
  window.set_on_expose([display, &window] { display->RepaintIfBound(&window); });
  window.setGeometry(QGuiApplication::primaryScreen()->geometry());
  window.show();
  window.raise();
  window.requestActivate();
  display_->Bind(&window, true);
  CheckEventClock();
  if (!window.isExposed()) {
    display_->Forget(&window);
    return false;
  }

  // The tick runs beside the frames, as in a run.
  std::atomic<int32_t> tick{0};
  TickThread ticks;
  const bool ticking = ticks.Start(tick, nullptr);
  tick = 0;
  Surface stage(1024, 768);
  const int32_t w = screen.width, h = screen.height;
  // The largest centred 4:3 rectangle, as a run fits its stage.
  Rect rect{0, 0, w, h};
  if (int64_t(w) * 3 > int64_t(h) * 4) {
    const int32_t scaled = int32_t(std::lround(1024.0 * h / 768.0));
    rect = {(w - scaled) / 2, 0, (w - scaled) / 2 + scaled, h};
  } else if (int64_t(w) * 3 < int64_t(h) * 4) {
    const int32_t scaled = int32_t(std::lround(768.0 * w / 1024.0));
    rect = {0, (h - scaled) / 2, w, (h - scaled) / 2 + scaled};
  }
  for (int frame = 0; Clock::now() - start < std::chrono::milliseconds(4500); ++frame) {
    DrawCheckPattern(stage, frame);
    display_->Present(stage, rect);
    display_->NoteLoopPass();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  report = display_->Report();
  report.event_clock = event_clock_.Describe();
  if (report.lock_lost_ms >= 0 && display_->lock_lost_ns() != 0) {
    int64_t lost_us = 0;
    report.lock_lost_ms = ticking && ticks.TickClockUs(display_->lock_lost_ns(), lost_us)
                              ? double(std::max<int64_t>(lost_us, 0)) / 1000.0 : 0.0;
  }
  ticks.Stop();
  report.tick_lag_ms = ticking ? double(ticks.largest_lag_ns()) / 1e6 : 1e9;
  report.tick_scheduling =
      ticking ? DescribeTickScheduling(ticks.scheduling()) : "tick thread: not started";
  display_->Bind(nullptr, false);
  display_->Forget(&window);
  return true;
}

}  // namespace pyokoran
