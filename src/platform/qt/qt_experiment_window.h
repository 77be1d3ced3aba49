// The caption-less window that covers the screen during a run and feeds mouse and touch
// input to a PointerHandler.
#pragma once

#include <QWidget>

#include "platform/platform.h"

namespace pyokoran {

class QtExperimentWindow : public QWidget {
  Q_OBJECT
 public:
  QtExperimentWindow(QWidget* owner, PointerHandler& handler);
  ~QtExperimentWindow() override;

 private:
  PointerHandler& handler_;
};

}  // namespace pyokoran
