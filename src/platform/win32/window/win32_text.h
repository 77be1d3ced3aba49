// Text through GDI in the program's Japanese faces. Where a Windows installation lacks a face
// the program asks for (editions without the Japanese supplemental fonts), Yu Gothic UI or
// Meiryo stands in, then any installed face with Japanese glyphs: never boxes.
#pragma once

#include <cstdint>
#include <string>

#include "display/surface.h"
#include "platform/win32/window/windows_api.h"

namespace pyokoran {

// Characters every face used must have: kana, kanji and digits of the program's texts.
inline constexpr const wchar_t* kJapaneseSample = L"ピョコラン条件設定結果穴数時間秒0123456789：";

// True when face (as installed, not through font linking) has a glyph for every character
// of sample.
bool FaceHasGlyphs(const std::wstring& face, const wchar_t* sample = kJapaneseSample);

// The face to use for wanted: wanted itself when it has the glyphs, else the first of Yu
// Gothic UI, Meiryo, MS UI Gothic, then any face with Japanese glyphs (a proportional one
// first); empty when the system has none. Asked once per name.
std::wstring JapaneseFace(const std::wstring& wanted);

class GdiText {
 public:
  GdiText() = default;
  GdiText(const GdiText&) = delete;
  GdiText& operator=(const GdiText&) = delete;
  ~GdiText();

  // One line of text, height pixels high (the font's cell height), in colour (COLORREF),
  // centred both ways in rect of the surface; the surface shows through around the glyphs.
  // Edges are smoothed in grey only, so no pixel of it can come out as the key colour.
  void Draw(Surface& surface, const Rect& rect, const std::string& text, int32_t height,
            uint32_t colour);

 private:
  bool EnsureBitmap(int32_t width, int32_t height);

  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  uint32_t* bits_ = nullptr;
  int32_t width_ = 0, height_ = 0;
};

}  // namespace pyokoran
