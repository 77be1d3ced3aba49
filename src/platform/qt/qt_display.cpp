#include "platform/qt/qt_display.h"

namespace pyokoran {

bool QtDisplay::Init() { return true; }
void QtDisplay::Bind(QWidget* window) { window_ = window; }
void QtDisplay::Present(const Surface&, const Rect&) {}
void QtDisplay::Shutdown() { window_ = nullptr; }
void QtDisplay::DrawText(Surface&, const Rect&, const std::string&, int32_t, uint32_t) {}

}  // namespace pyokoran
