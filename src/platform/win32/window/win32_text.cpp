#include "platform/win32/window/win32_text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/win32/window/wide_text.h"

namespace pyokoran {

namespace {

// The face the status line asks for.
const wchar_t* const kStatusFace = L"ＭＳ Ｐゴシック";

HFONT MakeFont(const std::wstring& face, int32_t height, DWORD quality) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = BYTE(quality);
  face.copy(lf.lfFaceName, LF_FACESIZE - 1);
  return CreateFontIndirectW(&lf);
}

int CALLBACK CollectFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM data) {
  auto* faces = reinterpret_cast<std::vector<std::pair<bool, std::wstring>>*>(data);
  const std::wstring face = font->lfFaceName;
  if (face.empty() || face[0] == L'@') return 1;  // vertical writing
  const bool proportional = (font->lfPitchAndFamily & 3) == VARIABLE_PITCH;
  (void)type;
  for (const auto& known : *faces) {
    if (known.second == face) return 1;
  }
  faces->push_back({proportional, face});
  return 1;
}

}  // namespace

bool FaceHasGlyphs(const std::wstring& face, const wchar_t* sample) {
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return false;
  HFONT font = MakeFont(face, 16, DEFAULT_QUALITY);
  bool ok = false;
  if (font) {
    HGDIOBJ old = SelectObject(dc, font);
    const int n = int(wcslen(sample));
    std::vector<WORD> glyphs(size_t(n), 0);
    if (GetGlyphIndicesW(dc, sample, n, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) == DWORD(n)) {
      ok = std::none_of(glyphs.begin(), glyphs.end(), [](WORD g) { return g == 0xFFFF; });
    }
    SelectObject(dc, old);
    DeleteObject(font);
  }
  DeleteDC(dc);
  return ok;
}

std::wstring JapaneseFace(const std::wstring& wanted) {
  static std::map<std::wstring, std::wstring> chosen;
  auto it = chosen.find(wanted);
  if (it != chosen.end()) return it->second;
  std::wstring face;
  for (const wchar_t* candidate : {wanted.c_str(), L"Yu Gothic UI", L"Meiryo", L"MS UI Gothic",
                                   L"ＭＳ Ｐゴシック", L"Yu Gothic", L"Meiryo UI"}) {
    if (*candidate && FaceHasGlyphs(candidate)) {
      face = candidate;
      break;
    }
  }
  if (face.empty()) {
    // Any face that says it has Japanese, proportional ones first.
    std::vector<std::pair<bool, std::wstring>> faces;
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc) {
      LOGFONTW lf{};
      lf.lfCharSet = SHIFTJIS_CHARSET;
      EnumFontFamiliesExW(dc, &lf, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
      DeleteDC(dc);
    }
    std::stable_partition(faces.begin(), faces.end(), [](const auto& f) { return f.first; });
    for (const auto& f : faces) {
      if (FaceHasGlyphs(f.second)) {
        face = f.second;
        break;
      }
    }
  }
  chosen[wanted] = face;
  return face;
}

GdiText::~GdiText() {
  if (dc_) {
    if (old_bitmap_) SelectObject(dc_, old_bitmap_);
    DeleteDC(dc_);
  }
  if (bitmap_) DeleteObject(bitmap_);
}

bool GdiText::EnsureBitmap(int32_t width, int32_t height) {
  if (bitmap_ && width <= width_ && height <= height_) return true;
  if (!dc_) dc_ = CreateCompatibleDC(nullptr);
  if (!dc_) return false;
  if (bitmap_) {
    SelectObject(dc_, old_bitmap_);
    DeleteObject(bitmap_);
    bitmap_ = nullptr;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = std::max(width, width_);
  info.bmiHeader.biHeight = -std::max(height, height_);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap_) return false;
  bits_ = static_cast<uint32_t*>(bits);
  width_ = info.bmiHeader.biWidth;
  height_ = -info.bmiHeader.biHeight;
  old_bitmap_ = SelectObject(dc_, bitmap_);
  return true;
}

void GdiText::Draw(Surface& surface, const Rect& rect, const std::string& text, int32_t height,
                   uint32_t colour) {
  if (surface.width <= 0 || surface.height <= 0 ||
      surface.pixels.size() != size_t(surface.width) * size_t(surface.height)) {
    return;
  }
  const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384 || !EnsureBitmap(w, h)) return;
  // The part of rect inside the surface goes in and out; drawing centres in all of rect.
  const int32_t x0 = std::max(rect.left, 0), x1 = std::min(rect.right, surface.width);
  const int32_t y0 = std::max(rect.top, 0), y1 = std::min(rect.bottom, surface.height);
  GdiFlush();
  for (int32_t y = y0; y < y1; ++y) {
    std::memcpy(bits_ + size_t(y - rect.top) * size_t(width_) + (x0 - rect.left),
                surface.row(y) + x0, size_t(std::max(x1 - x0, 0)) * 4);
  }
  static const std::wstring face = JapaneseFace(kStatusFace);
  HFONT font = MakeFont(face, std::clamp(height, 1, 1000), ANTIALIASED_QUALITY);
  HGDIOBJ old_font = font ? SelectObject(dc_, font) : nullptr;
  SetTextColor(dc_, colour & 0x00FFFFFF);
  SetBkColor(dc_, RGB(255, 255, 255));
  SetBkMode(dc_, TRANSPARENT);
  RECT box{0, 0, w, h};
  const std::wstring wide = Widen(text);
  DrawTextW(dc_, wide.c_str(), int(wide.size()), &box,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (old_font) SelectObject(dc_, old_font);
  if (font) DeleteObject(font);
  GdiFlush();
  // GDI may leave its own bits in the top byte; surfaces keep it 0.
  for (int32_t y = y0; y < y1; ++y) {
    const uint32_t* in = bits_ + size_t(y - rect.top) * size_t(width_) + (x0 - rect.left);
    uint32_t* out = surface.row(y) + x0;
    for (int32_t x = 0; x < x1 - x0; ++x) out[x] = in[x] & 0x00FFFFFFu;
  }
}

}  // namespace pyokoran
