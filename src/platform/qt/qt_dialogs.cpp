#include "platform/qt/qt_dialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QInputMethod>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QTimer>
#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "app/program.h"
#include "platform/cp932.h"
#include "platform/qt/qt_dialog_units.h"
#include "settings/condition_dialog.h"

namespace pyokoran {

void RunAboutBox(QWidget* parent, const AboutBoxContent& content) {
  QDialog dialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog.setWindowTitle(QStringLiteral("About this application"));
  QFont font = DialogFont("ＭＳ Ｐゴシック", 9);
  dialog.setFont(font);
  DialogUnits du(font);
  const QFontMetrics metrics(font);

  auto* name = new QLabel(QString::fromUtf8("ピョコラン (v1.006)"), &dialog);
  name->setObjectName("about_name");
  name->setGeometry(du.rect(7, 7, 106, 11));
  // The credit and the version; under the button's column, so as wide as the box allows.
  auto* credit = new QLabel(
      QString::fromUtf8("ピョコラン開発チーム 2026\nバージョン ") + QString::fromStdString(content.version),
      &dialog);
  credit->setObjectName("about_credit");
  credit->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Below the credit, the working folder and the guide's pages, each name on a line of its
  // own: the box grows by their lines and is as wide as the longest name, within the screen.
  const QString folder = QString::fromStdString(content.working_folder);
  QStringList pages;
  for (const std::string& page : content.guide_pages) pages << QString::fromStdString(page);
  int widest = metrics.horizontalAdvance(folder);
  for (const QString& page : pages) widest = std::max(widest, metrics.horizontalAdvance(page));
  const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
  const int most = screen ? screen->availableGeometry().width() - du.x(28) : du.x(400);
  const int text_width = std::clamp(widest + 4, du.x(173), std::max(most - du.x(14), du.x(173)));
  const int box_width = text_width + du.x(14);
  auto name_line = [&](const QString& text, int top) {
    auto* label = new QLabel(&dialog);
    label->setGeometry(du.x(7), du.y(top), text_width, du.y(12));
    const QString shown = metrics.elidedText(text, Qt::ElideMiddle, text_width);
    if (shown != text) label->setToolTip(text);
    return std::pair{label, shown};
  };
  credit->setGeometry(du.x(7), du.y(23), box_width - du.x(14), du.y(26));
  auto* folder_title = new QLabel(QString::fromUtf8("作業フォルダ:"), &dialog);
  folder_title->setGeometry(du.rect(7, 51, 173, 11));
  auto [folder_label, folder_shown] = name_line(folder, 63);
  folder_label->setObjectName("about_folder");
  folder_label->setText(folder_shown);
  folder_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  int bottom = 75;
  if (!pages.isEmpty()) {
    auto* guide_title = new QLabel(QString::fromUtf8("ガイド (Guide):"), &dialog);
    guide_title->setGeometry(du.rect(7, 77, 173, 11));
    int top = 89;
    for (const QString& page : pages) {
      // A link that opens the page in the browser.
      auto [label, shown] = name_line(page, top);
      label->setObjectName("about_guide");
      label->setTextFormat(Qt::RichText);
      label->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                         .arg(QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded), shown.toHtmlEscaped()));
      label->setTextInteractionFlags(Qt::TextBrowserInteraction);
      label->setOpenExternalLinks(true);
      top += 12;
    }
    bottom = top;
  }
  dialog.setFixedSize(box_width, du.y(bottom + 8));

  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setObjectName("about_ok");
  ok->setGeometry(box_width - du.x(57), du.y(7), du.x(50), du.y(14));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  dialog.exec();
}

