#include "run/touch_wnd.h"

namespace pyokoran {

void CTouchWnd::OnButtonDown(MouseButton, int32_t, int32_t) {}
void CTouchWnd::OnButtonUp(MouseButton) {}
void CTouchWnd::OnMouseMove(int32_t, int32_t, bool) {}
void CTouchWnd::OnTouch(const std::vector<TouchContact>&) {}
void CTouchWnd::OnActivate(bool) {}
void CTouchWnd::OnCloseOrDestroy() {}

}  // namespace pyokoran
