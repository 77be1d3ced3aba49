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

QtExperimentWindow::QtExperimentWindow(QWindow* owner, PointerHandler& handler, bool opengl)
    : handler_(handler) {
  setTitle(QStringLiteral("Experiment Window"));
  setFlags(Qt::Window | Qt::FramelessWindowHint);
  setSurfaceType(opengl ? QSurface::OpenGLSurface : QSurface::RasterSurface);
  if (owner) setTransientParent(owner);
}

QtExperimentWindow::~QtExperimentWindow() { handler_.OnCloseOrDestroy(); }

int32_t QtExperimentWindow::Physical(qreal logical) const {
  const double pixels = double(logical) * devicePixelRatio();
  if (!std::isfinite(pixels) || std::fabs(pixels) > 1e9) return 0;
  return int32_t(std::trunc(pixels + (pixels >= 0 ? 1e-6 : -1e-6)));
}

void QtExperimentWindow::TellTime(const QInputEvent* event) {
  int64_t tick_us;
  EventTimeSource source;
  if (event_time_ && event_time_(event, tick_us, source)) handler_.OnEventTime(tick_us, source);
}

bool QtExperimentWindow::event(QEvent* event) {
  if (event->type() == QEvent::Close) {
    handler_.OnCloseOrDestroy();
  } else if (event->type() == QEvent::UpdateRequest) {
    if (on_expose_) on_expose_();
    return true;
  }
  return QWindow::event(event);
}

void QtExperimentWindow::exposeEvent(QExposeEvent*) {
  if (isExposed() && on_expose_) on_expose_();
}

void QtExperimentWindow::resizeEvent(QResizeEvent*) {
  if (isExposed()) requestUpdate();
}

void QtExperimentWindow::touchEvent(QTouchEvent* touch) {
  std::vector<TouchContact> contacts;
  contacts.reserve(touch->points().size());
  for (const QEventPoint& point : touch->points()) {
    contacts.push_back({Physical(point.position().x()), Physical(point.position().y()),
                        point.state() == QEventPoint::Released});
  }
  if (touch->type() == QEvent::TouchCancel) {
    // The system took the contacts away: all of them end.
    for (TouchContact& c : contacts) c.up = true;
    if (contacts.empty()) contacts.push_back({0, 0, true});
  }
  TellTime(touch);
  handler_.OnTouch(contacts);
  touch->accept();
}

void QtExperimentWindow::mousePressEvent(QMouseEvent* event) {
  MouseButton button;
  if (FromTouch(event) || !ToButton(event->button(), button)) return;
  TellTime(event);
  handler_.OnButtonDown(button, Physical(event->position().x()), Physical(event->position().y()));
}

void QtExperimentWindow::mouseMoveEvent(QMouseEvent* event) {
  if (FromTouch(event)) return;
  TellTime(event);  // moves teach the event clock too
  handler_.OnMouseMove(Physical(event->position().x()), Physical(event->position().y()),
                       event->buttons().testFlag(Qt::LeftButton));
}

void QtExperimentWindow::mouseReleaseEvent(QMouseEvent* event) {
  MouseButton button;
  if (FromTouch(event) || !ToButton(event->button(), button)) return;
  TellTime(event);
  handler_.OnButtonUp(button);
}

void QtExperimentWindow::focusInEvent(QFocusEvent*) { handler_.OnActivate(true); }

void QtExperimentWindow::focusOutEvent(QFocusEvent*) { handler_.OnActivate(false); }

}  // namespace pyokoran
