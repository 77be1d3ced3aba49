// The caption-less window that covers the screen during a run and feeds mouse and touch
// input to a PointerHandler, in physical screen pixels.
#pragma once

#include <QWidget>

#include "platform/platform.h"

namespace pyokoran {

class QtExperimentWindow : public QWidget {
  Q_OBJECT
 public:
  // A black frameless window titled "Experiment Window", owned by owner (the main window);
  // the caller places it over the screen and shows it.
  QtExperimentWindow(QWidget* owner, PointerHandler& handler);
  ~QtExperimentWindow() override;

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // A logical position in the window to physical pixels, truncated like the system's
  // hundredths of a pixel.
  int32_t Physical(qreal logical) const;

  PointerHandler& handler_;
};

}  // namespace pyokoran
