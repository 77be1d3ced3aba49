#include "platform/qt/qt_experiment_window.h"

namespace pyokoran {

QtExperimentWindow::QtExperimentWindow(QWidget* owner, PointerHandler& handler)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint), handler_(handler) {
  setWindowTitle("Experiment Window");
}

QtExperimentWindow::~QtExperimentWindow() { handler_.OnCloseOrDestroy(); }

}  // namespace pyokoran
