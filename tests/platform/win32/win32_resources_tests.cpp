// The menu and dialog templates as compiled into the program: captions, fonts, sizes in
// dialog units, styles and control identifiers, read back from the resources. And the program
// file itself (pyokoran.exe, built beside this test): its icon and its version as Explorer and
// its Properties read them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/win32/window/wide_text.h"
#include "platform/win32/window/win32_resources.h"
#include "platform/win32/window/windows_api.h"

#include <shellapi.h>

namespace pyokoran {
namespace {

// One control of an extended dialog template.
struct Control {
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  int32_t id = 0;
  std::string window_class;  // "button", "edit", "static", "listbox" for the system's ordinals
  std::string text;
};

struct Template {
  uint32_t style = 0;
  int16_t cx = 0, cy = 0;
  std::string caption;
  uint16_t point_size = 0;
  uint8_t charset = 0;
  std::string face;
  std::vector<Control> controls;
};

// Reads DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  void Align() { at_ = (at_ + 3) & ~size_t(3); }
  template <class T>
  T Read() {
    T v{};
    if (at_ + sizeof(T) > size_) {
      ok_ = false;
      return v;
    }
    std::memcpy(&v, data_ + at_, sizeof(T));
    at_ += sizeof(T);
    return v;
  }
  std::string String() {
    std::wstring text;
    for (wchar_t c; ok_ && (c = wchar_t(Read<uint16_t>())) != 0;) text += c;
    return Narrow(text);
  }
  // A name or an ordinal: an ordinal comes back as "#n".
  std::string NameOrOrdinal() {
    const uint16_t first = Read<uint16_t>();
    if (first == 0) return "";
    if (first == 0xFFFF) return std::string(1, '#').append(std::to_string(Read<uint16_t>()));
    at_ -= 2;
    return String();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

std::string ClassName(const std::string& name) {
  if (name == "#128") return "button";
  if (name == "#129") return "edit";
  if (name == "#130") return "static";
  if (name == "#131") return "listbox";
  return name;
}

bool LoadTemplate(int id, Template& t) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
  Reader r(data, SizeofResource(module, found));
  if (r.Read<uint16_t>() != 1 || r.Read<uint16_t>() != 0xFFFF) return false;  // version, signature
  r.Read<uint32_t>();  // help id
  r.Read<uint32_t>();  // extended style
  t.style = r.Read<uint32_t>();
  const uint16_t count = r.Read<uint16_t>();
  r.Read<int16_t>();
  r.Read<int16_t>();
  t.cx = r.Read<int16_t>();
  t.cy = r.Read<int16_t>();
  r.NameOrOrdinal();  // menu
  r.NameOrOrdinal();  // class
  t.caption = r.String();
  if (t.style & DS_SETFONT) {
    t.point_size = r.Read<uint16_t>();
    r.Read<uint16_t>();  // weight
    r.Read<uint8_t>();   // italic
    t.charset = r.Read<uint8_t>();
    t.face = r.String();
  }
  for (uint16_t i = 0; i < count && r.ok(); ++i) {
    r.Align();
    Control c;
    r.Read<uint32_t>();  // help id
    r.Read<uint32_t>();  // extended style
    c.style = r.Read<uint32_t>();
    c.x = r.Read<int16_t>();
    c.y = r.Read<int16_t>();
    c.cx = r.Read<int16_t>();
    c.cy = r.Read<int16_t>();
    c.id = r.Read<int32_t>();
    c.window_class = ClassName(r.NameOrOrdinal());
    c.text = r.NameOrOrdinal();
    const uint16_t extra = r.Read<uint16_t>();
    for (uint16_t b = 0; b < extra; ++b) r.Read<uint8_t>();
    t.controls.push_back(c);
  }
  return r.ok();
}

constexpr uint32_t kModalFrame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

struct DialogCase {
  const char* name;
  int id;
  const char* caption;
  const char* face;
  int point_size;
  int16_t cx, cy;
  friend std::ostream& operator<<(std::ostream& out, const DialogCase& c) { return out << c.name; }
};

class DialogTemplateTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogTemplateTest, HasItsCaptionFontAndSize) {
  const DialogCase& c = GetParam();
  Template t;
  ASSERT_TRUE(LoadTemplate(c.id, t));
  EXPECT_EQ(t.caption, c.caption);
  EXPECT_EQ(t.face, c.face);
  EXPECT_EQ(t.point_size, c.point_size);
  EXPECT_EQ(t.charset, SHIFTJIS_CHARSET);
  EXPECT_EQ(t.cx, c.cx);
  EXPECT_EQ(t.cy, c.cy);
  EXPECT_EQ(t.style & kModalFrame, kModalFrame);
  EXPECT_EQ(t.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogTemplateTest,
    ::testing::Values(DialogCase{"About", IDD_ABOUTBOX, "About this application", "ＭＳ Ｐゴシック", 9, 187, 59},
                      DialogCase{"Conditions", IDD_SUBJECT, "条件設定", "MS UI Gothic", 9, 244, 159},
                      DialogCase{"Result", IDD_RESULT, "結果", "MS UI Gothic", 10, 421, 305}));

// Each dialog's controls in template order (the order of the tab stops): identifier, class,
// position and size in dialog units, text. Labels have no identifier of their own (-1).
struct ControlRow {
  int dialog;
  int32_t id;
  const char* window_class;
  int16_t x, y, cx, cy;
  const char* text;
};

const ControlRow kControls[] = {
    {IDD_ABOUTBOX, IDC_ABOUT_NAME, "static", 7, 7, 106, 11, "ピョコラン (v1.006)"},
    {IDD_ABOUTBOX, IDC_ABOUT_CREDIT, "static", 7, 23, 129, 26, "ピョコラン開発チーム 2026"},
    {IDD_ABOUTBOX, IDOK, "button", 130, 7, 50, 14, "OK"},

    {IDD_SUBJECT, -1, "static", 12, 6, 42, 12, "Subject ID:"},
    {IDD_SUBJECT, 1001, "edit", 60, 6, 102, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 30, 66, 12, "穴の数"},
    {IDD_SUBJECT, 1011, "edit", 84, 30, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 48, 66, 12, "ターゲットの匹数"},
    {IDD_SUBJECT, 1006, "edit", 84, 48, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 66, 66, 12, "ディストラクタの匹数"},
    {IDD_SUBJECT, 1007, "edit", 84, 66, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 84, 66, 12, "制限時間（秒）"},
    {IDD_SUBJECT, 1012, "edit", 84, 84, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 102, 66, 12, "露出時間（ms）"},
    {IDD_SUBJECT, 1008, "edit", 84, 102, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 12, 120, 66, 12, "隠れ時間（ms）"},
    {IDD_SUBJECT, 1009, "edit", 84, 120, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 144, 120, 12, 12, "～"},
    {IDD_SUBJECT, 1010, "edit", 162, 120, 54, 12, ""},
    {IDD_SUBJECT, -1, "static", 168, 84, 66, 12, "乱数初期値"},
    {IDD_SUBJECT, 1013, "edit", 186, 96, 42, 12, ""},
    {IDD_SUBJECT, 1014, "button", 162, 138, 72, 12, "穴の整列"},
    {IDD_SUBJECT, IDOK, "button", 180, 6, 50, 14, "OK"},
    {IDD_SUBJECT, IDCANCEL, "button", 180, 24, 50, 14, "キャンセル"},

    {IDD_RESULT, 1007, "listbox", 18, 30, 384, 264, ""},
    {IDD_RESULT, IDOK, "button", 354, 12, 48, 14, "OK"},
    {IDD_RESULT, 1008, "static", 18, 12, 318, 12, "最終結果表示"},
};

TEST(DialogTemplateTest, ControlsAreTheseInThisOrder) {
  for (int dialog : {IDD_ABOUTBOX, IDD_SUBJECT, IDD_RESULT}) {
    Template t;
    ASSERT_TRUE(LoadTemplate(dialog, t)) << dialog;
    std::vector<ControlRow> expected;
    for (const ControlRow& row : kControls) {
      if (row.dialog == dialog) expected.push_back(row);
    }
    ASSERT_EQ(t.controls.size(), expected.size()) << "dialog " << dialog;
    for (size_t i = 0; i < expected.size(); ++i) {
      const Control& c = t.controls[i];
      const ControlRow& e = expected[i];
      SCOPED_TRACE("dialog " + std::to_string(dialog) + " control " + std::to_string(i) + " " + e.text);
      EXPECT_EQ(c.id, e.id);
      EXPECT_EQ(c.window_class, e.window_class);
      EXPECT_EQ(c.x, e.x);
      EXPECT_EQ(c.y, e.y);
      EXPECT_EQ(c.cx, e.cx);
      EXPECT_EQ(c.cy, e.cy);
      EXPECT_EQ(c.text, e.text);
      EXPECT_TRUE(c.style & WS_VISIBLE);
    }
  }
}

// Styles that change what the controls do.
TEST(DialogTemplateTest, ControlStyles) {
  Template subject, result;
  ASSERT_TRUE(LoadTemplate(IDD_SUBJECT, subject));
  ASSERT_TRUE(LoadTemplate(IDD_RESULT, result));
  for (const Control& c : subject.controls) {
    SCOPED_TRACE(c.id);
    if (c.window_class == "edit") {
      // Single line, bordered, scrolling, any characters, in the tab order.
      EXPECT_TRUE(c.style & ES_AUTOHSCROLL);
      EXPECT_TRUE(c.style & WS_BORDER);
      EXPECT_TRUE(c.style & WS_TABSTOP);
      EXPECT_FALSE(c.style & (ES_MULTILINE | ES_NUMBER | ES_PASSWORD | ES_READONLY));
    }
    if (c.id == 1014) {
      EXPECT_EQ(c.style & 0xF, uint32_t(BS_AUTOCHECKBOX));
    } else if (c.id == IDOK) {
      EXPECT_EQ(c.style & 0xF, uint32_t(BS_DEFPUSHBUTTON));
    } else if (c.id == IDCANCEL) {
      EXPECT_EQ(c.style & 0xF, uint32_t(BS_PUSHBUTTON));
    } else if (c.text == "～") {
      EXPECT_EQ(c.style & SS_TYPEMASK, uint32_t(SS_CENTER));
    }
  }
  const Control& list = result.controls[0];
  const uint32_t list_style = LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
  EXPECT_EQ(list.style & list_style, list_style);
  EXPECT_EQ(result.controls[1].style & 0xF, uint32_t(BS_DEFPUSHBUTTON));
  EXPECT_EQ(result.controls[2].style & SS_TYPEMASK, uint32_t(SS_LEFT));
  EXPECT_TRUE(result.controls[2].style & WS_GROUP);
}

TEST(MenuResourceTest, ThreeMenusWithTheirCommands) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_NE(menu, nullptr);
  auto text = [](HMENU m, int position) {
    wchar_t buffer[64] = {};
    GetMenuStringW(m, UINT(position), buffer, 64, MF_BYPOSITION);
    return Narrow(buffer);
  };
  struct Item {
    int menu;
    const char* text;
    UINT command;
  };
  const char* menus[] = {"&File", "ピョコラン(&E)", "&Help"};
  const Item items[] = {{0, "E&xit", 40001},       {1, "&Start", 40005}, {1, "Show&Result", 40007},
                        {1, "Re&port", 40008},     {2, "&About", 40002}};
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  int position[3] = {0, 0, 0};
  for (int m = 0; m < 3; ++m) EXPECT_EQ(text(menu, m), menus[m]);
  for (const Item& item : items) {
    HMENU sub = GetSubMenu(menu, item.menu);
    ASSERT_NE(sub, nullptr);
    const int at = position[item.menu]++;
    EXPECT_EQ(text(sub, at), item.text);
    EXPECT_EQ(GetMenuItemID(sub, at), item.command);
  }
  for (int m = 0; m < 3; ++m) EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, m)), position[m]);
  DestroyMenu(menu);
}

