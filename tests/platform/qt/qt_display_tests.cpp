// QtDisplay on the offscreen platform: text into surfaces, presenting into a window, and a
// composed frame of the sample stimuli saved as composed_frame.png next to the test.
// The program's headers come before Qt's: Qt's keyword macro "slots" would eat the
// fields of that name.
#include "app/program.h"
#include "display/surfaces.h"
#include "run/frame.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"
#include "run/touch_wnd.h"

#include "platform/qt/qt_display.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/x11_present.h"
#include "platform/tick_thread.h"

#include <xcb/present.h>
#include <xcb/xcb.h>

#include <QBackingStore>
#include <array>
#include <QCoreApplication>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <QtMath>
#include <filesystem>
#include <memory>
#include <thread>

#undef slots

namespace pyokoran {

namespace {

// Bounding box of the pixels brighter than black, and whether all of them are grey.
struct Ink {
  int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1, count = 0;
  bool grey = true;
  bool top_byte_clear = true;
};
Ink FindInk(const Surface& s) {
  Ink ink;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      uint32_t p = s.at(x, y);
      if (p >> 24) ink.top_byte_clear = false;
      if ((p & 0xFFFFFF) == 0) continue;
      ++ink.count;
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
      if ((p >> 16 & 0xFF) != (p & 0xFF) || (p >> 8 & 0xFF) != (p & 0xFF)) ink.grey = false;
    }
  }
  return ink;
}

// What the window shows (the offscreen platform crops this on scaled screens, so it is only
// looked at unscaled).
QImage Grab(QWindow& window) {
  return QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage().convertToFormat(
      QImage::Format_RGB32);
}

// The window painted afresh, as after an expose, in physical pixels.
QImage Repaint(QtDisplay& display) {
  display.Repaint();
  return display.BackingStoreImage();
}

uint32_t At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

class SpyPointer : public PointerHandler {
 public:
  void OnButtonDown(MouseButton, int32_t, int32_t) override {}
  void OnButtonUp(MouseButton) override {}
  void OnMouseMove(int32_t, int32_t, bool) override {}
  void OnTouch(const std::vector<TouchContact>&) override {}
  void OnActivate(bool) override {}
  void OnCloseOrDestroy() override {}
};

}  // namespace

class QtDisplayTest : public QObject {
  Q_OBJECT
 public:
  explicit QtDisplayTest(QtPlatform& platform) : platform_(platform) {}

 private Q_SLOTS:
  void statusTextIsWhiteGreyEdgedAndCentred() {
    QCOMPARE(QFontInfo(QFont(QString::fromUtf8("ＭＳ Ｐゴシック"))).family(),
             QStringLiteral("IPAPGothic"));
    Surface band(420, 32);
    platform_.DrawText(band, Rect{0, 0, 420, 32},
                       FormatStatusText(123456, 12, 3, 4, 5), 18, 0xFFFFFF);  // no leading blanks
    Ink ink = FindInk(band);
    QVERIFY(ink.count > 200);
    QVERIFY2(ink.grey, "edges blend grey, never coloured (the key is pure green)");
    QVERIFY(ink.top_byte_clear);
    QVERIFY2(std::abs(ink.left - (419 - ink.right)) <= 3, "centred across");
    QVERIFY2(std::abs(ink.top - (31 - ink.bottom)) <= 3, "centred down");
    QVERIFY(ink.bottom - ink.top + 1 >= 12 && ink.bottom - ink.top + 1 <= 22);
    QVERIFY(ink.right - ink.left > 200);

    // The colour is a COLORREF: 0x0000FF is red.
    Surface red(100, 32);
    platform_.DrawText(red, Rect{0, 0, 100, 32}, "■", 18, 0x0000FF);
    QCOMPARE(red.at(50, 16), 0x00FF0000u);
    // Degenerate surfaces and rectangles are ignored.
    Surface empty;
    platform_.DrawText(empty, Rect{0, 0, 10, 10}, "x", 18, 0xFFFFFF);
    platform_.DrawText(red, Rect{50, 50, -10, -10}, "x", 0, 0xFFFFFF);
  }

