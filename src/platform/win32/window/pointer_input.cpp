#include "platform/win32/window/pointer_input.h"

#include "timing/event_clock.h"

namespace pyokoran {

namespace {

void DeliverTouch(const std::vector<PointerSample>& frame, PointerHandler& handler,
                  bool has_time, int64_t time_us, EventTimeSource source) {
  std::vector<TouchContact> contacts;
  contacts.reserve(frame.size());
  for (const PointerSample& p : frame) {
    if (p.kind != PointerSample::Kind::Touch) continue;
    contacts.push_back({p.x, p.y, p.up || p.canceled || !p.in_contact});
  }
  if (has_time) handler.OnEventTime(time_us, source);
  handler.OnTouch(contacts);
}

}  // namespace

void DeliverPointerMessage(const std::vector<PointerSample>& frame, size_t message_pointer,
                           PointerHandler& handler, bool has_time, int64_t time_us,
                           EventTimeSource source) {
  if (message_pointer >= frame.size()) return;
  const PointerSample& p = frame[message_pointer];
  if (p.kind == PointerSample::Kind::Touch) {
    DeliverTouch(frame, handler, has_time, time_us, source);
    return;
  }
  // Mouse and pen: the button that changed, else a move.
  auto button = [&](MouseButton b, bool down) {
    if (has_time) handler.OnEventTime(time_us, source);
    if (down) {
      handler.OnButtonDown(b, p.x, p.y);
    } else {
      handler.OnButtonUp(b);
    }
  };
  if (p.canceled) {
    button(MouseButton::Left, false);
    return;
  }
  switch (p.change) {
    case ButtonChange::FirstDown: button(MouseButton::Left, true); return;
    case ButtonChange::FirstUp: button(MouseButton::Left, false); return;
    case ButtonChange::SecondDown: button(MouseButton::Right, true); return;
    case ButtonChange::SecondUp: button(MouseButton::Right, false); return;
    case ButtonChange::None:
    case ButtonChange::Other: break;
  }
  handler.OnMouseMove(p.x, p.y, p.first_button);
}

std::vector<TouchContact> TouchContactsOf(const std::vector<TouchInputSample>& inputs,
                                          int32_t origin_x, int32_t origin_y) {
  std::vector<TouchContact> contacts;
  contacts.reserve(inputs.size());
  for (const TouchInputSample& in : inputs) {
    contacts.push_back({in.x_hundredths / 100 - origin_x, in.y_hundredths / 100 - origin_y, in.up});
  }
  return contacts;
}

int64_t PressTimeUs(uint64_t input_count, uint64_t arrival_count, int64_t frequency,
                    int64_t arrival_us, bool* mapped) {
  if (mapped) *mapped = false;
  if (input_count == 0 || frequency <= 0 || input_count > arrival_count) return arrival_us;
  const uint64_t counts = arrival_count - input_count;
  if (counts > uint64_t(frequency)) return arrival_us;  // over a second: and no overflow below
  const int64_t delay_us = int64_t(counts * 1000000u / uint64_t(frequency));
  if (delay_us > kMaxEventDelayUs) return arrival_us;
  if (mapped) *mapped = true;
  return arrival_us - delay_us;
}

}  // namespace pyokoran
