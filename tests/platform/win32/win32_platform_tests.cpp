// The Win32 platform on a real (or Wine's) window system: window messages reach the handlers
// only in PumpEvents, key messages count once, a presented frame reaches the window, text
// is drawn with Japanese glyphs, and the dialogs fill and read their controls.
#include "platform/win32/window/win32_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <functional>
#include <string>
#include <vector>

#include "display/surface.h"
#include "platform/win32/window/wide_text.h"
#include "platform/win32/window/win32_display.h"
#include "platform/win32/window/win32_program.h"
#include "platform/win32/window/win32_resources.h"
#include "platform/win32/window/win32_sound.h"
#include "platform/win32/window/win32_text.h"
#include "settings/condition_dialog.h"

namespace pyokoran {
namespace {

class MainRecorder : public MainWindowHandler {
 public:
  std::vector<std::string> calls;
  void OnCommand(int command) override { calls.push_back("command " + std::to_string(command)); }
  void OnLeftButtonDown() override { calls.push_back("click"); }
  void OnKeyDown(int key) override { calls.push_back("key " + std::to_string(key)); }
  void OnDestroy() override { calls.push_back("destroy"); }
};

class PointerRecorder : public PointerHandler {
 public:
  std::vector<std::string> calls;
  void OnButtonDown(MouseButton b, int32_t x, int32_t y) override {
    calls.push_back(std::string(b == MouseButton::Left ? "left" : "right") + " down " +
                    std::to_string(x) + "," + std::to_string(y));
  }
  void OnButtonUp(MouseButton) override { calls.push_back("up"); }
  void OnMouseMove(int32_t x, int32_t y, bool) override {
    calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
  }
  void OnTouch(const std::vector<TouchContact>&) override { calls.push_back("touch"); }
  void OnActivate(bool active) override { calls.push_back(active ? "active" : "inactive"); }
  void OnCloseOrDestroy() override { calls.push_back("close"); }
};

// Steps run one after the other from a timer while a modal window runs its own loop: a step
// that answers false is tried again at the next tick. Whatever is still open after the
// steps (or after ten seconds) is cancelled, so that a failing test never hangs.
class WhileModal {
 public:
  explicit WhileModal(std::vector<std::function<bool()>> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 30, Tick);
    started_ = GetTickCount64();
  }
  ~WhileModal() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  bool done() const { return next_ == steps_.size(); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    WhileModal* self = current_;
    if (!self || self->busy_) return;
    self->busy_ = true;
    if (!self->done() && self->steps_[self->next_]()) ++self->next_;
    if (GetTickCount64() - self->started_ > 10000) {
      // Give up: close every dialog of this thread.
      EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(w, name, 16);
        if (std::wstring(name) == L"#32770") PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
      }, 0);
    }
    self->busy_ = false;
  }

  static inline WhileModal* current_ = nullptr;
  std::vector<std::function<bool()>> steps_;
  size_t next_ = 0;
  UINT_PTR timer_ = 0;
  ULONGLONG started_ = 0;
  bool busy_ = false;
};

// The dialog of this thread with this caption, if shown.
HWND Dialog(const wchar_t* caption) {
  HWND found = FindWindowW(L"#32770", caption);
  return found && IsWindowVisible(found) ? found : nullptr;
}

std::string ItemText(HWND dialog, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, id, text, 256);
  return Narrow(text);
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform.CreateMainWindow("ピョコラン", "ピョコラン / test", main));
    ASSERT_TRUE(platform.InitDisplay());
    platform.PumpEvents();
  }
  void TearDown() override {
    platform.DestroyExperimentWindow();
    _putenv("PYOKORAN_PRESENT=");
  }
  // Opens the experiment window and delivers what its opening sends.
  void OpenRun() {
    ASSERT_TRUE(platform.CreateExperimentWindow(pointer));
    platform.PumpEvents();
    pointer.calls.clear();
  }

  Win32Platform platform{GetModuleHandleW(nullptr)};
  MainRecorder main;
  PointerRecorder pointer;
};

