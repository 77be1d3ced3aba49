#include "platform/qt/qt_experiment_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QTouchEvent>
#include <cmath>
#include <vector>

namespace pyokoran {

namespace {

// Mouse events that Qt or the system made up from touch: the touch events already
// reported that contact.
bool FromTouch(const QMouseEvent* event) {
  return event->source() != Qt::MouseEventNotSynthesized;
}

bool ToButton(Qt::MouseButton qt_button, MouseButton& button) {
  if (qt_button == Qt::LeftButton) {
    button = MouseButton::Left;
  } else if (qt_button == Qt::RightButton) {
    button = MouseButton::Right;
  } else {
    return false;
  }
  return true;
}

}  // namespace

QtExperimentWindow::QtExperimentWindow(QWidget* owner, PointerHandler& handler)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint), handler_(handler) {
  setWindowTitle(QStringLiteral("Experiment Window"));
  setAttribute(Qt::WA_AcceptTouchEvents);
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::black);
  setPalette(p);
}

QtExperimentWindow::~QtExperimentWindow() { handler_.OnCloseOrDestroy(); }

int32_t QtExperimentWindow::Physical(qreal logical) const {
  const double pixels = double(logical) * devicePixelRatio();
  if (!std::isfinite(pixels) || std::fabs(pixels) > 1e9) return 0;
  return int32_t(std::trunc(pixels + (pixels >= 0 ? 1e-6 : -1e-6)));
}

bool QtExperimentWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel: {
      auto* touch = static_cast<QTouchEvent*>(event);
      std::vector<TouchContact> contacts;
      contacts.reserve(touch->points().size());
      for (const QEventPoint& point : touch->points()) {
        contacts.push_back({Physical(point.position().x()), Physical(point.position().y()),
                            point.state() == QEventPoint::Released});
      }
      if (event->type() == QEvent::TouchCancel) {
        // The system took the contacts away: all of them end.
        for (TouchContact& c : contacts) c.up = true;
        if (contacts.empty()) contacts.push_back({0, 0, true});
      }
      handler_.OnTouch(contacts);
      event->accept();
      return true;
    }
    default:
      return QWidget::event(event);
  }
}

void QtExperimentWindow::mousePressEvent(QMouseEvent* event) {
  MouseButton button;
  if (FromTouch(event) || !ToButton(event->button(), button)) return;
  handler_.OnButtonDown(button, Physical(event->position().x()), Physical(event->position().y()));
}

void QtExperimentWindow::mouseMoveEvent(QMouseEvent* event) {
  if (FromTouch(event)) return;
  handler_.OnMouseMove(Physical(event->position().x()), Physical(event->position().y()),
                       event->buttons().testFlag(Qt::LeftButton));
}

void QtExperimentWindow::mouseReleaseEvent(QMouseEvent* event) {
  MouseButton button;
  if (FromTouch(event) || !ToButton(event->button(), button)) return;
  handler_.OnButtonUp(button);
}

void QtExperimentWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) handler_.OnActivate(isActiveWindow());
  QWidget::changeEvent(event);
}

void QtExperimentWindow::closeEvent(QCloseEvent* event) {
  handler_.OnCloseOrDestroy();
  event->accept();
}

}  // namespace pyokoran
