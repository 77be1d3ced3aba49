#include "platform/qt/qt_dialogs.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "platform/qt/qt_dialog_units.h"
#include "settings/condition_dialog.h"

namespace pyokoran {

void RunAboutBox(QWidget* parent) {
  QDialog dialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog.setWindowTitle(QStringLiteral("About this application"));
  QFont font = DialogFont("ＭＳ Ｐゴシック", 9);
  dialog.setFont(font);
  DialogUnits du(font);
  dialog.setFixedSize(du.x(187), du.y(59));

  auto* name = new QLabel(QString::fromUtf8("ピョコラン (v1.006)"), &dialog);
  name->setObjectName("about_name");
  name->setGeometry(du.rect(7, 7, 106, 11));
  auto* credit = new QLabel(QString::fromUtf8("ピョコラン開発チーム\n2026"), &dialog);
  credit->setObjectName("about_credit");
  credit->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  credit->setGeometry(du.rect(7, 23, 129, 26));
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setObjectName("about_ok");
  ok->setGeometry(du.rect(130, 7, 50, 14));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  dialog.exec();
}

int RunConditionDialog(QWidget*, CSubject&) { return IDCANCEL; }

void RunResultDialog(QWidget*, const ResultDialogContent&) {}

}  // namespace pyokoran