namespace {

constexpr Qt::WindowFlags kModalFrame = Qt::Dialog | Qt::WindowTitleHint |
                                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                        Qt::MSWindowsFixedSizeDialogHint;

// The message box a dialog shows about one of its fields: exclamation icon, OK, the
// application's title.
void WarnAboutField(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                  QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

// The field gets the focus with its whole text selected, its dialog back in front.
void FocusField(QLineEdit* edit) {
  edit->window()->activateWindow();
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
}

// Shows the dialog in front with the keyboard (there may be no window manager to give it)
// and runs it modally.
int ExecInFront(QDialog& dialog) {
  QTimer::singleShot(0, &dialog, [&dialog] { dialog.activateWindow(); });
  return dialog.exec();
}

QLabel* AddLabel(QDialog& dialog, const DialogUnits& du, const char* text, int x, int y,
                 int width, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
  auto* label = new QLabel(QString::fromUtf8(text), &dialog);
  label->setGeometry(du.rect(x, y, width, 12));
  label->setAlignment(alignment);
  return label;
}

}  // namespace

int RunConditionDialog(QWidget* parent, CSubject& subject_dialog) {
  QDialog dialog(parent, kModalFrame);
  dialog.setObjectName(QStringLiteral("condition_dialog"));
  dialog.setWindowTitle(QString::fromUtf8("条件設定"));
  const QFont font = DialogFont("MS UI Gothic", 9);
  dialog.setFont(font);
  const DialogUnits du(font);
  dialog.setFixedSize(du.x(244), du.y(159));

  // The controls in tab order. Each edit is named after its control identifier.
  struct Field {
    int id;
    int x, y, width;
    const char* label;
    int label_x, label_y, label_width;
  };
  static const Field kFields[] = {
      {IDC_SUBJECT, 60, 6, 102, "Subject ID:", 12, 6, 42},
      {IDC_HOLES, 84, 30, 54, "穴の数", 12, 30, 66},
      {IDC_TARGETS, 84, 48, 54, "ターゲットの匹数", 12, 48, 66},
      {IDC_DISTRACTORS, 84, 66, 54, "ディストラクタの匹数", 12, 66, 66},
      {IDC_TIME_LIMIT, 84, 84, 54, "制限時間（秒）", 12, 84, 66},
      {IDC_DURATION, 84, 102, 54, "露出時間（ms）", 12, 102, 66},
      {IDC_ISI1, 84, 120, 54, "隠れ時間（ms）", 12, 120, 66},
      {IDC_ISI2, 162, 120, 54, "～", 144, 120, 12},
      {IDC_SEED, 186, 96, 42, "乱数初期値", 168, 84, 66},
  };
  std::map<int, QLineEdit*> edits;
  QWidget* previous = nullptr;
  for (const Field& f : kFields) {
    AddLabel(dialog, du, f.label, f.label_x, f.label_y, f.label_width,
             f.id == IDC_ISI2 ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QString::number(f.id));
    edit->setGeometry(du.rect(f.x, f.y, f.width, 12));
    edits[f.id] = edit;
    if (previous) QWidget::setTabOrder(previous, edit);
    previous = edit;
  }
  auto* ordered = new QCheckBox(QString::fromUtf8("穴の整列"), &dialog);
  ordered->setObjectName(QString::number(IDC_ORDERED));
  ordered->setGeometry(du.rect(162, 138, 72, 12));
  QWidget::setTabOrder(previous, ordered);
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setObjectName(QString::number(IDOK));
  ok->setGeometry(du.rect(180, 6, 50, 14));
  ok->setDefault(true);
  QWidget::setTabOrder(ordered, ok);
  auto* cancel = new QPushButton(QString::fromUtf8("キャンセル"), &dialog);
  cancel->setObjectName(QString::number(IDCANCEL));
  cancel->setGeometry(du.rect(180, 24, 50, 14));
  QWidget::setTabOrder(ok, cancel);

  // Fields into the controls. The subject is shown converted from code page 932; while its
  // text stays as shown, OK hands back the original bytes.
  const ConditionControls shown = subject_dialog.ToControls();
  std::string subject_utf8;
  Cp932ToUtf8(shown.subject, subject_utf8);
  const QString subject_text = QString::fromUtf8(subject_utf8);
  edits[IDC_SUBJECT]->setText(subject_text);
  const std::pair<int, const std::string*> numbers[] = {
      {IDC_TARGETS, &shown.targets},   {IDC_DISTRACTORS, &shown.distractors},
      {IDC_DURATION, &shown.duration}, {IDC_ISI1, &shown.isi1},
      {IDC_ISI2, &shown.isi2},         {IDC_HOLES, &shown.holes},
      {IDC_TIME_LIMIT, &shown.time_limit}, {IDC_SEED, &shown.seed},
  };
  for (const auto& [id, text] : numbers) edits[id]->setText(QString::fromStdString(*text));
  ordered->setChecked(shown.ordered);

  QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
    // Text still being composed in an input method belongs to the field.
    QGuiApplication::inputMethod()->commit();
    ConditionControls controls;
    const QString typed = edits[IDC_SUBJECT]->text();
    if (typed == subject_text) {
      controls.subject = shown.subject;
    } else if (!Utf8ToCp932(typed.toStdString(), controls.subject)) {
      WarnAboutField(&dialog,
                     "Subject ID に使えない文字が含まれています。\n"
                     "シフトJIS（コードページ 932）で表せる文字で入力してください。");
      FocusField(edits[IDC_SUBJECT]);
      return;
    }
    controls.targets = edits[IDC_TARGETS]->text().toStdString();
    controls.distractors = edits[IDC_DISTRACTORS]->text().toStdString();
    controls.duration = edits[IDC_DURATION]->text().toStdString();
    controls.isi1 = edits[IDC_ISI1]->text().toStdString();
    controls.isi2 = edits[IDC_ISI2]->text().toStdString();
    controls.holes = edits[IDC_HOLES]->text().toStdString();
    controls.time_limit = edits[IDC_TIME_LIMIT]->text().toStdString();
    controls.seed = edits[IDC_SEED]->text().toStdString();
    controls.ordered = ordered->isChecked();
    const int failed = subject_dialog.FromControls(controls);
    if (failed != 0) {
      WarnAboutField(&dialog, subject_dialog.FieldMessage(failed));
      FocusField(edits[failed]);
      return;
    }
    dialog.accept();
  });
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

  edits[IDC_SUBJECT]->setFocus(Qt::OtherFocusReason);
  edits[IDC_SUBJECT]->selectAll();
  return ExecInFront(dialog) == QDialog::Accepted ? IDOK : IDCANCEL;
}

