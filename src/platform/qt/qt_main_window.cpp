#include "platform/qt/qt_main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace pyokoran {

namespace {

// The client area: black, one centred white line in the default font; a left click starts.
class ClientArea : public QWidget {
 public:
  ClientArea(const QString& caption_line, MainWindowHandler& handler)
      : caption_line_(caption_line), handler_(handler) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, caption_line_);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) handler_.OnLeftButtonDown();
  }

 private:
  QString caption_line_;
  MainWindowHandler& handler_;
};

}  // namespace

QtMainWindow::QtMainWindow(const QString& title, const QString& caption_line,
                           MainWindowHandler& handler)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      handler_(handler) {
  setWindowTitle(title);
  setCentralWidget(new ClientArea(caption_line, handler));

  struct Item {
    const char* menu;
    const char* text;
    int command;
  };
  static const Item kItems[] = {
      {"&File", "E&xit", ID_APP_EXIT},
      {"ピョコラン(&E)", "&Start", ID_START},
      {"ピョコラン(&E)", "Show&Result", ID_SHOW_RESULT},
      {"ピョコラン(&E)", "Re&port", ID_REPORT},
      {"&Help", "&About", ID_APP_ABOUT},
  };
  QMenu* menu = nullptr;
  QString menu_title;
  for (const Item& item : kItems) {
    if (!menu || menu_title != QString::fromUtf8(item.menu)) {
      menu_title = QString::fromUtf8(item.menu);
      menu = menuBar()->addMenu(menu_title);
    }
    QAction* action = menu->addAction(QString::fromUtf8(item.text));
    action->setData(item.command);
    int command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { handler_.OnCommand(command); });
  }
}

QAction* QtMainWindow::action(int command) const {
  for (QAction* menu_action : menuBar()->actions()) {
    if (!menu_action->menu()) continue;
    for (QAction* a : menu_action->menu()->actions()) {
      if (a->data().toInt() == command) return a;
    }
  }
  return nullptr;
}

void QtMainWindow::CoverScreen() {
  // The whole window, caption included, covers the screen: the frame is outside geometry().
  show();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    setGeometry(screen->geometry().marginsRemoved(frame));
  }
  raise();
  activateWindow();
  update();
  centralWidget()->update();
}

void QtMainWindow::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  handler_.OnDestroy();
  hide();
  QCoreApplication::quit();
}

void QtMainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    handler_.OnKeyDown(VK_ESCAPE);
    return;
  }
  QMainWindow::keyPressEvent(event);
}

// Every way of closing (the close box, Alt+F4, the system menu, File > Exit) ends the
// program as Exit does.
void QtMainWindow::closeEvent(QCloseEvent* event) {
  if (!destroyed_ && (run_under_way_ || QApplication::activeModalWidget())) {
    event->ignore();
    return;
  }
  Destroy();
  event->accept();
}

}  // namespace pyokoran
