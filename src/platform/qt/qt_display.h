// Presenting the stage on screen and drawing text into surfaces, over Qt.
#pragma once

#include <cstdint>
#include <string>

#include "display/surface.h"
#include "platform/platform.h"

class QWidget;

namespace pyokoran {

class QtDisplay {
 public:
  // False when the screen cannot be presented to.
  bool Init();
  // Frames go to this window (the one covering the screen) from now on.
  void Bind(QWidget* window);
  // The stage stretched into stage_rect of the bound window, paced by the display.
  void Present(const Surface& stage, const Rect& stage_rect);
  void Shutdown();
  static void DrawText(Surface& surface, const Rect& rect, const std::string& text,
                       int32_t height, uint32_t colour);

 private:
  QWidget* window_ = nullptr;
};

}  // namespace pyokoran
