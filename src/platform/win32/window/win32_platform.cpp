#include "platform/win32/window/win32_platform.h"

#include <imm.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "analysis/html_report.h"
#include "analysis/report.h"
#include "app/message_text.h"
#include "app/program.h"
#include "app/working_folder.h"
#include "display/surface.h"
#include "platform/win32/window/pointer_input.h"
#include "platform/file_system.h"
#include "platform/tick_clock.h"
#include "platform/win32/window/wide_text.h"
#include "platform/win32/window/win32_dialogs.h"
#include "platform/win32/window/win32_display.h"
#include "platform/win32/window/win32_resources.h"
#include "platform/win32/window/win32_sound.h"
#include "platform/win32/window/win32_text.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"

namespace pyokoran {

// Pointer messages (Windows 8 and later), looked up at run time.
struct PointerApi {
  using EnableMouseFn = BOOL(WINAPI*)(BOOL);
  using InfoFn = BOOL(WINAPI*)(UINT32, POINTER_INFO*);
  using FrameFn = BOOL(WINAPI*)(UINT32, UINT32*, POINTER_INFO*);
  InfoFn info = nullptr;
  FrameFn frame = nullptr;
  bool mouse_in_pointer = false;  // the mouse reports as a pointer too

  PointerApi() {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    if (!user) return;
    info = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetPointerInfo")));
    frame = reinterpret_cast<FrameFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetPointerFrameInfo")));
    auto enable = reinterpret_cast<EnableMouseFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "EnableMouseInPointer")));
    // Once per process; under Wine it is refused.
    if (info && frame && enable) mouse_in_pointer = enable(TRUE) != FALSE;
  }
};

