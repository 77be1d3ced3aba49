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
  // Destroys the window as Windows would: the handler's OnDestroy, the window hides, and the
  // application's message loop ends.
  void Destroy();
  // While a run is under way a request to close the window is refused, as it is while a
  // modal dialog is open.
  void set_run_under_way(bool on) { run_under_way_ = on; }
  bool destroyed() const { return destroyed_; }
  QAction* action(int command) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  MainWindowHandler& handler_;
  bool destroyed_ = false;
  bool run_under_way_ = false;
};

}  // namespace pyokoran
