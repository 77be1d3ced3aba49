// The real experiment window, headless at a scale factor of 2: mouse and touch reach the
// handler in physical pixels, and mouse events made up from touch are not counted twice.
#include <QPointingDevice>
#include <QTest>
#include <QTouchEvent>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_platform.h"
#include "run/touch_wnd.h"

namespace pyokoran {

class SpyPointer : public PointerHandler {
 public:
  std::vector<std::string> seen;
  void OnButtonDown(MouseButton b, int32_t x, int32_t y) override {
    seen.push_back(Name(b) + " down " + Point(x, y));
  }
  void OnButtonUp(MouseButton b) override { seen.push_back(Name(b) + " up"); }
  void OnMouseMove(int32_t x, int32_t y, bool left_held) override {
    seen.push_back(std::string(left_held ? "drag " : "move ") + Point(x, y));
  }
  void OnTouch(const std::vector<TouchContact>& contacts) override {
    std::string s = "touch";
    for (const TouchContact& c : contacts) {
      s += ' ';
      s += Point(c.x, c.y);
      if (c.up) s += " up";
    }
    seen.push_back(s);
  }
  void OnActivate(bool) override {}
  void OnCloseOrDestroy() override { seen.push_back("close"); }

 private:
  static std::string Name(MouseButton b) { return b == MouseButton::Left ? "left" : "right"; }
  static std::string Point(int32_t x, int32_t y) {
    return std::to_string(x) + "," + std::to_string(y);
  }
};

QStringList Seen(const SpyPointer& spy) {
  QStringList list;
  for (const std::string& s : spy.seen) list << QString::fromStdString(s);
  return list;
}

class QtExperimentWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void isAFramelessWindowThatTakesOpenGL() {
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy, true);
    QCOMPARE(window.title(), QStringLiteral("Experiment Window"));
    QVERIFY(window.flags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(window.surfaceType(), QSurface::OpenGLSurface);
    QCOMPARE(window.devicePixelRatio(), 2.0);
    QtExperimentWindow raster(nullptr, spy);
    QCOMPARE(raster.surfaceType(), QSurface::RasterSurface);
  }

  void mousePressDragAndReleaseInPhysicalPixels() {
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy);
    window.setGeometry(0, 0, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(10, 20));
    QTest::mouseMove(&window, QPoint(30, 40));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(30, 40));
    QTest::mousePress(&window, Qt::RightButton, {}, QPoint(50, 60));
    QTest::mouseMove(&window, QPoint(70, 80));
    QTest::mouseRelease(&window, Qt::RightButton, {}, QPoint(70, 80));
    QTest::mouseClick(&window, Qt::MiddleButton, {}, QPoint(5, 5));
    // A click, then a double click.
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(1, 2));
    QTest::mouseDClick(&window, Qt::LeftButton, {}, QPoint(1, 2));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(1, 2));
    // QTest moves the pointer to every press (a move without the left button), and sends a
    // double click as two clicks.
    QCOMPARE(Seen(spy), (QStringList{"move 20,40", "left down 20,40", "drag 60,80", "left up",
                                     "move 100,120", "right down 100,120", "move 140,160",
                                     "right up", "move 10,10", "move 2,4", "left down 2,4",
                                     "left up", "left down 2,4", "left up", "left down 2,4",
                                     "left up", "left up"}));
  }

  // Two contacts, one moving, then both lifting; Qt's own mouse events for the first contact
  // must not reach the handler.
  void twoContactTouchInPhysicalPixels() {
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy);
    window.setGeometry(0, 0, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    std::unique_ptr<QPointingDevice> owned_device(QTest::createTouchDevice());
    QPointingDevice* device = owned_device.get();
    auto touch_sequence = QTest::touchEvent(&window, device, false);
    touch_sequence.press(0, QPoint(5, 6)).press(1, QPoint(300, 200)).commit();
    touch_sequence.move(0, QPoint(7, 8)).stationary(1).commit();
    touch_sequence.release(0, QPoint(7, 8)).stationary(1).commit();
    touch_sequence.release(1, QPoint(300, 200)).commit();
    QCOMPARE(Seen(spy), (QStringList{"touch 10,12 600,400", "touch 14,16 600,400",
                                     "touch 14,16 up 600,400", "touch 600,400 up"}));

    // The same through the response state: the last lift ends the press once tested.
    CTouchWnd touch;
    QtExperimentWindow window2(nullptr, touch);
    window2.setGeometry(0, 0, 400, 300);
    window2.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window2));
    auto sequence2 = QTest::touchEvent(&window2, device, false);
    sequence2.press(0, QPoint(5, 6)).press(1, QPoint(300, 200)).commit();
    QCOMPARE(touch.point_count, 2);
    QCOMPARE(touch.points[0].x, 10);
    QCOMPARE(touch.points[1].y, 400);
    touch.ResponseTested();
    sequence2.release(0, QPoint(5, 6)).stationary(1).commit();
    QCOMPARE(touch.point_count, 1);
    QCOMPARE(touch.points[0].x, 600);
    sequence2.release(1, QPoint(300, 200)).commit();
    QCOMPARE(touch.pressed, 0);
    QCOMPARE(touch.point_count, 0);
  }

  void mouseMadeUpFromTouchIsIgnored() {
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy);
    QMouseEvent synthesized(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10),
                            QPointF(10, 10), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier,
                            Qt::MouseEventSynthesizedByQt);
    QCoreApplication::sendEvent(&window, &synthesized);
    QVERIFY(spy.seen.empty());
  }

  void closingEndsThePress() {
    CTouchWnd touch;
    {
      QtExperimentWindow window(nullptr, touch);
      window.setGeometry(0, 0, 400, 300);
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(10, 20));
      QCOMPARE(touch.pressed, 1);
      window.close();
      QCOMPARE(touch.pressed, 0);
      QCOMPARE(touch.point_count, 0);
      QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(10, 20));
    }
    QCOMPARE(touch.point_count, 0);  // destroyed with a press under way
  }
};

}  // namespace pyokoran

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::QtExperimentWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_experiment_window_tests.moc"