  // A present while the window is hidden does not go out: it is neither counted nor given a
  // time, not even the previous frame's; the next one after the window is back is.
  void hiddenWindowPresentHasNoTime() {
    QWindow window;
    window.setFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.Bind(&window, true);
    Surface stage(kStageWidth, kStageHeight);
    const Rect rect = FitStage(platform_.GetScreenSize().width, platform_.GetScreenSize().height);
    display.Present(stage, rect);
    QVERIFY(!display.last_present_failed());
    QVERIFY(display.last_present_ns() != 0);
    QCOMPARE(display.stats().presented, 1);

    window.hide();
    std::fill(stage.pixels.begin(), stage.pixels.end(), 0x00FF00u);
    display.Present(stage, rect);
    QVERIFY(display.last_present_failed());
    QCOMPARE(display.last_present_ns(), int64_t(0));
    QCOMPARE(display.stats().presented, 1);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int64_t before = TickThread::MonotonicNs();
    display.Present(stage, rect);
    QVERIFY(!display.last_present_failed());
    QVERIFY(display.last_present_ns() >= before);
    QCOMPARE(display.stats().presented, 2);
    display.Bind(nullptr, false);
  }

  void presentStretchesTheStageBetweenBlackBars() {
    QWindow window;
    window.setFlags(Qt::Window | Qt::FramelessWindowHint);
    QScreen* screen = QGuiApplication::primaryScreen();
    window.setGeometry(screen->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Physical pixels, also when the screen is scaled (QT_SCALE_FACTOR=2 in a second run).
    const ScreenSize physical = platform_.GetScreenSize();
    const int sw = physical.width, sh = physical.height;
    qInfo("screen %d x %d physical, device pixel ratio %.2f", sw, sh, window.devicePixelRatio());

    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.Bind(&window, true);
    // Stage: left half red, right half blue.
    Surface stage(kStageWidth, kStageHeight);
    for (int y = 0; y < stage.height; ++y)
      for (int x = 0; x < stage.width; ++x) stage.row(y)[x] = x < 512 ? 0xFF0000 : 0x0000FF;
    Rect rect = FitStage(sw, sh);
    display.Present(stage, rect);
    QCOMPARE(display.stats().presented, 1);

    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 0 && window.devicePixelRatio() != 1.0) continue;
      QImage shown = pass == 0 ? Grab(window) : Repaint(display);
      QCOMPARE(shown.width(), sw);
      QCOMPARE(shown.height(), sh);
      auto centre_y = (rect.top + rect.bottom) / 2;
      QCOMPARE(At(shown, rect.left + 5, centre_y), 0xFF0000u);
      QCOMPARE(At(shown, rect.right - 5, centre_y), 0x0000FFu);
      if (rect.top > 0) {
        QCOMPARE(At(shown, sw / 2, rect.top - 1), 0u);
        QCOMPARE(At(shown, sw / 2, rect.bottom), 0u);
      }
      if (rect.left > 0) QCOMPARE(At(shown, rect.left - 1, centre_y), 0u);
    }
    display.Bind(nullptr, false);
    display.Present(stage, rect);
    QCOMPARE(display.stats().presented, 1);
  }

  // Only what changed is sent, narrowed from the areas named (or found by comparing when
  // none are named); what the window shows, read back from the window system, must be the
  // stage scaled to the nearest pixel with black around it after every kind of change. On
  // X11 once through memory shared with the server and once through Qt's backing store.
  void changedPartsShowAsTheWholeStageScaled_data() {
    QTest::addColumn<bool>("backing_store_only");
    QTest::addColumn<bool>("named");
    QTest::newRow("shared picture, areas named") << false << true;
    QTest::newRow("shared picture, compared") << false << false;
    QTest::newRow("backing store, areas named") << true << true;
    QTest::newRow("backing store, compared") << true << false;
  }
  void changedPartsShowAsTheWholeStageScaled() {
    QFETCH(bool, backing_store_only);
    QFETCH(bool, named);
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy, QtDisplay::OpenGLAvailable());
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (window.devicePixelRatio() != 1.0) QSKIP("the window is only read back unscaled");
    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.set_backing_store_only(backing_store_only);
    Surface stage(kStageWidth, kStageHeight);
    for (int y = 0; y < stage.height; ++y)
      for (int x = 0; x < stage.width; ++x) stage.row(y)[x] = uint32_t(x * 0x10307 ^ y * 0x3011) & 0xFFFFFF;
    const ScreenSize physical = platform_.GetScreenSize();
    const Rect rect = FitStage(physical.width, physical.height);
    display.Bind(&window, true);
    const bool x11 = QGuiApplication::platformName() == QStringLiteral("xcb");
    QCOMPARE(display.shared_picture(), x11 && !backing_store_only);
    display.Present(stage, rect);

    auto expected = [&] {
      QImage image(physical.width, physical.height, QImage::Format_RGB32);
      const int w = rect.right - rect.left, h = rect.bottom - rect.top;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
          uint32_t p = 0;
          if (x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom) {
            p = stage.at(int((int64_t(2 * (x - rect.left) + 1) * kStageWidth) / (2 * w)),
                         int((int64_t(2 * (y - rect.top) + 1) * kStageHeight) / (2 * h)));
          }
          image.setPixel(x, y, 0xFF000000u | p);
        }
      }
      return image;
    };
    auto differing = [&](const QImage& shown) {
      const QImage want = expected();
      if (shown.size() != want.size()) return -1;
      int wrong = 0;
      for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x) wrong += At(shown, x, y) != At(want, x, y);
      return wrong;
    };
    // Each change, and the areas the composer would name for it (larger, as a hole's cell
    // is, or overlapping, as the status band and a hole): across tile edges, odd sizes, one
    // pixel, the stage's edges, nothing at all.
    struct Change {
      const char* what;
      Rect pixels;
      std::vector<Rect> areas;
    };
    const Change changes[] = {
        {"across tile edges", {60, 60, 70, 70}, {{0, 0, 128, 128}}},
        {"left column", {0, 0, 3, 767}, {{0, 0, 3, 768}}},
        {"bottom right corner", {1020, 700, 1024, 768}, {{960, 640, 1024, 768}}},
        {"top row", {500, 0, 530, 1}, {{500, 0, 530, 1}}},
        {"one pixel", {333, 211, 334, 212}, {{300, 200, 400, 300}}},
        {"right column", {1023, 0, 1024, 768}, {{1000, 0, 1024, 768}}},
        {"bottom row", {0, 767, 1024, 768}, {{0, 700, 1024, 768}}},
        {"an odd box", {101, 37, 358, 290}, {{99, 35, 360, 292}}},
        {"overlapping areas", {250, 500, 330, 560}, {{200, 480, 300, 580}, {240, 520, 420, 540}, {290, 490, 340, 561}}},
        {"nothing", {0, 0, 0, 0}, {{400, 400, 500, 500}}},
    };
    uint32_t colour = 0x102030;
    for (const Change& c : changes) {
      colour = (colour * 0x9E3779B1u + 0x7F4A7C15u) & 0xFFFFFF;
      for (int y = c.pixels.top; y < c.pixels.bottom; ++y)
        for (int x = c.pixels.left; x < c.pixels.right; ++x) stage.row(y)[x] = colour;
      const std::vector<Rect>& areas = c.areas;
      display.Present(stage, rect, named ? &areas : nullptr);
      if (x11) {
        const int wrong = differing(Grab(window));
        QVERIFY2(wrong == 0, qPrintable(QString("on screen after %1: %2 pixels differ").arg(c.what).arg(wrong)));
      }
      const int wrong = differing(display.BackingStoreImage());
      QVERIFY2(wrong == 0, qPrintable(QString("in the picture after %1: %2 pixels differ").arg(c.what).arg(wrong)));
    }
    // Exposed again: the whole window is sent afresh from what is on screen.
    const int wrong = differing(Repaint(display));
    QVERIFY2(wrong == 0, qPrintable(QString("repainted: %1 pixels differ").arg(wrong)));
    if (x11) QCOMPARE(differing(Grab(window)), 0);
    display.Bind(nullptr, false);
  }

  // A click on a pixel of the stage as drawn in the experiment window maps back to that
  // stage pixel, wherever the primary screen lies among the screens.
  void clickMapsToTheStagePixelDrawnUnderIt() {
    FullScreenDisplay display;
    QCOMPARE(InitDisplay(platform_, display), 1);
    CTouchWnd touch;
    QVERIFY(platform_.CreateExperimentWindow(touch));
    QWindow& window = *platform_.experiment_window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BindClipper(platform_, display, WindowId::Experiment);
    Surface& stage = display.stage.surface;
    std::fill(stage.pixels.begin(), stage.pixels.end(), 0u);
    for (int y = 500; y < 508; ++y)
      for (int x = 700; x < 708; ++x) stage.row(y)[x] = 0xFFFFFF;
    PresentFrame(platform_, display);

    const QImage shown = Repaint(*platform_.display());
    QPoint found(-1, -1);
    for (int y = 0; y < shown.height() && found.x() < 0; ++y)
      for (int x = 0; x < shown.width() && found.x() < 0; ++x)
        if (At(shown, x, y) == 0xFFFFFFu) found = QPoint(x, y);
    QVERIFY2(found.x() >= 0, "the stage is not in the window");
    const qreal ratio = window.devicePixelRatio();
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(qCeil(found.x() / ratio), qCeil(found.y() / ratio)));
    // The click ended before any test of the run saw it: it waits among the ended presses.
    QCOMPARE(touch.ended_unseen.size(), size_t(1));
    const ScreenPoint clicked = touch.ended_unseen[0].point;
    const StagePoint p = ScreenToStage(display.geometry, clicked.x, clicked.y);
    QVERIFY2(p.x >= 700 && p.x < 708 && p.y >= 500 && p.y < 508,
             qPrintable(QString("drawn at %1,%2, clicked as %3,%4").arg(found.x()).arg(found.y()).arg(p.x).arg(p.y)));
    BindClipper(platform_, display, WindowId::Main);
    platform_.DestroyExperimentWindow();
    ShutdownDisplay(platform_, display);
  }

  void latePresentsCountAsDroppedOnlyWhileFramesFollowEachOther() {
    QWindow window;
    window.setFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.Bind(&window, true);
    Surface stage(kStageWidth, kStageHeight);
    Rect rect = FitStage(800, 800);
    auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); };

    display.Present(stage, rect);
    display.NoteLoopPass();
    pause();
    display.Present(stage, rect);  // one pass, late: dropped
    QCOMPARE(display.stats().dropped, 1);
    display.NoteLoopPass();
    display.NoteLoopPass();
    pause();
    display.Present(stage, rect);  // the loop went round without presenting: a pause
    QCOMPARE(display.stats().dropped, 1);
    QCOMPARE(display.stats().presented, 3);
    QVERIFY(display.stats().longest_gap_ms >= 60);
  }

  void pacedPresentsKeepToTheRefresh() {
    QWindow window;
    window.setFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtDisplay display;
    QVERIFY(display.Init());
    display.Bind(&window, true);
    Surface stage(kStageWidth, kStageHeight);
    const double period_ms = 1000.0 / display.stats().refresh_hz;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i) display.Present(stage, FitStage(800, 800));
    double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // Six presents wait for six refreshes: at least five whole intervals.
    QVERIFY2(elapsed >= 5 * period_ms, qPrintable(QString::number(elapsed)));
    display.Bind(nullptr, false);
  }

  // OpenGL needs an X server (run again under Xvfb by CTest): the frame drawn through the
  // texture, read back, is the stage scaled to the nearest pixel with black around it, also
  // after an update of a few tiles.
  void openGLFrameIsTheStageScaled() {
    if (!QtDisplay::OpenGLAvailable()) QSKIP("no OpenGL on this platform");
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy, true);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    qputenv(kPresentModeVariable, "locked");
    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.set_read_back(true);
    display.Bind(&window, true);
    qunsetenv(kPresentModeVariable);
    QVERIFY(display.locked());

    const ScreenSize physical = platform_.GetScreenSize();
    const Rect rect = FitStage(physical.width, physical.height);
    Surface stage(kStageWidth, kStageHeight);
    for (int y = 0; y < stage.height; ++y)
      for (int x = 0; x < stage.width; ++x) stage.row(y)[x] = uint32_t((x * 0x10307) ^ (y * 0x3011)) & 0xFFFFFF;
    auto check = [&](const char* when) {
      const QImage& shown = display.read_back();
      QCOMPARE(shown.width(), physical.width);
      QCOMPARE(shown.height(), physical.height);
      const int w = rect.right - rect.left, h = rect.bottom - rect.top;
      int wrong = 0;
      for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
          const uint32_t got = shown.pixel(x, y) & 0xFFFFFF;
          if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) {
            wrong += got != 0;
            continue;
          }
          // The pixel under the centre; where the centre falls on a texel edge (both ways,
          // at times), rounding may take a neighbour.
          const int sx = int((int64_t(2 * (x - rect.left) + 1) * kStageWidth) / (2 * w));
          const int sy = int((int64_t(2 * (y - rect.top) + 1) * kStageHeight) / (2 * h));
          bool ok = false;
          for (int dy = -1; dy <= 1 && !ok; ++dy)
            for (int dx = -1; dx <= 1 && !ok; ++dx) {
              const int tx = std::clamp(sx + dx, 0, kStageWidth - 1), ty = std::clamp(sy + dy, 0, kStageHeight - 1);
              ok = got == stage.at(tx, ty);
            }
          wrong += !ok;
        }
      }
      QVERIFY2(wrong == 0, qPrintable(QString("%1: %2 pixels differ").arg(when).arg(wrong)));
    };
    display.Present(stage, rect);
    check("whole frame");
    std::vector<Rect> changed = {{60, 60, 200, 130}, {1000, 700, 1024, 768}};
    for (const Rect& r : changed)
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) stage.row(y)[x] = 0xFF8000;
    display.Present(stage, rect, &changed);
    check("after a partial update");
    QCOMPARE(display.read_back().pixel(rect.left + (100 * (rect.right - rect.left)) / 1024,
                                       rect.top + (100 * (rect.bottom - rect.top)) / 768) & 0xFFFFFF,
             0xFF8000u);
    display.Bind(nullptr, false);
  }

  // Under Xvfb the swaps do not wait for a refresh: the check must say so and fail.
  // Under an X server: the Present extension is found on the experiment window, its clock
  // is proved to be the monotonic one by round trips (as Mesa and the X server keep UST on
  // Linux), and a forced locked run names where its frame times come from. Where the swaps
  // go through Present (DRI3), every frame has a completion on a later refresh, timed within
  // the swap; software OpenGL on Xvfb copies without Present, and the record says so.
  void frameTimeSourceIsFoundAndSaid() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X server");
    if (!QtDisplay::OpenGLAvailable()) QSKIP("no OpenGL on this platform");
    SpyPointer spy;
    QtExperimentWindow window(nullptr, spy, true);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    std::unique_ptr<X11PresentWatch> watch = X11PresentWatch::Create(uint32_t(window.winId()));
    QVERIFY2(watch, "no X Present extension");
    const std::vector<UstProbe> probes = watch->Probe(8);
    QCOMPARE(int(probes.size()), 8);
    const UstCheck check = CheckUstClock(probes);
    qInfo("Present %u.%u: %s", watch->major(), watch->minor(), DescribeUstCheck(check).c_str());
    QCOMPARE(int(check.kind), int(UstCheck::Monotonic));
    // Pictures presented on the window (as Mesa presents a swap through DRI3) are reported
    // once each, on successive refreshes, at a time within their round trip.
    {
      xcb_connection_t* c = xcb_connect(nullptr, nullptr);
      QVERIFY(!xcb_connection_has_error(c));
      const xcb_pixmap_t pixmap = xcb_generate_id(c);
      xcb_create_pixmap(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root_depth, pixmap,
                        uint32_t(window.winId()), 16, 16);
      uint64_t previous_msc = 0;
      for (uint32_t i = 1; i <= 5; ++i) {
        const int64_t before = TickThread::MonotonicNs();
        xcb_present_pixmap(c, uint32_t(window.winId()), pixmap, i, 0, 0, 0, 0, 0, 0, 0,
                           XCB_PRESENT_OPTION_NONE, 0, 0, 0, 0, nullptr);
        xcb_flush(c);
        FrameCompletion done;
        QVERIFY(watch->Next(before + 500'000'000, done));
        int64_t at = 0;
        QVERIFY(UstToMonotonicNs(check, done.ust_us, at));
        QVERIFY(at >= before - 1000 && at <= TickThread::MonotonicNs());
        QVERIFY(done.mode == CompletionMode::Copy || done.mode == CompletionMode::Flip);
        QVERIFY(done.msc > previous_msc);
        previous_msc = done.msc;
      }
      QCOMPARE(watch->Drain(), 0);
      xcb_free_pixmap(c, pixmap);
      xcb_disconnect(c);
    }
    watch.reset();

    qputenv(kPresentModeVariable, "locked");
    QtDisplay display;
    QVERIFY(display.Init());
    display.set_self_pacing(false);
    display.Bind(&window, true);
    qunsetenv(kPresentModeVariable);
    QVERIFY(display.locked());
    Surface stage(kStageWidth, kStageHeight);
    const Rect rect = FitStage(platform_.GetScreenSize().width, platform_.GetScreenSize().height);
    uint64_t previous_msc = 0;
    for (int frame = 0; frame < 30; ++frame) {
      std::fill(stage.pixels.begin(), stage.pixels.end(), uint32_t(frame * 0x010101));
      const int64_t before = TickThread::MonotonicNs();
      display.Present(stage, rect);
      const int64_t after = TickThread::MonotonicNs();
      QVERIFY(!display.last_present_failed());
      QVERIFY(display.last_present_ns() >= before && display.last_present_ns() <= after);
      const FrameCompletion* c = display.last_completion();
      if (display.frame_time_source() == QtDisplay::FrameTimeSource::SwapReturn) {
        QVERIFY(!c);
        continue;
      }
      QVERIFY2(c, "a locked frame without its completion");
      QVERIFY(c->msc > previous_msc);
      previous_msc = c->msc;
    }
    const PresentationReport report = display.Report();
    qInfo("frame times: %s", report.flip_source.c_str());
    QCOMPARE(report.frames, 30);
    switch (display.frame_time_source()) {
      case QtDisplay::FrameTimeSource::Present:
        QVERIFY(report.flip_source.rfind("X Present completion (UST proved monotonic", 0) == 0);
        break;
      case QtDisplay::FrameTimeSource::Oml:
        QVERIFY(report.flip_source.rfind("GLX_OML_sync_control", 0) == 0);
        break;
      case QtDisplay::FrameTimeSource::SwapReturn:
        QVERIFY(report.flip_source.find("did not go through X Present") != std::string::npos);
        QVERIFY(report.flip_source.find("no GLX_OML_sync_control") != std::string::npos);
        break;
    }
    display.Bind(nullptr, false);
  }

  void timingCheckReportsTheFallbackHonestly() {
    if (!QtDisplay::OpenGLAvailable()) QSKIP("no OpenGL on this platform");
    PresentationReport report;
    QVERIFY(platform_.RunPresentationCheck(report));
    const TimingVerdict verdict = JudgeTimingCheck(report);
    qInfo("%s", verdict.text.c_str());
    QCOMPARE(QString::fromStdString(report.mode), QStringLiteral("fallback"));
    QVERIFY(!verdict.pass);
    QVERIFY(report.swap_samples >= kMinSwapIntervals);
    QVERIFY(report.frames > 100);
    QVERIFY(verdict.text.find("refresh lock: FAIL") != std::string::npos);
    QVERIFY(verdict.text.find("reason: swaps do not wait for the refresh") != std::string::npos);
    QVERIFY(verdict.text.size() > 5 && verdict.text.compare(verdict.text.size() - 5, 5, "FAIL\n") == 0);
  }

  void composedFrameOfTheSampleStimuli() {
    auto program = std::make_unique<Program>(platform_);
    QCOMPARE(InitDisplay(platform_, program->display), 1);
    // 15 holes in the ordered rows; a few creatures at different heights.
    program->settings.n_holes = 15;
    const int xs[5] = {118, 314, 510, 706, 902}, ys[3] = {141, 383, 625};
    for (int h = 0; h < 15; ++h) program->layout.holes[h] = {xs[h % 5], ys[h / 5]};
    const std::filesystem::path build = QCoreApplication::applicationDirPath().toStdString();
    {
      std::filesystem::path previous = std::filesystem::current_path();
      std::filesystem::current_path(PYOKORAN_SOURCE_DIR);
      QVERIFY(std::filesystem::exists("stim/dstpokko2.bmp"));
      int loaded = LoadStimuli(*program);
      std::filesystem::current_path(previous);
      QCOMPARE(loaded, 1);
    }
    StimulusSet& s = program->stimuli;
    for (int h = 0; h < 15; ++h) BltAt(program->display, s.composite_surface[h], 0, 0, s.base_surface[h], NO_KEY);
    struct {
      int target, hole, depth, hit;
    } creatures[] = {{1, 0, 0, 0}, {1, 6, 40, 0}, {1, 12, 0, 1}, {0, 3, 0, 0},
                     {0, 8, 80, 0}, {0, 14, 0, 1}, {1, 10, 124, 0}};
    Scheduler& sched = program->scheduler;
    sched.creature_count = int32_t(std::size(creatures));
    for (int i = 0; i < sched.creature_count; ++i) {
      CreatureSlot& c = sched.slots[i];
      c.target = creatures[i].target, c.hole = creatures[i].hole;
      c.depth = creatures[i].depth, c.hit = creatures[i].hit, c.up = 1;
      DrawHole(*program, i);
    }
    program->timer.tick.store(42195);
    sched.counters = {.Hit = 7, .Miss = 2, .CR = 11, .FA = 3};
    ComposeFrame(*program);

    const Surface& stage = program->display.stage.surface;
    QImage image(reinterpret_cast<const uchar*>(stage.pixels.data()), stage.width, stage.height,
                 stage.pitch(), QImage::Format_RGB32);
    QString path = QString::fromStdString((build / "composed_frame.png").string());
    QVERIFY(image.save(path));
    qInfo("composed frame saved as %s", qPrintable(path));

    // The band: black with white text in it, centred.
    QCOMPARE(stage.at(10, 4), 0u);
    QCOMPARE(stage.at(429, 35), 0u);
    int white = 0;
    for (int y = 4; y < 36; ++y)
      for (int x = 10; x < 430; ++x) white += stage.at(x, y) == 0xFFFFFF;
    QVERIFY(white > 100);
    // The opening of an empty hole is black; a hole with a creature fully up shows it.
    QCOMPARE(stage.at(xs[1], ys[0] + 36 + 20), 0u);
    QVERIFY(stage.at(xs[0], ys[0]) != 0u);
    QVERIFY(std::count(stage.pixels.begin(), stage.pixels.end(), KEY_GREEN) == 0);
    ShutdownDisplay(platform_, program->display);
  }

 private:
  QtPlatform& platform_;
};

}  // namespace pyokoran

int main(int argc, char** argv) {
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::QtDisplayTest test(platform);
  return QTest::qExec(&test, argc, argv);
}

#include "qt_display_tests.moc"
