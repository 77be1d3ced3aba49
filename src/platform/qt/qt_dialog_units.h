// Dialog templates are laid out in dialog units; Windows turns them into pixels with the
// dialog font's base units (average character width of the alphabet, character height).
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>

namespace pyokoran {

// The font of a dialog template: face and point size at 96 dots per inch.
inline QFont DialogFont(const char* face_utf8, int points) {
  QFont font(QString::fromUtf8(face_utf8));
  font.setPixelSize((points * 96 + 36) / 72);
  return font;
}

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = (width / 26 + 1) / 2;
    base_y_ = metrics.height();
  }
  int x(int units) const { return (units * base_x_ + 2) / 4; }
  int y(int units) const { return (units * base_y_ + 4) / 8; }
  QRect rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
  }

 private:
  int base_x_ = 1;
  int base_y_ = 1;
};

}  // namespace pyokoran