TEST_F(Win32PlatformTest, WindowMessagesReachTheHandlersOnlyInPumpEvents) {
  OpenRun();
  HWND window = platform.experiment_window();
  // Sent while the program is not pumping: held. Posted: stays queued.
  SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
  SendMessageW(window, WM_CLOSE, 0, 0);
  if (!platform.pointer_messages()) PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 200));
  platform.KeyActive(VK_ESCAPE);
  platform.KeyActive(VK_RETURN);
  platform.YieldSlice();
  Surface stage(1024, 768);
  platform.Present(stage, {0, 0, 1024, 768});
  EXPECT_TRUE(pointer.calls.empty()) << pointer.calls.front();

  platform.PumpEvents();
  std::vector<std::string> expected = {"inactive", "close"};
  if (!platform.pointer_messages()) expected.push_back("left down 100,200");
  EXPECT_EQ(pointer.calls, expected);
  // A close request during a run leaves the window: the run ends by its time or Escape.
  EXPECT_TRUE(IsWindow(platform.experiment_window()));
}

TEST_F(Win32PlatformTest, TheMainWindowTakesNoCommandDuringARun) {
  OpenRun();
  PostMessageW(platform.main_window(), WM_COMMAND, IDM_START, 0);
  PostMessageW(platform.main_window(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(platform.main_window(), WM_CLOSE, 0, 0);
  platform.PumpEvents();
  EXPECT_TRUE(main.calls.empty());
  platform.DestroyExperimentWindow();
  PostMessageW(platform.main_window(), WM_COMMAND, IDM_SHOW_RESULT, 0);
  platform.PumpEvents();
  EXPECT_EQ(main.calls, std::vector<std::string>{"command 40007"});
}

TEST_F(Win32PlatformTest, AKeyStrokeDeliveredByThePumpCountsOnce) {
  OpenRun();
  HWND window = platform.experiment_window();
  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_FALSE(platform.KeyActive(VK_ESCAPE));  // not yet retrieved
  platform.PumpEvents();
  EXPECT_TRUE(platform.KeyActive(VK_ESCAPE));
  EXPECT_FALSE(platform.KeyActive(VK_ESCAPE));
  EXPECT_FALSE(platform.KeyActive(VK_RETURN));
  // An auto-repeat is no new stroke.
  PostMessageW(window, WM_KEYDOWN, VK_RETURN, LPARAM(1) | (LPARAM(1) << 30));
  platform.PumpEvents();
  EXPECT_FALSE(platform.KeyActive(VK_RETURN));
}

// The window's pixels, read back from the screen.
std::vector<uint32_t> ReadWindow(HWND window, int32_t w, int32_t h) {
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + size_t(w) * size_t(h));
  for (uint32_t& p : pixels) p &= 0x00FFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return pixels;
}

TEST_F(Win32PlatformTest, AFrameThroughGdiReachesTheWindowScaled) {
  _putenv("PYOKORAN_PRESENT=fallback");
  OpenRun();
  platform.BindPresentWindow(WindowId::Experiment);
  RECT client{};
  GetClientRect(platform.experiment_window(), &client);
  Surface stage(1024, 768);
  for (int32_t y = 0; y < 768; ++y) {
    for (int32_t x = 0; x < 1024; ++x) stage.row(y)[x] = uint32_t((x * 7) << 16 | (y * 3) << 8 | ((x + y) & 0xFF)) & 0x00FFFFFF;
  }
  const Rect rect{client.right / 8, 0, client.right / 8 + client.bottom * 4 / 3, client.bottom};
  platform.Present(stage, rect);
  // How long GDI took to take the picture is known; the time is this side's, not a report.
  int64_t send_us = -1;
  EXPECT_TRUE(platform.LastPresentSendUs(send_us));
  EXPECT_GE(send_us, 0);
  EXPECT_FALSE(platform.LastPresentFailed());
  EXPECT_FALSE(platform.LastPresentStampReported());
  // Then only a changed part.
  for (int32_t y = 300; y < 340; ++y) {
    for (int32_t x = 500; x < 560; ++x) stage.row(y)[x] = 0x00FF00;
  }
  platform.PresentChanged(stage, rect, {{480, 290, 600, 350}});
  const StagePicture& picture = platform.display().picture();
  ASSERT_EQ(picture.width(), client.right);
  const std::vector<uint32_t> shown = ReadWindow(platform.experiment_window(), client.right, client.bottom);
  size_t differing = 0;
  for (int32_t y = 0; y < client.bottom; ++y) {
    for (int32_t x = 0; x < client.right; ++x) {
      differing += shown[size_t(y) * size_t(client.right) + size_t(x)] != picture.row(y)[x];
    }
  }
  EXPECT_EQ(differing, 0u);
  for (const POINT at : {POINT{0, 0}, POINT{client.right / 2, client.bottom / 2}, POINT{rect.left + 10, 10}}) {
    EXPECT_EQ(shown[size_t(at.y) * size_t(client.right) + size_t(at.x)], picture.row(at.y)[at.x]) << at.x << "," << at.y;
  }
  // A present to a hidden window does not go out: neither stamped nor counted.
  ShowWindow(platform.experiment_window(), SW_HIDE);
  platform.Present(stage, rect);
  EXPECT_TRUE(platform.LastPresentFailed());
  EXPECT_FALSE(platform.LastPresentSendUs(send_us));
  int64_t tick_us = 0;
  EXPECT_FALSE(platform.LastPresentTickUs(tick_us));
  ShowWindow(platform.experiment_window(), SW_SHOW);
  PresentationReport report;
  ASSERT_TRUE(platform.GetPresentationReport(report));
  EXPECT_EQ(report.mode, "fallback");
  EXPECT_EQ(report.frames, 2);
  EXPECT_NE(report.flip_source.find("GDI"), std::string::npos);
}

TEST_F(Win32PlatformTest, AForcedLockPresentsThroughDirect3D) {
  _putenv("PYOKORAN_PRESENT=locked");
  OpenRun();
  platform.BindPresentWindow(WindowId::Experiment);
  PresentationReport report;
  ASSERT_TRUE(platform.GetPresentationReport(report));
  if (report.mode == "fallback") GTEST_SKIP() << "no Direct3D 11 here: " << report.reason;
  EXPECT_TRUE(report.mode == "locked" || report.mode == "locked-forced") << report.mode;
  Surface stage(1024, 768);
  platform.Present(stage, {0, 0, 1024, 768});
  platform.Present(stage, {0, 0, 1024, 768});
  int64_t send_us = -1;
  EXPECT_TRUE(platform.LastPresentSendUs(send_us));  // the present and its latency wait
  ASSERT_TRUE(platform.GetPresentationReport(report));
  EXPECT_EQ(report.frames, 2);
  EXPECT_FALSE(report.flip_source.empty());
  std::printf("forced lock: %s; %s\n", report.reason.c_str(), report.flip_source.c_str());
}

TEST_F(Win32PlatformTest, StatusTextHasJapaneseGlyphsAndNoKeyColour) {
  const std::wstring face = JapaneseFace(L"ＭＳ Ｐゴシック");
  ASSERT_FALSE(face.empty());
  EXPECT_TRUE(FaceHasGlyphs(face));
  Surface band(420, 32);
  const Rect rect{0, 0, 420, 32};
  platform.DrawText(band, rect, "時間 12 秒  スコア 3", 18, 0xFFFFFF);
  size_t lit = 0;
  for (uint32_t p : band.pixels) {
    EXPECT_EQ(p >> 24, 0u);
    EXPECT_NE(p, 0x00FF00u);
    lit += p != 0;
  }
  EXPECT_GT(lit, 100u);
  // A rectangle reaching outside the surface is drawn where it overlaps, and nothing else.
  Surface small(100, 20);
  platform.DrawText(small, {-50, -10, 150, 30}, "ピョコラン", 18, 0xFFFFFF);
  Surface empty(0, 0);
  platform.DrawText(empty, rect, "x", 18, 0xFFFFFF);
}

// Whatever face is asked for, the one used has every Japanese glyph of the program's texts:
// a face the system lacks, or one without Japanese, gives way to one that has them.
TEST(JapaneseFaceTest, TheFaceUsedHasTheGlyphsWhateverWasAskedFor) {
  struct Case {
    const char* name;
    std::wstring wanted;
  };
  const Case cases[] = {
      {"the status line's face", L"ＭＳ Ｐゴシック"},
      {"a face no system has", L"Pyokoran No Such Face"},
      {"a face without Japanese glyphs", L"Courier New"},
      {"no face named", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring face = JapaneseFace(c.wanted);
    ASSERT_FALSE(face.empty());
    EXPECT_TRUE(FaceHasGlyphs(face)) << Narrow(face);
    if (!c.wanted.empty() && FaceHasGlyphs(c.wanted)) EXPECT_EQ(face, c.wanted);
  }
  // Glyphs are asked of the face itself, not of the faces the system links to it.
  EXPECT_FALSE(FaceHasGlyphs(L"Pyokoran No Such Face"));
}

TEST_F(Win32PlatformTest, ConditionDialogFillsAndReadsItsControls) {
  CSubject subject;
  subject.subject = "SBJ0001";
  subject.targets = 6;
  subject.distractors = 3;
  subject.exposure = 2000;
  subject.pause_minimum = 1000;
  subject.pause_maximum = 3000;
  subject.holes = 12;
  subject.time_limit = 60;
  subject.seed = 4294967291u;
  subject.ordered = 5;  // out of range: shown cleared
  std::string shown_holes, shown_seed;
  bool shown_checked = true, focus_in_targets = false;
  WhileModal driver({
      [&] {
        HWND d = Dialog(L"条件設定");
        if (!d) return false;
        shown_holes = ItemText(d, IDC_HOLES_EDIT);
        shown_seed = ItemText(d, IDC_SEED_EDIT);
        shown_checked = IsDlgButtonChecked(d, IDC_ORDERED_CHECK) == BST_CHECKED;
        SetDlgItemTextW(d, IDC_HOLES_EDIT, L"8x");
        SetDlgItemTextW(d, IDC_TARGETS_EDIT, L"");
        PostMessageW(d, WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {  // the number message, over the dialog
        HWND box = Dialog(L"pyokoran");
        if (!box) return false;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        HWND d = Dialog(L"条件設定");
        if (!d || Dialog(L"pyokoran")) return false;
        focus_in_targets = GetFocus() == GetDlgItem(d, IDC_TARGETS_EDIT);
        SetDlgItemTextW(d, IDC_TARGETS_EDIT, L" 7");
        CheckDlgButton(d, IDC_ORDERED_CHECK, BST_CHECKED);
        PostMessageW(d, WM_COMMAND, IDOK, 0);
        return true;
      },
  });
  EXPECT_EQ(platform.ShowConditionDialog(subject), IDOK);
  EXPECT_TRUE(driver.done());
  EXPECT_EQ(shown_holes, "12");
  EXPECT_EQ(shown_seed, "4294967291");
  EXPECT_FALSE(shown_checked);
  EXPECT_TRUE(focus_in_targets);
  EXPECT_EQ(subject.holes, 8);
  EXPECT_EQ(subject.targets, 7);
  EXPECT_EQ(subject.ordered, 1);
  EXPECT_EQ(subject.subject, "SBJ0001");
}

TEST_F(Win32PlatformTest, ConditionDialogRefusesASubjectOutsideCodePage932) {
  CSubject subject;
  subject.subject = "A";
  WhileModal driver({
      [&] {
        HWND d = Dialog(L"条件設定");
        if (!d) return false;
        SetDlgItemTextW(d, IDC_SUBJECT_EDIT, L"\x00E9t\x00E9");  // é is not in code page 932
        PostMessageW(d, WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        HWND box = Dialog(L"pyokoran");
        if (!box) return false;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        HWND d = Dialog(L"条件設定");
        if (!d || Dialog(L"pyokoran")) return false;
        PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
        return true;
      },
  });
  EXPECT_EQ(platform.ShowConditionDialog(subject), IDCANCEL);
  EXPECT_TRUE(driver.done());
  EXPECT_EQ(subject.subject, "A");
}

TEST_F(Win32PlatformTest, ResultDialogSelectsTheNewestRun) {
  ResultDialogContent content;
  content.lines = {"0001:  2014/05/07 (11:00:00)   [  25]   B", "0002:  2014/05/08 (09:30:00)   [  17]   C",
                   "0003:  2014/05/07 (10:00:00)   [  10]   A"};
  content.summary = "【最終結果】 C さん ／ スコア：17　（順位: 3 人中 2 位 ／ 上位から 66.7 ％）";
  content.selected = 1;
  std::string summary, selected;
  int count = 0;
  WhileModal driver({[&] {
    HWND d = Dialog(L"結果");
    if (!d) return false;
    summary = ItemText(d, IDC_RESULT_SUMMARY);
    HWND list = GetDlgItem(d, IDC_RESULT_LIST);
    count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
    const LRESULT at = SendMessageW(list, LB_GETCURSEL, 0, 0);
    wchar_t line[128] = {};
    if (at != LB_ERR) SendMessageW(list, LB_GETTEXT, WPARAM(at), LPARAM(line));
    selected = Narrow(line);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
    return true;
  }});
  platform.ShowResultDialog(content);
  EXPECT_TRUE(driver.done());
  EXPECT_EQ(count, 3);
  EXPECT_EQ(summary, content.summary);
  EXPECT_EQ(selected, content.lines[1]);
}

TEST_F(Win32PlatformTest, CloseRequestIsRefusedWhileADialogIsOpenThenEndsTheProgram) {
  WhileModal driver({[&] {
                       HWND d = Dialog(L"About this application");
                       if (!d) return false;
                       SendMessageW(platform.main_window(), WM_CLOSE, 0, 0);
                       return true;
                     },
                     [&] {
                       HWND d = Dialog(L"About this application");
                       if (d) PostMessageW(d, WM_COMMAND, IDOK, 0);
                       return d != nullptr;
                     }});
  platform.ShowAboutBox({"1.6.0", "C:\\Users\\lab\\Documents\\ピョコラン"});
  EXPECT_TRUE(driver.done());
  EXPECT_TRUE(main.calls.empty());
  EXPECT_TRUE(IsWindow(platform.main_window()));
  // The close box: the window goes and the loop ends.
  PostMessageW(platform.main_window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(platform.RunMessageLoop(), 0);
  EXPECT_EQ(main.calls, std::vector<std::string>{"destroy"});
}

// The window class carries the program's icon in both sizes, so the title bar, the taskbar
// and Alt+Tab show it.
TEST_F(Win32PlatformTest, TheWindowsCarryTheProgramsIcon) {
  EXPECT_NE(GetClassLongPtrW(platform.main_window(), GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(platform.main_window(), GCLP_HICONSM), 0);
}

// Names longer than the classic box widen it (up to the screen), each on a line of its own,
// whole; the guide's pages are links; OK keeps to the right edge.
TEST_F(Win32PlatformTest, AboutBoxNamesTheFolderAndTheGuideWhole) {
  const std::string folder = "C:\\Users\\a-rather-long-user-name\\Documents\\実験室の共有フォルダー\\ピョコラン";
  const std::vector<std::string> pages = {
      "C:\\Users\\a-rather-long-user-name\\AppData\\Local\\Programs\\Pyokoran\\guide.html",
      "C:\\Users\\a-rather-long-user-name\\AppData\\Local\\Programs\\Pyokoran\\guide.en.html"};
  std::vector<std::string> texts;
  RECT client{}, ok{}, classic{0, 0, 187, 59};
  bool inside = true;
  WhileModal driver({[&] {
    HWND d = Dialog(L"About this application");
    if (!d) return false;
    GetClientRect(d, &client);
    MapDialogRect(d, &classic);
    GetWindowRect(GetDlgItem(d, IDOK), &ok);
    MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&ok), 2);
    for (HWND child = GetWindow(d, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t text[512] = {};
      GetWindowTextW(child, text, 512);
      texts.push_back(Narrow(text));
      RECT r{};
      GetWindowRect(child, &r);
      MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
      inside = inside && r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom;
    }
    PostMessageW(d, WM_COMMAND, IDOK, 0);
    return true;
  }});
  platform.ShowAboutBox({"1.6.0", folder, pages});
  ASSERT_TRUE(driver.done());
  EXPECT_GT(client.right, classic.right);
  EXPECT_GT(client.bottom, classic.bottom);
  EXPECT_TRUE(inside);
  EXPECT_LT(client.right - ok.right, classic.right / 10);
  auto shown = [&](const std::string& text) { return std::find(texts.begin(), texts.end(), text) != texts.end(); };
  EXPECT_TRUE(shown(folder));
  for (const std::string& page : pages) EXPECT_TRUE(shown("<a>" + page + "</a>") || shown(page)) << page;
}

// The check opens its own window: no main window, no run.
TEST(Win32TimingCheckTest, ReportsItsModeAndVerdictAndWhatWineCannotShow) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  const int status = RunWin32TimingCheck("", out);
  std::rewind(out);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
  std::fclose(out);
  std::printf("%s", text.c_str());
  EXPECT_NE(text.find("mode a run would use: "), std::string::npos);
  EXPECT_NE(text.find("tick thread"), std::string::npos);
  const bool pass = text.size() >= 5 && text.compare(text.size() - 5, 5, "PASS\n") == 0;
  EXPECT_EQ(status, pass ? 0 : 1);
  if (!WineVersion().empty()) {
    // Wine presents without waiting for a refresh: the fallback, said so, and never a PASS.
    EXPECT_EQ(text.rfind("note: running under Wine", 0), 0u);
    EXPECT_NE(text.find("mode a run would use: fallback"), std::string::npos);
    EXPECT_NE(text.find("GDI"), std::string::npos);
    EXPECT_EQ(status, 1);
  }
}

TEST(Win32SoundTest, OnlyWaveImagesPlay) {
  // 10 ms of silence, 8 kHz mono, 8 bits.
  static const uint8_t kHeader[44] = {'R', 'I', 'F', 'F', 116, 0, 0, 0, 'W', 'A', 'V', 'E',
                                      'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0,
                                      0x40, 0x1F, 0, 0, 1, 0, 8, 0, 'd', 'a', 't', 'a', 80, 0, 0, 0};
  std::vector<uint8_t> wav(124, 0x80);
  std::copy(std::begin(kHeader), std::end(kHeader), wav.begin());
  EXPECT_TRUE(LooksLikeWav(wav));
  std::vector<uint8_t> cut(wav.begin(), wav.begin() + 40);
  EXPECT_FALSE(LooksLikeWav(cut));
  EXPECT_FALSE(LooksLikeWav({'R', 'I', 'F', 'F'}));
  Win32Sound sound;
  {
    // The caller's image may go at once: the sound plays from a copy.
    std::vector<uint8_t> gone = wav;
    sound.Play(&gone);
  }
  sound.Play(&cut);
  sound.Play(nullptr);
  sound.Play(&wav);
  sound.Stop();
}

}  // namespace
}  // namespace pyokoran
