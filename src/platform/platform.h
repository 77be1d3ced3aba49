// The services the program needs from the system: windows, modal dialogs, message boxes,
// event delivery, key state, pointer and touch, presenting frames, text drawing, the
// millisecond tick thread, sound and the clock. Everything else in the program reaches the
// system only through this interface. Two implementations: QtPlatform (platform/qt) for the
// real program and FakePlatform (platform/fake) for tests and headless tools.
//
// Unless a contract says otherwise, every operation is called on the user-interface thread.
// Text passed in and out is UTF-8, except where a contract names code page 932.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "timing/flip_times.h"

namespace pyokoran {

struct Surface;
class CSubject;

// Dialog results, as the program's dialogs end.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Main window commands (menu 101).
constexpr int ID_APP_EXIT = 40001;
constexpr int ID_APP_ABOUT = 40002;
constexpr int ID_START = 40005;
constexpr int ID_SHOW_RESULT = 40007;
constexpr int ID_REPORT = 40008;  // "Re&port", after Show&Result

// Virtual keys the program looks at.
constexpr int VK_RETURN = 0x0D;
constexpr int VK_ESCAPE = 0x1B;

enum class MessageIcon { None, Stop, Exclamation };

struct ScreenSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Left, top, right, bottom; right and bottom exclusive.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Which window frames are presented through.
enum class WindowId { Main, Experiment };

// Receives what happens to the main window. Called by the platform on the UI thread from
// RunMessageLoop, a modal loop or PumpEvents.
class MainWindowHandler {
 public:
  virtual ~MainWindowHandler() = default;
  virtual void OnCommand(int command) = 0;   // a menu command (ID_...)
  virtual void OnLeftButtonDown() = 0;       // a left click in the client area
  virtual void OnKeyDown(int virtual_key) = 0;
  virtual void OnDestroy() = 0;              // the window is being destroyed
};

enum class MouseButton { Left, Right };

// One touch contact as reported by the system, in physical screen pixels.
struct TouchContact {
  int32_t x = 0;
  int32_t y = 0;
  bool up = false;  // the contact lifted in this event
};

// Where the time of an input event came from: the system's own time of the event, mapped
// onto the tick clock, or the moment the event reached the program.
enum class EventTimeSource { Event, Arrival };

// Receives the experiment window's input. Positions are physical screen pixels, which are
// also the window's client coordinates. Called on the UI thread, only from PumpEvents or a
// modal loop.
class PointerHandler {
 public:
  virtual ~PointerHandler() = default;
  virtual void OnButtonDown(MouseButton button, int32_t x, int32_t y) = 0;
  virtual void OnButtonUp(MouseButton button) = 0;
  // left_held: the left button is down during the move.
  virtual void OnMouseMove(int32_t x, int32_t y, bool left_held) = 0;
  // All contacts of one touch event, in the order the system reported them.
  virtual void OnTouch(const std::vector<TouchContact>& contacts) = 0;
  virtual void OnActivate(bool active) = 0;
  virtual void OnCloseOrDestroy() = 0;
  // When the next event delivered happened, in microseconds on the tick clock: as close to
  // the input as the platform can tell, never later than the event reached the program;
  // source says whether that is the event's own time or its arrival. Called just before
  // each button and touch event by platforms that can tell.
  virtual void OnEventTime(int64_t tick_us, EventTimeSource source) {
    (void)tick_us;
    (void)source;
  }
};

// What the About box shows beside its fixed texts.
struct AboutBoxContent {
  std::string version;         // the program's version, shown beside the credit
  std::string working_folder;  // where the settings and result files are
  std::vector<std::string> guide_pages;  // the guide's HTML pages, Japanese first; may be empty
};

// What the result dialog (template 111) shows.
struct ResultDialogContent {
  std::vector<std::string> lines;  // in display order, already sorted as text: show unsorted
  std::string summary;             // the static text above the list
  int selected = 0;                // index into lines of the line to select
};

// How frames were presented during a run or a timing check. "locked": through OpenGL, the
// swap measured to wait for the display's refresh; "locked-forced": the same forced although
// the swaps did not wait (paced on the clock); "fallback": through the window's backing
// store, paced on the monotonic clock.
struct PresentationReport {
  std::string mode;               // "locked", "locked-forced" or "fallback"
  std::string reason;             // why this mode, in a few words
  double reported_hz = 0;         // the refresh rate the screen reports
  double refresh_hz = 0;          // the rate frames were locked or paced to
  bool refresh_locked = false;    // the swaps were measured to wait for the refresh
  int swap_samples = 0;           // swap intervals judged when the window opened
  int swap_warm_up = 0;           // intervals left out before them
  double swap_mean_ms = 0;        // their mean
  double swap_sd_ms = 0;          // and standard deviation
  double swap_median_ms = 0;      // median
  double swap_mad_ms = 0;         // median absolute deviation
  double swap_near_share = 0;     // share within 5% of one refresh
  int present_every = 1;          // each frame shown for this many refreshes
  double rise_ms = 0;             // how long a creature takes to rise at the frame rate
  std::string flip_source;        // where locked frame times come from
  int frames = 0;                 // frames presented
  int dropped = 0;                // more than 1.5 intervals after the previous frame
  double longest_interval_ms = 0;  // between frames that followed each other
  double lock_lost_ms = -1;       // tick-clock time the lock was lost; -1 = never
  int unlocked_frames = 0;        // frames presented after the lock was lost (paced)
  double tick_lag_ms = 0;         // the tick's largest lag behind the monotonic clock
  std::string tick_scheduling;    // how the tick thread was scheduled, in one line
  std::string event_clock;        // how input events' times were mapped, in a few words
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Screen and windows ---------------------------------------------------------------
  // Size of the primary screen in physical pixels.
  virtual ScreenSize GetScreenSize() = 0;
  // Creates and shows the main window "ピョコラン" at (0, 0) over the whole screen with
  // menu 101 and the black client area showing caption_line centred in white. Returns
  // false if no window could be made.
  virtual bool CreateMainWindow(const std::string& title, const std::string& caption_line,
                                MainWindowHandler& handler) = 0;
  // Main window back to (0, 0), screen-sized, on top, shown and repainted.
  virtual void RestoreMainWindow() = 0;
  // Closes the main window as its close box would: OnDestroy runs, the loop ends.
  virtual void CloseMainWindow() = 0;
  // Destroys the main window directly (start-up failed); OnDestroy runs.
  virtual void DestroyMainWindow() = 0;
  // Serves the main window until it is destroyed; returns the exit code.
  virtual int RunMessageLoop() = 0;
  // The caption-less experiment window over the whole screen, owned by the main window,
  // shown at once; its input goes to handler until it is destroyed.
  virtual bool CreateExperimentWindow(PointerHandler& handler) = 0;
  virtual void DestroyExperimentWindow() = 0;

