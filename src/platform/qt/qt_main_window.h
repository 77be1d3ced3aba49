// The main window: caption with system menu, menu 101, black client area with the centred
// caption line. Hands commands, left clicks, keys and its destruction to the handler.
#pragma once

#include <QMainWindow>
#include <QString>

#include "platform/platform.h"

class QAction;

namespace pyokoran {

class QtMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  QtMainWindow(const QString& title, const QString& caption_line, MainWindowHandler& handler);

  // At (0, 0) over the whole screen, in front, repainted.
  void CoverScreen();
  // Destroys the window as Windows would: the handler's OnDestroy, then the window hides.
  void Destroy();
  bool destroyed() const { return destroyed_; }
  QAction* action(int command) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  MainWindowHandler& handler_;
  bool destroyed_ = false;
};

}  // namespace pyokoran