namespace {

// The report the Report command writes in the working folder (as --report does by default).
constexpr const char* kReportHtmlName = "ピョコラン_report.html";

const wchar_t* const kWindowClass = L"PyokoranWindow";
// The main window's property naming its working folder (a hash of its path).
const wchar_t* const kFolderProperty = L"PyokoranFolder";

// FNV-1a over the folder's path as the file system compares it (case aside).
uint64_t FolderHash(const std::string& folder) {
  std::wstring wide = Widen(folder);
  if (!wide.empty()) CharLowerBuffW(wide.data(), DWORD(wide.size()));
  uint64_t h = 1469598103934665603ull;
  for (wchar_t c : wide) {
    h ^= uint64_t(c);
    h *= 1099511628211ull;
  }
  return h | 1;  // never 0, which means none
}

struct FoundWindow {
  uint64_t hash;
  HWND window;
};

BOOL CALLBACK FindFolderWindow(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<FoundWindow*>(param);
  wchar_t name[64] = {};
  if (GetClassNameW(window, name, 64) > 0 && wcscmp(name, kWindowClass) == 0 &&
      reinterpret_cast<uintptr_t>(GetPropW(window, kFolderProperty)) == uintptr_t(found->hash)) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}
constexpr DWORD kMainStyle = WS_CAPTION | WS_SYSMENU;  // 0x00C80000: no sizing, no min/max box
constexpr DWORD kExperimentStyle = WS_POPUP | WS_VISIBLE;

// The platform of the UI thread, for the key message hook.
Win32Platform* g_platform = nullptr;

int64_t NowMs() { return int64_t(GetTickCount64()); }

// A mouse message the system made up from a touch or a pen: the pointer already reported it.
bool FromTouchOrPen() {
  constexpr LPARAM kSignatureMask = LPARAM(0xFFFFFF00);
  constexpr LPARAM kTouchOrPen = LPARAM(0xFF515700);  // MI_WP_SIGNATURE
  return (GetMessageExtraInfo() & kSignatureMask) == kTouchOrPen;
}

int32_t LowX(LPARAM lparam) { return int32_t(int16_t(LOWORD(lparam))); }
int32_t HighY(LPARAM lparam) { return int32_t(int16_t(HIWORD(lparam))); }

PointerSample SampleOf(HWND window, const POINTER_INFO& info) {
  PointerSample p;
  p.kind = info.pointerType == PT_TOUCH ? PointerSample::Kind::Touch
           : info.pointerType == PT_PEN ? PointerSample::Kind::Pen
                                        : PointerSample::Kind::Mouse;
  POINT at = info.ptPixelLocation;
  ScreenToClient(window, &at);
  p.x = at.x;
  p.y = at.y;
  p.in_contact = (info.pointerFlags & POINTER_FLAG_INCONTACT) != 0;
  p.up = (info.pointerFlags & POINTER_FLAG_UP) != 0;
  p.canceled = (info.pointerFlags & POINTER_FLAG_CANCELED) != 0;
  p.first_button = (info.pointerFlags & POINTER_FLAG_FIRSTBUTTON) != 0;
  switch (info.ButtonChangeType) {
    case POINTER_CHANGE_NONE: p.change = ButtonChange::None; break;
    case POINTER_CHANGE_FIRSTBUTTON_DOWN: p.change = ButtonChange::FirstDown; break;
    case POINTER_CHANGE_FIRSTBUTTON_UP: p.change = ButtonChange::FirstUp; break;
    case POINTER_CHANGE_SECONDBUTTON_DOWN: p.change = ButtonChange::SecondDown; break;
    case POINTER_CHANGE_SECONDBUTTON_UP: p.change = ButtonChange::SecondUp; break;
    default: p.change = ButtonChange::Other; break;
  }
  p.performance_count = uint64_t(info.PerformanceCount);
  return p;
}


// The largest centred 4:3 rectangle of a w x h screen, as a run fits its stage.
Rect StageRectOf(int32_t w, int32_t h) {
  Rect rect{0, 0, w, h};
  if (int64_t(w) * 3 > int64_t(h) * 4) {
    const int32_t scaled = int32_t(std::lround(1024.0 * h / 768.0));
    rect = {(w - scaled) / 2, 0, (w - scaled) / 2 + scaled, h};
  } else if (int64_t(w) * 3 < int64_t(h) * 4) {
    const int32_t scaled = int32_t(std::lround(768.0 * w / 1024.0));
    rect = {0, (h - scaled) / 2, w, (h - scaled) / 2 + scaled};
  }
  return rect;
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance)
    : instance_(instance),
      pointer_api_(std::make_unique<PointerApi>()),
      display_(std::make_unique<Win32Display>()),
      text_(std::make_unique<GdiText>()),
      sound_(std::make_unique<Win32Sound>()) {
  g_platform = this;
  key_hook_ = SetWindowsHookExW(WH_GETMESSAGE, KeyMessageHook, nullptr, GetCurrentThreadId());
  touch_ready_ = (GetSystemMetrics(SM_DIGITIZER) & NID_READY) != 0;
}

Win32Platform::~Win32Platform() {
  if (folder_mutex_) CloseHandle(folder_mutex_);
  tick_thread_.Stop();
  sound_->Stop();
  if (experiment_) DestroyExperimentWindow();
  if (main_ && !main_destroyed_) {
    DestroyWindow(main_);
    // Its end is no message for whatever the thread runs next.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  display_->Shutdown();
  if (caption_font_) DeleteObject(caption_font_);
  if (key_hook_) UnhookWindowsHookEx(key_hook_);
  if (g_platform == this) g_platform = nullptr;
}

bool Win32Platform::pointer_messages() const { return pointer_api_->mouse_in_pointer; }

LRESULT CALLBACK Win32Platform::KeyMessageHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && wparam == PM_REMOVE && g_platform) {
    MSG* msg = reinterpret_cast<MSG*>(lparam);
    const UINT m = msg->message;
    const bool press = m == WM_KEYDOWN || m == WM_SYSKEYDOWN;
    if (press || m == WM_KEYUP || m == WM_SYSKEYUP) {
      const bool repeat = press && (msg->lParam & (LPARAM(1) << 30)) != 0;
      if (g_platform->keys_.OnKeyMessage(int(msg->wParam), press, repeat, NowMs())) {
        msg->message = WM_NULL;  // kept from every window
      }
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

bool Win32Platform::RegisterWindowClass() {
  if (class_registered_) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance_;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  // The program's icon, in the sizes the title bar, the taskbar and Alt+Tab ask for.
  wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PYOKORAN), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PYOKORAN), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kWindowClass;
  class_registered_ = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return class_registered_;
}

LRESULT CALLBACK Win32Platform::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  if (window == self->main_) return self->MainMessage(message, wparam, lparam);
  return self->ExperimentMessage(window, message, wparam, lparam);
}

