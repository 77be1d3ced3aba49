#include "platform/win32/window/win32_dialogs.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <vector>

#include "app/program.h"
#include "platform/cp932.h"
#include "platform/win32/window/wide_text.h"
#include "platform/win32/window/win32_resources.h"
#include "platform/win32/window/win32_text.h"
#include "settings/condition_dialog.h"

namespace pyokoran {

namespace {

std::wstring ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  const int length = item ? GetWindowTextLengthW(item) : 0;
  std::wstring text(size_t(length) + 1, L'\0');
  if (item) text.resize(size_t(GetWindowTextW(item, text.data(), length + 1)));
  else text.clear();
  return text;
}

// Fonts made for dialogs whose template face lacks the glyphs, kept for the program's life.
std::map<std::pair<std::wstring, LONG>, HFONT>& JapaneseFonts() {
  static std::map<std::pair<std::wstring, LONG>, HFONT> fonts;
  return fonts;
}

BOOL CALLBACK SetFontOnChild(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, WPARAM(font), FALSE);
  return TRUE;
}

// The dialog comes up centred over its owner (the screen, while the main window covers it),
// in front, with the keyboard.
void ComeForward(HWND dialog) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  RECT area{}, box{};
  if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(dialog, &box);
  const LONG w = box.right - box.left, h = box.bottom - box.top;
  const LONG x = std::max<LONG>(area.left + (area.right - area.left - w) / 2, 0);
  const LONG y = std::max<LONG>(area.top + (area.bottom - area.top - h) / 2, 0);
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetForegroundWindow(dialog);
}

// --- About box ------------------------------------------------------------------------------

struct AboutState {
  const AboutBoxContent* content;
};

// Controls the About box adds below the credit: the guide's pages get these identifiers in
// their order.
constexpr int kFirstGuideLink = 1100;

// The working folder and the guide's pages below the credit, each name on a line of its own:
// the box grows by their lines and, for a long name, widens up to the screen's width; the OK
// button keeps to the right edge.
void AddNameLines(HWND dialog, const AboutBoxContent& content) {
  struct Line {
    std::wstring text;
    int link;  // the guide page's identifier; 0 for a title or the folder
  };
  std::vector<Line> lines;
  if (!content.working_folder.empty()) {
    lines.push_back({L"作業フォルダ:", 0});
    lines.push_back({Widen(content.working_folder), 0});
  }
  if (!content.guide_pages.empty()) lines.push_back({L"ガイド (Guide):", 0});
  for (size_t i = 0; i < content.guide_pages.size(); ++i) {
    lines.push_back({Widen(content.guide_pages[i]), kFirstGuideLink + int(i)});
  }
  if (lines.empty()) return;

  HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  int widest = 0;
  if (HDC dc = GetDC(dialog)) {
    HGDIOBJ old = SelectObject(dc, font);
    for (const Line& line : lines) {
      SIZE size{};
      if (GetTextExtentPoint32W(dc, line.text.c_str(), int(line.text.size()), &size)) widest = std::max<int>(widest, size.cx);
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
  }
  RECT units{7, 12, 173, 51};  // margin, line height, narrowest text, first line's top
  MapDialogRect(dialog, &units);
  const int margin = units.left, line_height = units.top, top = units.bottom;
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT client{}, frame{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &frame);
  const int frame_extra = (frame.right - frame.left) - client.right;
  const int most = std::max<int>(units.right, (area.right - area.left) - frame_extra - 4 * margin);
  const int text_width = std::clamp(widest + 4, int(units.right), most);
  const int width = std::max<int>(client.right, text_width + 2 * margin);
  const int height = top + int(lines.size()) * line_height + margin - client.bottom;
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + (width - client.right),
               frame.bottom - frame.top + std::max(height, 0), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (HWND ok = GetDlgItem(dialog, IDOK)) {
    RECT button{};
    GetWindowRect(ok, &button);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&button), 2);
    SetWindowPos(ok, nullptr, button.left + (width - client.right), button.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
  INITCOMMONCONTROLSEX links{sizeof links, ICC_LINK_CLASS};
  const bool have_links = InitCommonControlsEx(&links);
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    const int y = top + int(i) * line_height;
    HWND control = nullptr;
    if (line.link && have_links) {
      // A link that opens the page in the browser (a Windows name holds no < or >).
      control = CreateWindowExW(0, WC_LINK, (L"<a>" + line.text + L"</a>").c_str(),
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LWS_NOPREFIX, margin, y, text_width,
                                line_height, dialog, HMENU(INT_PTR(line.link)), instance, nullptr);
    }
    if (!control) {
      control = CreateWindowExW(0, L"STATIC", line.text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_PATHELLIPSIS,
                                margin, y, text_width, line_height, dialog,
                                HMENU(INT_PTR(line.link ? line.link : -1)), instance, nullptr);
    }
    if (control) SendMessageW(control, WM_SETFONT, WPARAM(font), FALSE);
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* state = reinterpret_cast<const AboutState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, LONG_PTR(state));
      GiveDialogJapaneseFont(dialog);
      std::string credit = "ピョコラン開発チーム 2026";
      if (!state->content->version.empty()) credit += "\nバージョン " + state->content->version;
      SetDlgItemTextW(dialog, IDC_ABOUT_CREDIT, Widen(credit).c_str());
      AddNameLines(dialog, *state->content);
      ComeForward(dialog);
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* note = reinterpret_cast<const NMHDR*>(lparam);
      const auto* state = reinterpret_cast<const AboutState*>(GetWindowLongPtrW(dialog, DWLP_USER));
      const size_t page = size_t(note->idFrom - kFirstGuideLink);
      if (state && (note->code == NM_CLICK || note->code == NM_RETURN) &&
          note->idFrom >= kFirstGuideLink && page < state->content->guide_pages.size()) {
        ShellExecuteW(dialog, L"open", Widen(state->content->guide_pages[page]).c_str(), nullptr,
                      nullptr, SW_SHOWNORMAL);
        return TRUE;
      }
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

// --- Condition dialog -----------------------------------------------------------------------

struct ConditionState {
  CSubject* subject;
  ConditionControls shown;  // the controls as filled
  std::wstring subject_text;  // the subject as shown
};

// The field gets the focus with its whole text selected.
void FocusField(HWND dialog, int id) {
  SendMessageW(dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(dialog, id)), TRUE);
  SendDlgItemMessageW(dialog, id, EM_SETSEL, 0, -1);
}