  // --- Modal user interface -------------------------------------------------------------
  // A modal message box with one OK button, owned by the main window; returns when dismissed.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;
  // Claims the working folder for this copy of the program on this computer, before the main
  // window opens; held until the program ends. False when another copy on this computer has
  // it open: that copy is asked to come to the front.
  virtual bool ClaimWorkingFolder(const std::string& folder) {
    (void)folder;
    return true;
  }
  // This computer's name, as the timing files record it (UTF-8); "" when unknown.
  virtual std::string ComputerName() { return {}; }
  // The user's own folder for the program's data on this computer (never a shared one);
  // "" when there is none.
  virtual std::string UserDataFolder() { return {}; }
  // A modal message box with the buttons 再試行 (try again) and 中止 (give up), owned by the
  // main window; true for 再試行. Without one, the message is shown and the answer is no.
  virtual bool AskRetry(const std::string& text, const std::string& caption) {
    ShowMessage(text, caption, MessageIcon::Exclamation);
    return false;
  }
  // The About box (template 102), modal.
  virtual void ShowAboutBox(const AboutBoxContent& content) = 0;
  // The condition dialog (template 104): fills its controls from dialog.ToControls, and on
  // OK reads them back with dialog.FromControls, staying open (with the number message)
  // while a field fails. Returns IDOK or IDCANCEL.
  virtual int ShowConditionDialog(CSubject& dialog) = 0;
  // The result dialog (template 111), modal.
  virtual void ShowResultDialog(const ResultDialogContent& content) = 0;
  // The report window over the result files in the working folder, modal; nothing where
  // no report window exists.
  virtual void ShowReport() {}

  // --- Event delivery and keys -----------------------------------------------------------
  // Delivers every pending event of the UI thread to its handler, then returns. During a
  // run the experiment window's handlers run only here.
  virtual void PumpEvents() = 0;
  // Gives up the rest of the time slice (may wait briefly). Delivers no events.
  virtual void YieldSlice() = 0;
  // VK_ESCAPE or VK_RETURN: true when the key is down now or was pressed since the
  // previous query for that key. Delivers no events.
  virtual bool KeyActive(int virtual_key) = 0;