// --- Screen and windows ---------------------------------------------------------------------

ScreenSize Win32Platform::GetScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool Win32Platform::CreateMainWindow(const std::string& title, const std::string& caption_line,
                                     MainWindowHandler& handler) {
  if (!RegisterWindowClass()) return false;
  main_handler_ = &handler;
  caption_line_ = Widen(caption_line);
  const ScreenSize screen = GetScreenSize();
  HMENU menu = LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME));
  main_ = CreateWindowExW(0, kWindowClass, Widen(title).c_str(), kMainStyle, 0, 0, screen.width,
                          screen.height, nullptr, menu, instance_, this);
  if (!main_) {
    if (menu) DestroyMenu(menu);
    return false;
  }
  main_destroyed_ = false;
  if (folder_hash_ != 0) {
    SetPropW(main_, kFolderProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(folder_hash_)));
  }
  ShowWindow(main_, SW_SHOW);
  UpdateWindow(main_);
  SetForegroundWindow(main_);
  return true;
}

void Win32Platform::RestoreMainWindow() {
  if (!main_ || main_destroyed_) return;
  const ScreenSize screen = GetScreenSize();
  SetWindowPos(main_, HWND_TOPMOST, 0, 0, screen.width, screen.height,
               SWP_SHOWWINDOW | SWP_FRAMECHANGED);
  InvalidateRect(main_, nullptr, TRUE);
  SetForegroundWindow(main_);
}

void Win32Platform::CloseMainWindow() {
  if (main_ && !main_destroyed_) SendMessageW(main_, WM_CLOSE, 0, 0);
}

void Win32Platform::DestroyMainWindow() {
  if (main_ && !main_destroyed_) DestroyWindow(main_);
}

int Win32Platform::RunMessageLoop() {
  if (!main_ || main_destroyed_) return 0;
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return int(msg.wParam);
}

void Win32Platform::PaintMain() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(main_, &paint);
  if (!dc) return;
  if (!caption_font_) {
    // The system's message font, in a face that has the caption's glyphs.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTW lf{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
      lf = metrics.lfMessageFont;
    } else {
      lf.lfHeight = -16;
    }
    const std::wstring face = JapaneseFace(L"MS UI Gothic");
    if (!face.empty() && !FaceHasGlyphs(lf.lfFaceName)) {
      face.copy(lf.lfFaceName, LF_FACESIZE - 1);
      lf.lfFaceName[std::min(face.size(), size_t(LF_FACESIZE - 1))] = L'\0';
    }
    caption_font_ = CreateFontIndirectW(&lf);
  }
  RECT client{};
  GetClientRect(main_, &client);
  HGDIOBJ old = caption_font_ ? SelectObject(dc, caption_font_) : nullptr;
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, caption_line_.c_str(), int(caption_line_.size()), &client,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (old) SelectObject(dc, old);
  EndPaint(main_, &paint);
}

LRESULT Win32Platform::MainMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      PaintMain();
      return 0;
    case WM_COMMAND:
      // Menu commands only; none while a run holds the screen.
      if (HIWORD(wparam) == 0 && lparam == 0 && !run_under_way_ && main_handler_) {
        main_handler_->OnCommand(LOWORD(wparam));
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
      if (!run_under_way_ && main_handler_) main_handler_->OnLeftButtonDown();
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_ESCAPE) {
        if (!run_under_way_ && main_handler_) main_handler_->OnKeyDown(VK_ESCAPE);
        return 0;
      }
      break;
    case WM_CLOSE:
      // Every way of closing ends the program as Exit does, except during a run or while a
      // modal window is open.
      if (run_under_way_ || modal_depth_ > 0 || !IsWindowEnabled(main_)) return 0;
      DestroyWindow(main_);
      return 0;
    case WM_DESTROY:
      main_destroyed_ = true;
      if (main_handler_) main_handler_->OnDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_ACTIVATEAPP:
      if (!wparam) keys_.FocusLost();
      break;
    default: break;
  }
  return DefWindowProcW(main_, message, wparam, lparam);
}

