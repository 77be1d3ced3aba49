// Pointer and touch input as the system reports it, turned into the experiment window's
// handler calls, and the time of a press mapped onto the tick clock.
//
// Pointer messages (WM_POINTERDOWN, ...UPDATE, ...UP) carry one pointer each, with the frame
// of all pointers of its kind that changed together; a mouse made to report as a pointer
// (EnableMouseInPointer) comes the same way. Touch frames become touch events (contacts down
// or moving are positions, lifted or cancelled ones are dropped), mouse and pen pointers
// become button and move events. Where pointer messages are not available, WM_TOUCH gives
// touch inputs in hundredths of a pixel.
//
// No Windows types: the platform copies what it needs out of POINTER_INFO and TOUCHINPUT.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace pyokoran {

// What changed about a pointer's buttons in its message (POINTER_BUTTON_CHANGE_TYPE).
enum class ButtonChange { None, FirstDown, FirstUp, SecondDown, SecondUp, Other };

struct PointerSample {
  enum class Kind { Mouse, Touch, Pen } kind = Kind::Mouse;
  int32_t x = 0;  // client pixels
  int32_t y = 0;
  bool in_contact = false;    // POINTER_FLAG_INCONTACT
  bool up = false;            // POINTER_FLAG_UP: it lifted in this frame
  bool canceled = false;      // POINTER_FLAG_CANCELED: the system took it away
  bool first_button = false;  // POINTER_FLAG_FIRSTBUTTON: left button (pen tip) held
  ButtonChange change = ButtonChange::None;
  uint64_t performance_count = 0;  // POINTER_INFO.PerformanceCount (0: not timed)
};

// Delivers one pointer message: frame holds the pointers of its frame, message_pointer the
// index of the one the message is about. time_us goes to OnEventTime, with source, before a
// button or touch event, when has_time.
void DeliverPointerMessage(const std::vector<PointerSample>& frame, size_t message_pointer,
                           PointerHandler& handler, bool has_time, int64_t time_us,
                           EventTimeSource source = EventTimeSource::Event);

// One input of a WM_TOUCH message.
struct TouchInputSample {
  int32_t x_hundredths = 0;  // screen coordinates in hundredths of a pixel
  int32_t y_hundredths = 0;
  bool up = false;           // TOUCHEVENTF_UP
};
// The contacts of a WM_TOUCH message in screen pixels (truncated toward zero), offset by the
// window's screen origin to client pixels.
std::vector<TouchContact> TouchContactsOf(const std::vector<TouchInputSample>& inputs,
                                          int32_t origin_x, int32_t origin_y);

// The tick-clock time of an input the system timed at input_count on the performance
// counter (0: not timed), which reached the program at arrival_count, that is arrival_us on
// the tick clock: the input's own time where it lies within kMaxEventDelayUs before the
// arrival, else the arrival. Never later than the arrival. mapped (if given) tells which.
int64_t PressTimeUs(uint64_t input_count, uint64_t arrival_count, int64_t frequency,
                    int64_t arrival_us, bool* mapped = nullptr);

}  // namespace pyokoran