void WarnAboutField(HWND dialog, const std::string& text) {
  RunMessageBox(dialog, text, kApplicationTitle, MessageIcon::Exclamation);
}

// OK: the controls into the fields; true when the dialog may end.
bool ReadConditions(HWND dialog, ConditionState& state) {
  ConditionControls controls;
  // The subject is shown converted from code page 932; while its text stays as shown, OK
  // hands back the original bytes.
  const std::wstring typed = ItemText(dialog, IDC_SUBJECT_EDIT);
  if (typed == state.subject_text) {
    controls.subject = state.shown.subject;
  } else if (!Utf8ToCp932(Narrow(typed), controls.subject)) {
    WarnAboutField(dialog,
                   "Subject ID に使えない文字が含まれています。\n"
                   "シフトJIS（コードページ 932）で表せる文字で入力してください。");
    FocusField(dialog, IDC_SUBJECT_EDIT);
    return false;
  }
  auto text = [&](int id) { return Narrow(ItemText(dialog, id)); };
  controls.targets = text(IDC_TARGETS_EDIT);
  controls.distractors = text(IDC_DISTRACTORS_EDIT);
  controls.duration = text(IDC_DURATION_EDIT);
  controls.isi1 = text(IDC_ISI1_EDIT);
  controls.isi2 = text(IDC_ISI2_EDIT);
  controls.holes = text(IDC_HOLES_EDIT);
  controls.time_limit = text(IDC_TIME_LIMIT_EDIT);
  controls.seed = text(IDC_SEED_EDIT);
  controls.ordered = IsDlgButtonChecked(dialog, IDC_ORDERED_CHECK) == BST_CHECKED;
  const int failed = state.subject->FromControls(controls);
  if (failed != 0) {
    WarnAboutField(dialog, state.subject->FieldMessage(failed));
    FocusField(dialog, failed);
    return false;
  }
  return true;
}