HWND Win32Platform::MakeExperimentWindow() {
  const ScreenSize screen = GetScreenSize();
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kWindowClass, L"Experiment Window", kExperimentStyle,
                                0, 0, screen.width, screen.height, main_, nullptr, instance_, this);
  if (!window) return nullptr;
  // Keys are polled, not typed: no input method there.
  ImmAssociateContextEx(window, nullptr, 0);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, screen.width, screen.height, SWP_SHOWWINDOW);
  UpdateWindow(window);
  SetForegroundWindow(window);
  SetFocus(window);
  return window;
}

bool Win32Platform::CreateExperimentWindow(PointerHandler& handler) {
  if (!RegisterWindowClass()) return false;
  if (main_) {
    // The input method off for the main window, as the run begins.
    if (HIMC context = ImmGetContext(main_)) {
      ImmSetOpenStatus(context, FALSE);
      ImmReleaseContext(main_, context);
    }
  }
  pointer_handler_ = &handler;
  held_.clear();
  run_under_way_ = true;
  touch_registered_ = false;
  experiment_ = MakeExperimentWindow();
  if (!experiment_) {
    pointer_handler_ = nullptr;
    run_under_way_ = false;
    return false;
  }
  // No screen saver or display sleep while the participant works.
  SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
  presses_timed_ = presses_arrival_ = 0;
  return true;
}

HWND Win32Platform::RemakeExperimentWindow() {
  if (!experiment_) return nullptr;
  HWND old = experiment_;
  experiment_ = nullptr;
  HWND fresh = MakeExperimentWindow();
  if (!fresh) {
    experiment_ = old;
    return nullptr;
  }
  experiment_ = fresh;
  remaking_ = true;
  DestroyWindow(old);
  remaking_ = false;
  touch_registered_ = false;
  return fresh;
}

void Win32Platform::DestroyExperimentWindow() {
  if (!experiment_) return;
  display_->Forget(experiment_);
  HWND window = experiment_;
  DestroyWindow(window);
  experiment_ = nullptr;
  pointer_handler_ = nullptr;
  held_.clear();
  run_under_way_ = false;
  touch_registered_ = false;
  yield_wait_.reset();
  SetThreadExecutionState(ES_CONTINUOUS);
}

void Win32Platform::ToPointer(std::function<void(PointerHandler&)> call) {
  if (!pointer_handler_) return;
  if (in_pump_ || modal_depth_ > 0) {
    call(*pointer_handler_);
  } else {
    held_.push_back(std::move(call));
  }
}

bool Win32Platform::ArrivalUs(int64_t& tick_us, uint64_t& counter) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  counter = uint64_t(now.QuadPart);
  return tick_thread_.TickClockUs(TickThread::MonotonicNs(), tick_us);
}

bool Win32Platform::HandlePointer(HWND window, UINT message, WPARAM wparam) {
  if (!pointer_api_->info) return false;
  const UINT32 id = GET_POINTERID_WPARAM(wparam);
  POINTER_INFO info{};
  if (!pointer_api_->info(id, &info)) return false;
  std::vector<PointerSample> frame;
  size_t index = 0;
  if (info.pointerType == PT_TOUCH && pointer_api_->frame) {
    // All contacts that changed together, so that each touch event holds every finger down.
    UINT32 count = 0;
    if (pointer_api_->frame(id, &count, nullptr) && count > 0 && count < 256) {
      std::vector<POINTER_INFO> infos(count);
      if (pointer_api_->frame(id, &count, infos.data())) {
        for (UINT32 i = 0; i < count; ++i) {
          if (infos[i].pointerId == id) index = frame.size();
          frame.push_back(SampleOf(window, infos[i]));
        }
      }
    }
  }
  if (frame.empty()) frame.push_back(SampleOf(window, info));

  int64_t arrival_us = 0;
  uint64_t counter = 0;
  const bool has_time = ArrivalUs(arrival_us, counter);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  bool mapped = false;
  const int64_t time_us = has_time ? PressTimeUs(frame[index].performance_count, counter,
                                                 frequency.QuadPart, arrival_us, &mapped)
                                   : 0;
  const bool begins = message == WM_POINTERDOWN ||
                      frame[index].change == ButtonChange::FirstDown ||
                      frame[index].change == ButtonChange::SecondDown;
  if (begins && has_time) ++(mapped ? presses_timed_ : presses_arrival_);
  const EventTimeSource source = mapped ? EventTimeSource::Event : EventTimeSource::Arrival;
  ToPointer([frame = std::move(frame), index, has_time, time_us, source](PointerHandler& h) {
    DeliverPointerMessage(frame, index, h, has_time, time_us, source);
  });
  return true;
}

