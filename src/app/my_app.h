// The application object and the main window: start-up, the four menu commands, the Start
// pipeline that carries one run from the condition dialog to the ranking, and shutdown.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/platform.h"

namespace pyokoran {

// Title of the main window and base name of the settings and summary files.
inline constexpr const char* kProgramName = "ピョコラン";
// The line shown centred in the main window.
inline constexpr const char* kCaptionLine = "ピョコラン / ピョコラン開発チーム 2026";

// The message of a second copy started for a working folder already open on this computer.
std::string AlreadyOpenMessage(const std::string& folder);

class CMyApp;

class CMainFrame : public MainWindowHandler {
 public:
  explicit CMainFrame(CMyApp& app) : app_(app) {}

  void OnCommand(int command) override;
  void OnLeftButtonDown() override;
  void OnKeyDown(int virtual_key) override;
  void OnDestroy() override;

  // Runs one whole run: dialog, experiment window, run, result files, ranking.
  void OnStart();
  void OnExit();
  void OnAbout();
  // Back to (0, 0) over the whole screen, topmost, repainted.
  void RestoreMainWindow();

 private:
  CMyApp& app_;
};

class CMyApp {
 public:
  // version: what the About box shows beside the credit; guide_pages: the guide's pages it
  // names (FindGuidePages).
  explicit CMyApp(Platform& platform, std::string version = {},
                  std::vector<std::string> guide_pages = {});

  // Start-up; nonzero on success. Called once before the message loop.
  int InitInstance();
  // Exit: stops the timer and writes the settings back. Called once after the loop (also
  // after a failed InitInstance).
  int ExitInstance();
  // InitInstance, the message loop, ExitInstance; the process's exit code.
  int Run();

  Program& program() { return *program_; }
  CMainFrame& main_frame() { return frame_; }
  ScreenSize screen() const { return screen_; }
  const std::string& version() const { return version_; }
  const std::vector<std::string>& guide_pages() const { return guide_pages_; }

 private:
  std::unique_ptr<Program> program_;
  CMainFrame frame_;
  ScreenSize screen_;
  std::string version_;
  std::vector<std::string> guide_pages_;
};

}  // namespace pyokoran
