#include "app/my_app.h"

#include <utility>

#include "app/working_folder.h"
#include "display/full_screen_display.h"
#include "preparation/run_preparation.h"
#include "results/folder_lock.h"
#include "results/rescued_runs.h"
#include "results/result_files.h"
#include "results/result_viewer.h"
#include "results/run_completeness.h"
#include "run/ms_timer.h"
#include "run/run_sequence.h"

namespace pyokoran {

std::string AlreadyOpenMessage(const std::string& folder) {
  return "ピョコランは、この作業フォルダーですでに開いています。\n[" + folder +
         "]\n開いている方を前に出しました。";
}

CMyApp::CMyApp(Platform& platform, std::string version, std::vector<std::string> guide_pages)
    : program_(std::make_unique<Program>(platform)),
      frame_(*this),
      version_(std::move(version)),
      guide_pages_(std::move(guide_pages)) {}

int CMyApp::InitInstance() {
  Program& p = *program_;
  // One copy per working folder on this computer; the settings stay untouched by a second.
  if (!p.platform.ClaimWorkingFolder(CurrentFolder())) {
    p.platform.ShowMessage(AlreadyOpenMessage(CurrentFolder()), kApplicationTitle,
                           MessageIcon::Exclamation);
    return 0;
  }
  screen_ = p.platform.GetScreenSize();
  if (!p.platform.CreateMainWindow(kProgramName, kCaptionLine, frame_)) return 0;
  if (!InitDisplay(p.platform, p.display)) return 0;
  InitMsTimer(p.platform, p.timer);
  p.settings_file.Load(kProgramName);
  ReadSettings(p.settings_file, p.settings);
  // Runs that cannot be written into the working folder are kept on this computer.
  const std::string user_data = p.platform.UserDataFolder();
  if (!user_data.empty()) p.rescue_folder = RescueFolderIn(user_data);
  // Several programs may share the folder: where it keeps no locks, that is told once.
  if (!FolderKeepsLocks()) {
    p.platform.ShowMessage(NoLocksMessage(CurrentFolder()), kApplicationTitle,
                           MessageIcon::Exclamation);
  }
  // A run cut off between its appends last time, and earlier runs without their timing
  // summary line, are told once in one message, and recorded.
  IncompleteRun incomplete;
  std::vector<IncompleteRun> untimed;
  size_t more = 0;
  std::string message;
  if (CheckLastRunAtStart(incomplete)) message = IncompleteRunMessage(incomplete);
  if (CheckRunsWithoutTimingLineAtStart(untimed, more))
    message += (message.empty() ? "" : "\n\n") + RunsWithoutTimingLineMessage(untimed, more);
  if (!message.empty()) p.platform.ShowMessage(message, kApplicationTitle, MessageIcon::Exclamation);
  return 1;
}

int CMyApp::ExitInstance() {
  Program& p = *program_;
  StopMsTimer(p.platform, p.timer);
  StoreSettings(p.settings_file, p.settings);
  p.settings_file.Save();
  return 0;
}

int CMyApp::Run() {
  int code = 0;
  if (InitInstance()) {
    code = program_->platform.RunMessageLoop();
  } else {
    program_->platform.DestroyMainWindow();
  }
  int exit_code = ExitInstance();
  ShutdownDisplay(program_->platform, program_->display);
  return code != 0 ? code : exit_code;
}

void CMainFrame::OnCommand(int command) {
  switch (command) {
    case ID_APP_EXIT: OnExit(); break;
    case ID_APP_ABOUT: OnAbout(); break;
    case ID_START: OnStart(); break;
    case ID_SHOW_RESULT: ShowResults(app_.program()); break;
    case ID_REPORT: app_.program().platform.ShowReport(); break;
    default: break;
  }
}

void CMainFrame::OnLeftButtonDown() { OnStart(); }

void CMainFrame::OnKeyDown(int virtual_key) {
  if (virtual_key == VK_ESCAPE) RestoreMainWindow();
}

void CMainFrame::OnDestroy() {
  Program& p = app_.program();
  ShutdownDisplay(p.platform, p.display);
}

void CMainFrame::OnStart() {
  Program& p = app_.program();
  if (!PrepareRun(p)) return;
  p.platform.CreateExperimentWindow(p.touch_wnd);
  BindClipper(p.platform, p.display, WindowId::Experiment);
  int completed = RunSequence(p);
  WriteResultFiles(p, completed);
  BindClipper(p.platform, p.display, WindowId::Main);
  p.platform.DestroyExperimentWindow();
  RestoreMainWindow();
  ShowResults(p);
}

void CMainFrame::OnExit() { app_.program().platform.CloseMainWindow(); }

void CMainFrame::OnAbout() {
  app_.program().platform.ShowAboutBox({app_.version(), CurrentFolder(), app_.guide_pages()});
}

void CMainFrame::RestoreMainWindow() { app_.program().platform.RestoreMainWindow(); }

}  // namespace pyokoran