bool Win32Platform::HandleTouch(HWND window, WPARAM wparam, LPARAM lparam) {
  const UINT count = LOWORD(wparam);
  HTOUCHINPUT handle = reinterpret_cast<HTOUCHINPUT>(lparam);
  std::vector<TOUCHINPUT> inputs(count);
  const bool read = count > 0 && GetTouchInputInfo(handle, count, inputs.data(), sizeof(TOUCHINPUT));
  std::vector<TouchInputSample> samples;
  if (read) {
    for (const TOUCHINPUT& in : inputs) {
      samples.push_back({int32_t(in.x), int32_t(in.y), (in.dwFlags & TOUCHEVENTF_UP) != 0});
    }
    CloseTouchInputHandle(handle);
  }
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  // Unread inputs leave the positions as they were (an event without contacts).
  std::vector<TouchContact> contacts = read ? TouchContactsOf(samples, origin.x, origin.y)
                                            : std::vector<TouchContact>{};
  int64_t arrival_us = 0;
  uint64_t counter = 0;
  const bool has_time = ArrivalUs(arrival_us, counter);
  ToPointer([contacts = std::move(contacts), has_time, arrival_us](PointerHandler& h) {
    if (has_time) h.OnEventTime(arrival_us, EventTimeSource::Arrival);
    h.OnTouch(contacts);
  });
  return read;
}

