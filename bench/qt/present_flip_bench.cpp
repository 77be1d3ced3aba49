// Whether the X Present extension's completion times agree with the picture reaching the X
// server's frame buffer. Under Xvfb (whose Present runs on a fake 60 Hz refresh, with no
// GPU), a window is filled by presenting pixmaps of changing colours; each completion's UST,
// checked against the monotonic clock by round trips and mapped onto it, is compared with
// the moment another thread sees the new colour in the frame buffer Xvfb keeps in -fbdir
// (polled every 100 us; the change is placed in the middle of the two polls around it).
//
//   Xvfb :5 -screen 0 1024x768x24 -fbdir /tmp/fb & DISPLAY=:5 present_flip_bench /tmp/fb [frames]
//
// It prints the clock check, the completion modes, the refresh counter's steps, and UST -
// frame buffer (mean, SD, minimum, maximum) with the polls' own uncertainty.
#include <xcb/present.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/qt/x11_present.h"
#include "platform/tick_thread.h"
#include "xvfb_frame_buffer.h"

namespace {

using pyokoran::TickThread;

struct Seen {
  uint32_t colour;
  int64_t after_ns, before_ns;  // the polls around the change
};

}  // namespace

int main(int argc, char** argv) {
  using namespace pyokoran;
  if (argc < 2) {
    std::fprintf(stderr, "usage: present_flip_bench FBDIR [frames]\n");
    return 2;
  }
  const int frames = argc > 2 ? std::max(10, std::atoi(argv[2])) : 300;
  FrameBuffer fb;
  if (!fb.Open(argv[1])) {
    std::fprintf(stderr, "present_flip_bench: no 32-bit Xvfb_screen0 in %s\n", argv[1]);
    return 1;
  }
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "present_flip_bench: no X display\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint16_t w = screen->width_in_pixels, h = screen->height_in_pixels;
  const xcb_window_t window = xcb_generate_id(c);
  const uint32_t values[] = {screen->black_pixel, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, w, h, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(c, window);
  const xcb_pixmap_t pixmap = xcb_generate_id(c);
  xcb_create_pixmap(c, screen->root_depth, pixmap, window, w, h);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, pixmap, 0, nullptr);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

  std::unique_ptr<X11PresentWatch> watch = X11PresentWatch::Create(window);
  if (!watch) {
    std::fprintf(stderr, "present_flip_bench: no X Present extension\n");
    return 1;
  }
  const UstCheck check = CheckUstClock(watch->Probe(16));
  std::printf("present_flip_bench: Present %u.%u, %s; %d frames of %ux%u\n", watch->major(),
              watch->minor(), DescribeUstCheck(check).c_str(), frames, w, h);
  if (check.kind == UstCheck::Unchecked) return 1;

  // The pixel in the middle of the window, as the frame buffer holds it.
  const uint32_t* middle = fb.Row(h / 2) + w / 2;
  std::atomic<bool> stop{false};
  std::vector<Seen> seen;
  seen.reserve(size_t(frames) + 16);
  std::thread poller([&] {
    uint32_t last = *middle & 0xFFFFFF;
    int64_t previous = TickThread::MonotonicNs();
    while (!stop.load(std::memory_order_relaxed)) {
      const uint32_t now = *reinterpret_cast<const volatile uint32_t*>(middle) & 0xFFFFFF;
      const int64_t t = TickThread::MonotonicNs();
      if (now != last) {
        seen.push_back({now, previous, t});
        last = now;
      }
      previous = t;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });

  std::vector<double> differences, uncertainty;
  int modes[4] = {0, 0, 0, 0};
  int late = 0, missing = 0;
  uint64_t previous_msc = 0;
  std::vector<uint32_t> colours;
  std::vector<int64_t> completed_ns;
  for (int i = 0; i < frames; ++i) {
    // A colour of its own for every frame, never black.
    const uint32_t colour = 0x100000u + uint32_t(i) * 0x010307u % 0xEFFFFFu;
    xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
    const xcb_rectangle_t all{0, 0, w, h};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    xcb_present_pixmap(c, window, pixmap, uint32_t(i + 1), 0, 0, 0, 0, 0, 0, 0,
                       XCB_PRESENT_OPTION_NONE, 0, 0, 0, 0, nullptr);
    xcb_flush(c);
    FrameCompletion done;
    if (!watch->Next(TickThread::MonotonicNs() + 200'000'000, done)) {
      ++missing;
      continue;
    }
    if (done.mode != CompletionMode::Unknown) ++modes[int(done.mode)];
    if (previous_msc != 0 && done.msc > previous_msc + 1) ++late;
    previous_msc = done.msc;
    int64_t ns = 0;
    UstToMonotonicNs(check, done.ust_us, ns);
    colours.push_back(colour & 0xFFFFFF);
    completed_ns.push_back(ns);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop = true;
  poller.join();

  // Each completion against the first time the frame buffer showed its colour.
  int unseen = 0;
  size_t from = 0;
  for (size_t i = 0; i < colours.size(); ++i) {
    size_t j = from;
    while (j < seen.size() && seen[j].colour != colours[i]) ++j;
    if (j == seen.size()) {
      ++unseen;
      continue;
    }
    from = j + 1;
    const int64_t middle_ns = (seen[j].after_ns + seen[j].before_ns) / 2;
    differences.push_back(double(completed_ns[i] - middle_ns) / 1e6);
    uncertainty.push_back(double(seen[j].before_ns - seen[j].after_ns) / 2e6);
  }
  std::printf("  completions: %d copy, %d flip, %d skip, %d suboptimal copy; %d missing; %d "
              "a refresh or more late\n", modes[0], modes[1], modes[2], modes[3], missing, late);
  if (differences.empty()) {
    std::printf("  no frame seen in the frame buffer\n");
    return 1;
  }
  double mean = 0, squares = 0, u = 0;
  for (double d : differences) mean += d / double(differences.size());
  for (double d : differences) squares += (d - mean) * (d - mean);
  for (double d : uncertainty) u += d / double(uncertainty.size());
  std::printf("  UST - frame buffer: %zu frames, mean %+.3f ms, SD %.3f ms, min %+.3f ms, max %+.3f ms "
              "(polls: +-%.3f ms on average); %d colours never seen\n",
              differences.size(), mean,
              differences.size() > 1 ? std::sqrt(squares / double(differences.size() - 1)) : 0.0,
              *std::min_element(differences.begin(), differences.end()),
              *std::max_element(differences.begin(), differences.end()), u, unseen);
  xcb_disconnect(c);
  return 0;
}