  // --- Display --------------------------------------------------------------------------
  // Prepares presenting. False when the display cannot be used (start-up then fails).
  virtual bool InitDisplay() = 0;
  // Frames are shown through this window from now on.
  virtual void BindPresentWindow(WindowId window) = 0;
  // Shows the stage surface stretched into stage_rect of the covering window, paced by the
  // display's refresh.
  virtual void Present(const Surface& stage, const Rect& stage_rect) = 0;
  // The same, told which areas of the stage (stage pixels) changed since the previous
  // present; the platform may then send only those. By default the whole stage is presented.
  virtual void PresentChanged(const Surface& stage, const Rect& stage_rect,
                              const std::vector<Rect>& changed) {
    (void)changed;
    Present(stage, stage_rect);
  }
  // One line of text in the proportional Japanese font, height pixels high, in colour
  // (COLORREF 0x00BBGGRR), centred both ways in rect of the surface; transparent background.
  virtual void DrawText(Surface& surface, const Rect& rect, const std::string& text,
                        int32_t height, uint32_t colour) = 0;
  // Releases what InitDisplay made; harmless when repeated.
  virtual void ShutdownDisplay() = 0;
  // When the last Present reached the screen (locked: the swap completed; fallback: the
  // flush was handed to the window system), in microseconds on the tick clock (the tick is
  // that figure / 1000, rounded down, while the tick thread keeps up). False when no tick
  // thread runs or the platform cannot tell.
  virtual bool LastPresentTickUs(int64_t& tick_us) {
    (void)tick_us;
    return false;
  }
  // How long the last Present took to hand its picture to the display system (the swap or
  // the flush, after any wait for the refresh), in microseconds. False where it cannot tell.
  virtual bool LastPresentSendUs(int64_t& send_us) {
    (void)send_us;
    return false;
  }
  // The last Present's time is the display system's own report of when its frame was shown,
  // where the platform has such a report without a completion to record (LastPresentCompletion
  // says so itself where it answers).
  virtual bool LastPresentStampReported() { return false; }
  // The last Present did not reach the screen (the window hidden, or drawing or sending the
  // picture failed): that frame is neither counted nor stamped.
  virtual bool LastPresentFailed() { return false; }
  // How the display system reported the last Present's completion (its UST, refresh counter
  // and whether it flipped), and whether that frame was dropped; false where it reported
  // nothing.
  virtual bool LastPresentCompletion(FrameCompletion& completion, bool& dropped) {
    (void)completion;
    (void)dropped;
    return false;
  }
  // The figures of the run that presented last (valid until the next run binds the
  // experiment window). False when the platform keeps none.
  virtual bool GetPresentationReport(PresentationReport& report) {
    (void)report;
    return false;
  }
  // Opens the full-screen window alone for at most five seconds, measures the swaps as a
  // run would, presents a changing pattern in the mode a run would use, and closes it.
  // False when no window could be shown.
  virtual bool RunPresentationCheck(PresentationReport& report) {
    (void)report;
    return false;
  }

  // --- Time -----------------------------------------------------------------------------
  // True when the clock that drives the tick can be queried at all.
  virtual bool TickClockAvailable() { return true; }
  // True when the clock that drives the tick resolves 1 ms or better.
  virtual bool TickClockHasMsResolution() = 0;
  // Starts the thread that adds one to tick every elapsed millisecond and then calls hook
  // (if not null) with the new value, on that thread. False if it could not start.
  virtual bool StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) = 0;
  // Stops and joins the tick thread; harmless when none runs.
  virtual void StopTickThread() = 0;
  // The tick clock now, in microseconds since the tick thread started: what the tick would
  // read (/ 1000) had its thread kept up. False when no tick thread runs or it cannot tell.
  virtual bool TickClockNowUs(int64_t& tick_us) {
    (void)tick_us;
    return false;
  }
  // Calendar time in seconds since 1970-01-01 00:00 UTC.
  virtual int64_t CurrentTime() = 0;

  // --- Sound ----------------------------------------------------------------------------
  // Starts playing a WAV file image asynchronously, cutting off any sound still playing.
  // Null or an unplayable image only stops the current sound. The image must stay alive
  // until the next call or StopSound.
  virtual void PlayWav(const std::vector<uint8_t>* wav) = 0;
};

}  // namespace pyokoran