// pyokoran.exe in this test program's folder.
std::wstring ProgramFile() {
  wchar_t self[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"pyokoran.exe";
}

TEST(ProgramFileTest, CarriesTheIconInEverySizeFirst) {
  const std::wstring program = ProgramFile();
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "cannot open " << Narrow(program);
  // The icon group: a header of three words, then an entry of 14 bytes for every picture.
  std::vector<int> sizes;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDI_PYOKORAN), RT_GROUP_ICON)) {
    const auto* group = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    const DWORD size = SizeofResource(module, found);
    uint16_t count = 0;
    if (group && size >= 6) std::memcpy(&count, group + 4, 2);
    for (uint16_t i = 0; i < count && 6 + 14u * (i + 1u) <= size; ++i) {
      const uint8_t* entry = group + 6 + 14 * i;
      uint16_t bits = 0;
      std::memcpy(&bits, entry + 6, 2);
      EXPECT_EQ(bits, 32) << "picture " << i;
      sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    }
  }
  FreeLibrary(module);
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
  // What Explorer shows: the file's first icon, large and small.
  HICON large = nullptr, small = nullptr;
  EXPECT_EQ(ExtractIconExW(program.c_str(), 0, &large, &small, 1), 2u);
  EXPECT_NE(large, nullptr);
  EXPECT_NE(small, nullptr);
  if (large) DestroyIcon(large);
  if (small) DestroyIcon(small);
}

TEST(ProgramFileTest, ItsVersionIsTheProjectsWithTheProductAndTheCopyright) {
  const std::wstring program = ProgramFile();
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), nullptr);
  ASSERT_GT(size, 0u) << "no version resource in " << Narrow(program);
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(PYOKORAN_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
  EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

  // The texts, in the language and code page the file names first.
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring key = std::wstring(block) + name;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
      return std::string("<missing>");
    return Narrow(value);
  };
  const std::pair<const wchar_t*, std::string> expected[] = {
      {L"ProductName", "ピョコラン"},
      {L"FileDescription", "ピョコラン"},
      {L"CompanyName", "ピョコラン開発チーム"},
      {L"LegalCopyright", "Copyright © 2026 ピョコラン開発チーム"},
      {L"FileVersion", PYOKORAN_PROJECT_VERSION},
      {L"ProductVersion", PYOKORAN_PROJECT_VERSION},
      {L"OriginalFilename", "pyokoran.exe"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(text(name), value) << Narrow(name);
}

}  // namespace
}  // namespace pyokoran
