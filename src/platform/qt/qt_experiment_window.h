// The caption-less window that covers the screen during a run and feeds mouse and touch
// input to a PointerHandler, in physical screen pixels. A plain QWindow, so that frames can
// be presented on it through OpenGL (the same window that takes the input, no child) or
// through a backing store; what it shows is up to the display bound to it.
#pragma once

#include <QInputEvent>
#include <QWindow>
#include <functional>

#include "platform/platform.h"

namespace pyokoran {

class QtExperimentWindow : public QWindow {
  Q_OBJECT
 public:
  // A frameless window titled "Experiment Window", in front of owner (the main window's
  // window, or null). opengl: its surface takes OpenGL as well as backing-store pictures.
  // The caller places it over the screen and shows it.
  QtExperimentWindow(QWindow* owner, PointerHandler& handler, bool opengl = false);
  ~QtExperimentWindow() override;

  // Called when the window system needs the picture again (exposed or resized).
  void set_on_expose(std::function<void()> on_expose) { on_expose_ = std::move(on_expose); }
  // When each event delivered to the handler happened, on the tick clock, and whether that is
  // its own time (see PointerHandler::OnEventTime); unset: the handler is not told.
  void set_event_time(
      std::function<bool(const QInputEvent*, int64_t&, EventTimeSource&)> event_time) {
    event_time_ = std::move(event_time);
  }

 protected:
  bool event(QEvent* event) override;
  void exposeEvent(QExposeEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void touchEvent(QTouchEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // A logical position in the window to physical pixels, truncated like the system's
  // hundredths of a pixel.
  int32_t Physical(qreal logical) const;
  void TellTime(const QInputEvent* event);

  PointerHandler& handler_;
  std::function<void()> on_expose_;
  std::function<bool(const QInputEvent*, int64_t&, EventTimeSource&)> event_time_;
};

}  // namespace pyokoran