INT_PTR CALLBACK ConditionProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<ConditionState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<ConditionState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, LONG_PTR(state));
      GiveDialogJapaneseFont(dialog);
      state->shown = state->subject->ToControls();
      std::string subject_utf8;
      Cp932ToUtf8(state->shown.subject, subject_utf8);
      state->subject_text = Widen(subject_utf8);
      SetDlgItemTextW(dialog, IDC_SUBJECT_EDIT, state->subject_text.c_str());
      const std::pair<int, const std::string*> numbers[] = {
          {IDC_TARGETS_EDIT, &state->shown.targets},     {IDC_DISTRACTORS_EDIT, &state->shown.distractors},
          {IDC_DURATION_EDIT, &state->shown.duration},   {IDC_ISI1_EDIT, &state->shown.isi1},
          {IDC_ISI2_EDIT, &state->shown.isi2},           {IDC_HOLES_EDIT, &state->shown.holes},
          {IDC_TIME_LIMIT_EDIT, &state->shown.time_limit}, {IDC_SEED_EDIT, &state->shown.seed},
      };
      for (const auto& [id, value] : numbers) SetDlgItemTextW(dialog, id, Widen(*value).c_str());
      CheckDlgButton(dialog, IDC_ORDERED_CHECK, state->shown.ordered ? BST_CHECKED : BST_UNCHECKED);
      ComeForward(dialog);
      FocusField(dialog, IDC_SUBJECT_EDIT);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK && state) {
        if (ReadConditions(dialog, *state)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {  // the button, Escape or the close box
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

// --- Result dialog --------------------------------------------------------------------------

INT_PTR CALLBACK ResultProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* content = reinterpret_cast<const ResultDialogContent*>(lparam);
      GiveDialogJapaneseFont(dialog);
      HWND list = GetDlgItem(dialog, IDC_RESULT_LIST);
      SendMessageW(list, WM_SETREDRAW, FALSE, 0);
      for (const std::string& line : content->lines) {
        SendMessageW(list, LB_ADDSTRING, 0, LPARAM(Widen(line).c_str()));
      }
      SendMessageW(list, WM_SETREDRAW, TRUE, 0);
      SetDlgItemTextW(dialog, IDC_RESULT_SUMMARY, Widen(content->summary).c_str());
      // The list sorts its lines itself: the newest run's line is looked up by its text.
      if (content->selected >= 0 && size_t(content->selected) < content->lines.size()) {
        const LRESULT at = SendMessageW(list, LB_FINDSTRINGEXACT, WPARAM(-1),
                                        LPARAM(Widen(content->lines[size_t(content->selected)]).c_str()));
        if (at != LB_ERR) SendMessageW(list, LB_SETCURSEL, WPARAM(at), 0);
      }
      ComeForward(dialog);
      SetFocus(list);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace

void GiveDialogJapaneseFont(HWND dialog) {
  HFONT current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  if (!current || !GetObjectW(current, sizeof lf, &lf)) return;
  const std::wstring wanted = lf.lfFaceName;
  if (FaceHasGlyphs(wanted)) return;
  const std::wstring face = JapaneseFace(wanted);
  if (face.empty() || face == wanted) return;
  HFONT& font = JapaneseFonts()[{face, lf.lfHeight}];
  if (!font) {
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    lf.lfFaceName[std::min(face.size(), size_t(LF_FACESIZE - 1))] = L'\0';
    font = CreateFontIndirectW(&lf);
  }
  if (!font) return;
  SendMessageW(dialog, WM_SETFONT, WPARAM(font), FALSE);
  EnumChildWindows(dialog, SetFontOnChild, LPARAM(font));
}

void RunAboutBox(HINSTANCE instance, HWND owner, const AboutBoxContent& content) {
  AboutState state{&content};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, LPARAM(&state));
}

int RunConditionDialog(HINSTANCE instance, HWND owner, CSubject& dialog) {
  ConditionState state{&dialog, {}, {}};
  const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SUBJECT), owner,
                                         ConditionProc, LPARAM(&state));
  return result == IDOK ? IDOK : IDCANCEL;
}

void RunResultDialog(HINSTANCE instance, HWND owner, const ResultDialogContent& content) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_RESULT), owner, ResultProc, LPARAM(&content));
}

bool RunRetryBox(HWND owner, const std::string& text, const std::string& caption) {
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(),
                     MB_RETRYCANCEL | MB_ICONEXCLAMATION | MB_SETFOREGROUND) == IDRETRY;
}

void RunMessageBox(HWND owner, const std::string& text, const std::string& caption,
                   MessageIcon icon) {
  const UINT style = MB_OK | MB_SETFOREGROUND |
                     (icon == MessageIcon::Stop          ? MB_ICONSTOP
                      : icon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION
                                                         : 0);
  MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), style);
}

}  // namespace pyokoran