void RunResultDialog(QWidget* parent, const ResultDialogContent& content) {
  QDialog dialog(parent, kModalFrame);
  dialog.setObjectName(QStringLiteral("result_dialog"));
  dialog.setWindowTitle(QString::fromUtf8("結果"));
  const QFont font = DialogFont("MS UI Gothic", 10);
  dialog.setFont(font);
  const DialogUnits du(font);
  dialog.setFixedSize(du.x(421), du.y(305));

  auto* list = new QListWidget(&dialog);
  list->setObjectName(QStringLiteral("1007"));
  list->setGeometry(du.rect(18, 30, 384, 264));
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  for (const std::string& line : content.lines) list->addItem(QString::fromStdString(line));
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setObjectName(QString::number(IDOK));
  ok->setGeometry(du.rect(354, 12, 48, 14));
  ok->setDefault(true);
  QWidget::setTabOrder(list, ok);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* summary = new QLabel(QString::fromStdString(content.summary), &dialog);
  summary->setObjectName(QStringLiteral("1008"));
  summary->setGeometry(du.rect(18, 12, 318, 12));
  summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  if (content.selected >= 0 && content.selected < list->count()) {
    list->setCurrentRow(content.selected);
    list->scrollToItem(list->item(content.selected));
  }
  list->setFocus(Qt::OtherFocusReason);
  ExecInFront(dialog);
}

}  // namespace pyokoran
