#include "platform/qt/qt_message_box.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <algorithm>

#include "app/message_text.h"

namespace pyokoran {

void SetMessageText(QMessageBox& box, const std::string& text) {
  const QStringList lines = QString::fromStdString(text).split(u'\n');
  QStringList names;
  QString rich;
  for (const QString& line : lines) {
    const bool name = IsFileNameLine(line.toStdString());
    if (name) names << line;
    if (!rich.isEmpty()) rich += QStringLiteral("<br>");
    rich += name ? QStringLiteral("<span style=\"white-space:pre\">%1</span>").arg(line.toHtmlEscaped())
                 : line.toHtmlEscaped();
  }
  if (names.isEmpty()) {
    box.setText(QString::fromStdString(text));
    return;
  }
  box.setText(QStringLiteral("<p>%1</p>").arg(rich));
  // The box wraps its text once it is wider than about 500 pixels; a label at least as wide
  // as the name widens the box instead.
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (!label) return;
  int widest = 0;
  for (const QString& name : names) widest = std::max(widest, label->fontMetrics().horizontalAdvance(name) + 2);
  // The other lines as wide as the name, or up to where the box would wrap them anyway: a
  // short name must not leave the box too narrow for a sentence (rich text, it would be cut).
  constexpr int kWrapWidth = 500;
  for (const QString& line : lines) {
    if (!names.contains(line))
      widest = std::max(widest, std::min(kWrapWidth, label->fontMetrics().horizontalAdvance(line) + 2));
  }
  label->setWordWrap(true);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int screen_width = screen ? screen->availableGeometry().width() : 1024;
  const int most = (screen_width <= 1024 ? screen_width : std::min(screen_width - 480, 1000)) - 120;
  label->setMinimumWidth(std::min(widest, std::max(most, 0)));
}

}  // namespace pyokoran