LRESULT Win32Platform::ExperimentMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const bool ours = window == experiment_;
  auto button = [&](MouseButton b, bool down) {
    if (!ours || pointer_messages() || FromTouchOrPen()) return;
    int64_t arrival_us = 0;
    uint64_t counter = 0;
    const bool has_time = ArrivalUs(arrival_us, counter);
    if (down && has_time) ++presses_arrival_;
    const int32_t x = LowX(lparam), y = HighY(lparam);
    ToPointer([=](PointerHandler& h) {
      if (has_time) h.OnEventTime(arrival_us, EventTimeSource::Arrival);
      if (down) {
        h.OnButtonDown(b, x, y);
      } else {
        h.OnButtonUp(b);
      }
    });
  };
  switch (message) {
    case WM_PAINT:
      display_->Repaint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painted whole by WM_PAINT
    case WM_POINTERDOWN:
    case WM_POINTERUPDATE:
    case WM_POINTERUP:
      if (ours && HandlePointer(window, message, wparam)) return 0;
      break;
    case WM_TOUCH:
      if (ours) return HandleTouch(window, wparam, lparam) ? 0 : -1;
      break;
    case WM_LBUTTONDOWN: button(MouseButton::Left, true); return 0;
    case WM_RBUTTONDOWN: button(MouseButton::Right, true); return 0;
    case WM_LBUTTONUP: button(MouseButton::Left, false); return 0;
    case WM_RBUTTONUP: button(MouseButton::Right, false); return 0;
    case WM_MOUSEMOVE:
      if (ours && !pointer_messages() && !FromTouchOrPen()) {
        const int32_t x = LowX(lparam), y = HighY(lparam);
        const bool left = (wparam & MK_LBUTTON) != 0;
        ToPointer([=](PointerHandler& h) { h.OnMouseMove(x, y, left); });
      }
      return 0;
    case WM_ACTIVATE: {
      const bool active = LOWORD(wparam) != WA_INACTIVE;
      // Touch messages follow activation where pointer messages are not had.
      if (ours && touch_ready_ && !pointer_api_->info) {
        if (active && !touch_registered_) touch_registered_ = RegisterTouchWindow(window, 0) != FALSE;
        if (!active && touch_registered_) {
          UnregisterTouchWindow(window);
          touch_registered_ = false;
        }
      }
      if (ours) ToPointer([active](PointerHandler& h) { h.OnActivate(active); });
      break;
    }
    case WM_ACTIVATEAPP:
      if (!wparam) keys_.FocusLost();
      break;
    case WM_SYSCOMMAND:
      // No screen saver or display sleep during a run.
      if ((wparam & 0xFFF0) == SC_SCREENSAVE || (wparam & 0xFFF0) == SC_MONITORPOWER) return 0;
      break;
    case WM_CLOSE:
      // A run ends with its time limit or Escape: the window stays, its press is let go.
      if (ours) ToPointer([](PointerHandler& h) { h.OnCloseOrDestroy(); });
      return 0;
    case WM_DESTROY:
      if (ours && !remaking_ && pointer_handler_) pointer_handler_->OnCloseOrDestroy();
      return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// --- Modal user interface -------------------------------------------------------------------

HWND Win32Platform::Owner() const {
  if (experiment_ && IsWindow(experiment_)) return experiment_;
  return main_ && !main_destroyed_ ? main_ : nullptr;
}

template <class F>
auto Win32Platform::Modal(F&& show) -> decltype(show()) {
  ++modal_depth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{modal_depth_};
  return show();
}

void Win32Platform::ShowMessage(const std::string& text, const std::string& caption,
                                MessageIcon icon) {
  Modal([&] { RunMessageBox(Owner(), text, caption, icon); });
}

bool Win32Platform::AskRetry(const std::string& text, const std::string& caption) {
  return Modal([&] { return RunRetryBox(Owner(), text, caption); });
}

std::string Win32Platform::UserDataFolder() { return LocalDataFolder(); }

std::string Win32Platform::ComputerName() { return ::pyokoran::ComputerName(); }

bool Win32Platform::ClaimWorkingFolder(const std::string& folder) {
  const uint64_t hash = FolderHash(folder);
  wchar_t name[64];
  swprintf(name, 64, L"Local\\pyokoran-%016llx", static_cast<unsigned long long>(hash));
  folder_mutex_ = CreateMutexW(nullptr, FALSE, name);
  if (folder_mutex_ && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(folder_mutex_);
    folder_mutex_ = nullptr;
    FoundWindow found{hash, nullptr};
    EnumWindows(FindFolderWindow, reinterpret_cast<LPARAM>(&found));
    if (found.window) {
      if (IsIconic(found.window)) ShowWindow(found.window, SW_RESTORE);
      SetForegroundWindow(found.window);
    }
    return false;
  }
  folder_hash_ = hash;
  return true;
}

void Win32Platform::ShowAboutBox(const AboutBoxContent& content) {
  Modal([&] { RunAboutBox(instance_, Owner(), content); });
}

int Win32Platform::ShowConditionDialog(CSubject& dialog) {
  return Modal([&] { return RunConditionDialog(instance_, Owner(), dialog); });
}

void Win32Platform::ShowResultDialog(const ResultDialogContent& content) {
  Modal([&] { RunResultDialog(instance_, Owner(), content); });
}

// The report over the working folder as one HTML file beside the result files, opened in the
// default browser. A file of that name that this program did not write as a report is left
// alone.
void Win32Platform::ShowReport() {
  const std::string folder = CurrentFolder();
  if (folder.empty()) {
    ShowMessage("作業フォルダーの場所が分からないため、レポートを作れませんでした。", kApplicationTitle,
                MessageIcon::Exclamation);
    return;
  }
  Report report;
  std::string error;
  if (!BuildReport(folder, {}, report, error)) {
    ShowMessage(NamingFile("次の作業フォルダーの結果からレポートを作れませんでした。", folder, error),
                kApplicationTitle, MessageIcon::Exclamation);
    return;
  }
  const std::string path = folder + "\\" + kReportHtmlName;
  if (KindOfPath(path, false) != PathKind::kMissing && !IsHtmlReport(path)) {
    ShowMessage(NamingFile("次のファイルはこのプログラムが書いたレポートではないため、上書きしませんでした。", path,
                           "そのファイルの名前を変えるか別の場所へ移してから、もう一度レポートを作ってください。"),
                kApplicationTitle, MessageIcon::Exclamation);
    return;
  }
  if (!WriteReportHtml(report, path, error)) {
    ShowMessage(NamingFile("次のレポートを書けませんでした。", path, error), kApplicationTitle,
                MessageIcon::Exclamation);
    return;
  }
  const HINSTANCE opened =
      ShellExecuteW(main_, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(opened) <= 32) {
    ShowMessage(NamingFile("次のレポートを書きましたが、ブラウザーで開けませんでした。", path,
                           "このファイルをブラウザーで開いてください。"),
                kApplicationTitle, MessageIcon::None);
  }
}

// --- Event delivery and keys ----------------------------------------------------------------

void Win32Platform::PumpEvents() {
  in_pump_ = true;
  while (!held_.empty()) {
    std::function<void(PointerHandler&)> call = std::move(held_.front());
    held_.pop_front();
    if (pointer_handler_) call(*pointer_handler_);
  }
  // What was queued when the pump began, and what comes meanwhile, up to a bound: a window
  // that keeps asking to be painted cannot hold the run here.
  MSG msg;
  for (int n = 0; n < 256 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  in_pump_ = false;
}

// About a millisecond, on a high-resolution timer: the system's default timer resolution
// would make it 15.6 ms. Events that arrive meanwhile wait for the next PumpEvents.
void Win32Platform::YieldSlice() {
  display_->NoteLoopPass();
  if (!yield_wait_) yield_wait_ = std::make_unique<DeadlineSleeper>();
  yield_wait_->SleepUntil(TickThread::MonotonicNs() + 1000000);
}

bool Win32Platform::KeyActive(int virtual_key) {
  if (virtual_key != VK_ESCAPE && virtual_key != VK_RETURN) return false;
  const SHORT state = GetAsyncKeyState(virtual_key);
  return keys_.Query(virtual_key, (state & 0x8000) != 0, (state & 1) != 0, NowMs());
}

// --- Display --------------------------------------------------------------------------------

bool Win32Platform::InitDisplay() { return display_->Init(); }

void Win32Platform::BindPresentWindow(WindowId window) {
  if (window == WindowId::Experiment && experiment_) {
    display_->Bind(experiment_, true, [this] { return RemakeExperimentWindow(); });
    presented_run_ = true;
    have_present_time_ = false;
    lock_lost_tick_us_ = -1;
  } else {
    display_->Bind(nullptr, false, {});
  }
}

void Win32Platform::NotePresentTime() {
  const int64_t ns = display_->last_present_ns();
  have_present_time_ = ns != 0 && tick_thread_.TickClockUs(ns, present_tick_us_);
  const int64_t lost_ns = display_->lock_lost_ns();
  if (lost_ns != 0 && lock_lost_tick_us_ < 0 && !tick_thread_.TickClockUs(lost_ns, lock_lost_tick_us_)) {
    lock_lost_tick_us_ = 0;  // before the tick clock ran
  }
}

void Win32Platform::Present(const Surface& stage, const Rect& stage_rect) {
  display_->Present(stage, stage_rect);
  NotePresentTime();
}

void Win32Platform::PresentChanged(const Surface& stage, const Rect& stage_rect,
                                   const std::vector<Rect>& changed) {
  display_->Present(stage, stage_rect, &changed);
  NotePresentTime();
}

bool Win32Platform::LastPresentTickUs(int64_t& tick_us) {
  if (!have_present_time_) return false;
  tick_us = present_tick_us_;
  return true;
}

bool Win32Platform::LastPresentSendUs(int64_t& send_us) {
  if (display_->last_present_ns() == 0 || display_->last_send_ns() <= 0) return false;
  send_us = display_->last_send_ns() / 1000;
  return true;
}

bool Win32Platform::LastPresentFailed() { return presented_run_ && display_->last_present_ns() == 0; }

bool Win32Platform::LastPresentStampReported() {
  return display_->last_present_ns() != 0 && display_->last_stamp_reported();
}

bool Win32Platform::GetPresentationReport(PresentationReport& report) {
  if (!presented_run_) return false;
  report = display_->Report();
  report.tick_lag_ms = double(tick_thread_.largest_lag_ns()) / 1e6;
  report.tick_scheduling = DescribeTickScheduling(tick_thread_.scheduling());
  if (report.lock_lost_ms >= 0) report.lock_lost_ms = double(std::max<int64_t>(lock_lost_tick_us_, 0)) / 1000.0;
  const int presses = presses_timed_ + presses_arrival_;
  if (presses_timed_ > 0) {
    report.event_clock = "pointer input's own time on the performance counter (" +
                         std::to_string(presses_timed_) + " of " + std::to_string(presses) +
                         " presses), else its arrival";
  } else {
    report.event_clock = pointer_messages() ? "arrival (pointer input gave no time of its own)"
                                            : "arrival (no pointer input: mouse and WM_TOUCH messages)";
  }
  return true;
}

void Win32Platform::DrawText(Surface& surface, const Rect& rect, const std::string& text,
                             int32_t height, uint32_t colour) {
  text_->Draw(surface, rect, text, height, colour);
}

void Win32Platform::ShutdownDisplay() { display_->Shutdown(); }

bool Win32Platform::RunPresentationCheck(PresentationReport& report) {
  const int64_t start = TickThread::MonotonicNs();
  const ScreenSize screen = GetScreenSize();
  if (screen.width <= 0 || screen.height <= 0 || !RegisterWindowClass() || !display_->Init()) return false;

  NoPointer no_pointer;
  pointer_handler_ = &no_pointer;
  run_under_way_ = true;
  experiment_ = MakeExperimentWindow();
  if (!experiment_) {
    pointer_handler_ = nullptr;
    run_under_way_ = false;
    return false;
  }
  PumpEvents();
  display_->Bind(experiment_, true, [this] { return RemakeExperimentWindow(); });

  // The tick runs beside the frames, as in a run.
  std::atomic<int32_t> tick{0};
  TickThread ticks;
  const bool ticking = ticks.Start(tick, nullptr);
  tick = 0;
  Surface stage(1024, 768);
  const Rect rect = StageRectOf(screen.width, screen.height);
  for (int frame = 0; TickThread::MonotonicNs() - start < 4500000000LL; ++frame) {
    DrawCheckPattern(stage, frame);
    display_->Present(stage, rect);
    display_->NoteLoopPass();
    PumpEvents();
  }
  report = display_->Report();
  report.event_clock = pointer_messages() ? "pointer input's own time on the performance counter"
                                          : "arrival (no pointer input: mouse and WM_TOUCH messages)";
  if (report.lock_lost_ms >= 0 && display_->lock_lost_ns() != 0) {
    int64_t lost_us = 0;
    report.lock_lost_ms = ticking && ticks.TickClockUs(display_->lock_lost_ns(), lost_us)
                              ? double(std::max<int64_t>(lost_us, 0)) / 1000.0
                              : 0.0;
  }
  ticks.Stop();
  report.tick_lag_ms = ticking ? double(ticks.largest_lag_ns()) / 1e6 : 1e9;
  report.tick_scheduling = ticking ? DescribeTickScheduling(ticks.scheduling()) : "tick thread: not started";
  display_->Bind(nullptr, false, {});
  DestroyExperimentWindow();
  return true;
}

// --- Time -----------------------------------------------------------------------------------

bool Win32Platform::TickClockAvailable() { return TickThread::ClockAvailable(); }
bool Win32Platform::TickClockHasMsResolution() { return TickThread::ClockHasMsResolution(); }

bool Win32Platform::StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  if (!tick_thread_.Start(tick, hook)) return false;
  // At every run, so a log of the session shows how steady its clock could be.
  std::fprintf(stderr, "pyokoran: %s\n", DescribeTickScheduling(tick_thread_.scheduling()).c_str());
  std::fflush(stderr);
  return true;
}

void Win32Platform::StopTickThread() { tick_thread_.Stop(); }

bool Win32Platform::TickClockNowUs(int64_t& tick_us) {
  return tick_thread_.TickClockUs(TickThread::MonotonicNs(), tick_us);
}

int64_t Win32Platform::CurrentTime() { return int64_t(std::time(nullptr)); }

// --- Sound ----------------------------------------------------------------------------------

void Win32Platform::PlayWav(const std::vector<uint8_t>* wav) { sound_->Play(wav); }

}  // namespace pyokoran
