// The condition dialog and the result dialog as real modal Qt dialogs, headless. Each test
// drives the dialog from a timer while exec() runs, and closes every modal window it finds
// on every path, so a failing check never leaves a dialog open.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/message_text.h"
#include "platform/cp932.h"
#include "platform/qt/qt_dialog_units.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_platform.h"
#include "settings/condition_dialog.h"
#include "settings/experiment_settings.h"

namespace pyokoran {

namespace {

// Runs step once the modal dialog is up (it gets the dialog), with a watchdog that closes
// whatever is still open after a few seconds.
void WhenModal(std::function<void(QDialog*)> step) {
  QTimer::singleShot(0, [step] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog && QTest::qWaitForWindowActive(dialog)) step(dialog);
  });
}

void CloseAllModals() {
  while (QWidget* w = QApplication::activeModalWidget()) {
    w->close();
    if (QApplication::activeModalWidget() == w) break;
  }
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) dialog->reject();
  }
}

// Sets up the next message box to be answered: records its text, title and icon, then
// dismisses it.
struct MessageSeen {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool shown = false;
};

void AnswerNextMessage(MessageSeen& seen) {
  QTimer::singleShot(0, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = {box->text(), box->windowTitle(), box->icon(), true};
    box->accept();
  });
}

CSubject DefaultDialog() {
  CSubject dialog;
  dialog.CopyFrom(ExperimentSettings{});
  return dialog;
}

QLineEdit* Edit(QDialog* dialog, int id) {
  return dialog->findChild<QLineEdit*>(QString::number(id));
}

QPushButton* Button(QDialog* dialog, int id) {
  return dialog->findChild<QPushButton*>(QString::number(id));
}

// Types committed text as an input method would (keyClicks cannot send non-ASCII).
void CommitThroughInputMethod(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QInputMethodEvent preedit(text, {});
  QCoreApplication::sendEvent(edit, &preedit);
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QCoreApplication::sendEvent(edit, &commit);
}

bool Cp932ConversionAvailable() {
  std::string out;
  return Utf8ToCp932("あ", out) && out == "\x82\xa0";
}

}  // namespace

class QtDialogsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A dialog the test failed to close is closed after a few seconds, so exec() returns.
  void init() {
    watchdog_.setSingleShot(true);
    watchdog_.callOnTimeout(&CloseAllModals);
    watchdog_.start(5000);
  }
  void cleanup() {
    watchdog_.stop();
    CloseAllModals();
  }

  void conditionDialogControlsTextsAndTabOrder() {
    CSubject subject = DefaultDialog();
    QString title;
    QStringList tab_order;
    QStringList texts;
    QStringList labels;
    QString selected;
    QRect seed_geometry;
    QRect expected_seed_geometry;
    bool checked = false;
    WhenModal([&](QDialog* d) {
      title = d->windowTitle();
      selected = Edit(d, IDC_SUBJECT)->selectedText();
      for (QWidget* w = QApplication::focusWidget(); w && tab_order.size() < 13;) {
        tab_order << w->objectName();
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
      }
      for (int id : {IDC_SUBJECT, IDC_HOLES, IDC_TARGETS, IDC_DISTRACTORS, IDC_TIME_LIMIT,
                     IDC_DURATION, IDC_ISI1, IDC_ISI2, IDC_SEED}) {
        texts << Edit(d, id)->text();
      }
      for (QLabel* label : d->findChildren<QLabel*>()) labels << label->text();
      auto* check = d->findChild<QCheckBox*>(QString::number(IDC_ORDERED));
      checked = check->isChecked();
      labels << check->text() << Button(d, IDOK)->text() << Button(d, IDCANCEL)->text();
      seed_geometry = Edit(d, IDC_SEED)->geometry();
      expected_seed_geometry = DialogUnits(d->font()).rect(186, 96, 42, 12);
      Button(d, IDCANCEL)->click();
    });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDCANCEL);
    QCOMPARE(title, QString::fromUtf8("条件設定"));
    QCOMPARE(selected, QStringLiteral("SBJ0000"));
    QCOMPARE(tab_order, (QStringList{"1001", "1011", "1006", "1007", "1012", "1008", "1009",
                                     "1010", "1013", "1014", "1", "2", "1001"}));
    QCOMPARE(texts, (QStringList{"SBJ0000", "12", "6", "3", "60", "2000", "1000", "3000", "0"}));
    QCOMPARE(labels, (QStringList{"Subject ID:", "穴の数", "ターゲットの匹数", "ディストラクタの匹数",
                                  "制限時間（秒）", "露出時間（ms）", "隠れ時間（ms）", "～",
                                  "乱数初期値", "穴の整列", "OK", "キャンセル"}));
    QVERIFY(checked);
    QCOMPARE(seed_geometry, expected_seed_geometry);
  }

  // A field without a number: the message, then the focus in that field with its text
  // selected, the dialog still open; the corrected values pass with Enter.
  void numberMessageKeepsTheDialogOpenOnTheField() {
    CSubject subject = DefaultDialog();
    MessageSeen message;
    QString focused;
    QString selected;
    bool still_open = false;
    WhenModal([&](QDialog* d) {
      Edit(d, IDC_HOLES)->setText("");          // first in tab order...
      Edit(d, IDC_TARGETS)->setText("many");    // ...but the targets come first in exchange
      Edit(d, IDC_HOLES)->setFocus();
      AnswerNextMessage(message);
      Button(d, IDOK)->click();
      focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "";
      selected = Edit(d, IDC_TARGETS)->selectedText();
      still_open = d->isVisible();
      Edit(d, IDC_TARGETS)->setText("4");
      Edit(d, IDC_HOLES)->setText("8x");
      QTest::keyClick(Edit(d, IDC_HOLES), Qt::Key_Return);
    });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDOK);
    QVERIFY(message.shown);
    QCOMPARE(message.text, QString::fromStdString(CSubject::NumberMessage(IDC_TARGETS)));
    QCOMPARE(message.title, QStringLiteral("pyokoran"));
    QCOMPARE(message.icon, QMessageBox::Warning);
    QCOMPARE(focused, QStringLiteral("1006"));
    QCOMPARE(selected, QStringLiteral("many"));
    QVERIFY(still_open);
    QCOMPARE(subject.targets, 4);
    QCOMPARE(subject.holes, 8);
  }

  void escapeAndTheCloseBoxCancel() {
    CSubject subject = DefaultDialog();
    WhenModal([](QDialog* d) {
      Edit(d, IDC_HOLES)->setText("9");
      QTest::keyClick(d, Qt::Key_Escape);
    });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDCANCEL);
    WhenModal([](QDialog* d) { d->close(); });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDCANCEL);
    QCOMPARE(subject.holes, 12);
  }

  // Bytes nobody edited come back unchanged, even when they are not valid code page 932
  // (a control byte such as DEL would be refused at OK).
  void untouchedSubjectKeepsItsBytes() {
    CSubject subject = DefaultDialog();
    const std::string bytes = "ID\x81\x20\xff z";
    subject.subject = bytes;
    WhenModal([](QDialog* d) { Button(d, IDOK)->click(); });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDOK);
    QCOMPARE(QByteArray::fromStdString(subject.subject), QByteArray::fromStdString(bytes));
  }

  void subjectTypedThroughAnInputMethodIsStoredAsCp932() {
    if (!Cp932ConversionAvailable()) QSKIP("code page 932 conversion not built in yet");
    CSubject subject = DefaultDialog();
    WhenModal([](QDialog* d) {
      CommitThroughInputMethod(Edit(d, IDC_SUBJECT), QString::fromUtf8("被験者０１"));
      Button(d, IDOK)->click();
    });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDOK);
    QCOMPARE(QByteArray::fromStdString(subject.subject),
             QByteArray("\x94\xed\x8c\xb1\x8e\xd2\x82\x4f\x82\x50"));
  }

  void subjectOutsideCp932IsRefused() {
    if (!Cp932ConversionAvailable()) QSKIP("code page 932 conversion not built in yet");
    CSubject subject = DefaultDialog();
    MessageSeen message;
    QString focused;
    bool still_open = false;
    WhenModal([&](QDialog* d) {
      Edit(d, IDC_SUBJECT)->setText(QString::fromUtf8("A\u00e9\U0001F600"));
      Edit(d, IDC_HOLES)->setFocus();
      AnswerNextMessage(message);
      Button(d, IDOK)->click();
      focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "";
      still_open = d->isVisible();
      Button(d, IDCANCEL)->click();
    });
    QCOMPARE(RunConditionDialog(nullptr, subject), IDCANCEL);
    QVERIFY(message.shown);
    QCOMPARE(message.icon, QMessageBox::Warning);
    QCOMPARE(focused, QStringLiteral("1001"));
    QVERIFY(still_open);
    QCOMPARE(QByteArray::fromStdString(subject.subject), QByteArray("SBJ0000"));
  }

  void resultDialogShowsTheLinesInOrderWithTheNewestSelected() {
    ResultDialogContent content;
    content.lines = {"0001:  2014/05/07 (11:00:00)   [  25]   B",
                     "0002:  2014/05/08 (09:30:00)   [  17]   C",
                     "0003:  2014/05/07 (10:00:00)   [  10]   A"};
    content.summary = "【最終結果】 C さん ／ スコア：17　（順位: 3 人中 2 位 ／ 上位から 66.7 ％）";
    content.selected = 1;
    QString title;
    QStringList lines;
    int current = -1;
    QString summary;
    QString ok_text;
    WhenModal([&](QDialog* d) {
      title = d->windowTitle();
      auto* list = d->findChild<QListWidget*>("1007");
      for (int i = 0; list && i < list->count(); ++i) lines << list->item(i)->text();
      current = list ? list->currentRow() : -1;
      auto* label = d->findChild<QLabel*>("1008");
      summary = label ? label->text() : QString();
      ok_text = Button(d, IDOK)->text();
      QTest::keyClick(d, Qt::Key_Return);
    });
    RunResultDialog(nullptr, content);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(title, QString::fromUtf8("結果"));
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(lines[i], QString::fromStdString(content.lines[i]));
    QCOMPARE(current, 1);
    QCOMPARE(summary, QString::fromStdString(content.summary));
    QCOMPARE(ok_text, QStringLiteral("OK"));

    // No lines and a selection beyond them: the dialog still opens and closes.
    ResultDialogContent empty;
    empty.selected = 5;
    WhenModal([](QDialog* d) { Button(d, IDOK)->click(); });
    RunResultDialog(nullptr, empty);
    QVERIFY(!QApplication::activeModalWidget());
  }

  // The working folder and the guide's pages each on a line of their own, whole when the
  // screen allows; the pages are links that open them; the box carries the program's icon.
  void aboutBoxNamesTheFolderAndTheGuideWhole() {
    AboutBoxContent content;
    content.version = "1.6.0";
    content.working_folder = "/home/a-rather-long-user-name/Documents/実験室の共有フォルダー/ピョコラン";
    content.guide_pages = {"/usr/share/doc/pyokoran/guide.html", "/usr/share/doc/pyokoran/guide.en.html"};
    QStringList folder, guides;
    bool inside = true, icon = false;
    WhenModal([&](QDialog* d) {
      for (QLabel* label : d->findChildren<QLabel*>()) {
        if (label->objectName() == "about_folder") folder << label->text();
        if (label->objectName() == "about_guide") guides << label->text();
        inside = inside && d->rect().contains(label->geometry());
      }
      icon = d->windowIcon().cacheKey() == QApplication::windowIcon().cacheKey();
      d->accept();
    });
    RunAboutBox(nullptr, content);
    QCOMPARE(folder, QStringList{QString::fromStdString(content.working_folder)});
    QCOMPARE(guides, (QStringList{
                         "<a href=\"file:///usr/share/doc/pyokoran/guide.html\">/usr/share/doc/pyokoran/guide.html</a>",
                         "<a href=\"file:///usr/share/doc/pyokoran/guide.en.html\">/usr/share/doc/pyokoran/guide.en.html</a>"}));
    QVERIFY(inside);
    QVERIFY(icon);
    QVERIFY(!QApplication::windowIcon().isNull());
    for (int size : {16, 32, 48, 256}) QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(size, size)));
  }

  // A short name does not leave the box too narrow for the sentence above it: the sentence is
  // shown whole, on one line or wrapped, never cut.
  void aShortNameLeavesRoomForTheSentence() {
    const QString lead = QString::fromUtf8("次のファイルはこのプログラムが書いたレポートではないため、何も書きませんでした。");
    int needed = 0, width = 0, height = 0, line = 0;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
        needed = label->fontMetrics().horizontalAdvance(lead);
        line = label->fontMetrics().lineSpacing();
        width = label->contentsRect().width();
        height = label->contentsRect().height();
      }
      box->accept();
    });
    platform->ShowMessage(NamingFile(lead.toStdString(), "/tmp/a/SBJ0000.csv"), "ピョコラン", MessageIcon::None);
    QVERIFY(needed > 0);
    // As wide as the sentence, or at least 450 pixels with the sentence wrapped below.
    QVERIFY2(width >= needed || (width >= 450 && height >= 3 * line),
             qPrintable(QStringLiteral("%1 wide, %2 high for %3").arg(width).arg(height).arg(needed)));
  }

  // A message that names a file keeps the name whole on its line: the box grows as wide as
  // the name needs (on a screen wide enough; the wide-screen run checks it).
  void messageNamingAFileKeepsTheNameWhole() {
    if (QGuiApplication::primaryScreen()->availableGeometry().width() < 1200) {
      QSKIP("needs a screen 1200 pixels wide or more");
    }
    const QString path = QString::fromUtf8(
        "/home/a-rather-long-user-name/Documents/実験室の共有フォルダー/ピョコラン/ピョコラン_report.html");
    int needed = 0, width = 0;
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
        needed = label->fontMetrics().horizontalAdvance(path);
        width = label->contentsRect().width();
        shown = label->text();
      }
      box->accept();
    });
    platform->ShowMessage(NamingFile("次のレポートを書きましたが、ブラウザーで開けませんでした。", path.toStdString(),
                                     "このファイルをブラウザーで開いてください。"),
                          "ピョコラン", MessageIcon::None);
    QVERIFY2(shown.contains(path), qPrintable(shown));
    QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
  }

 public:
  static inline QtPlatform* platform = nullptr;

 private:
  QTimer watchdog_;
};

}  // namespace pyokoran

int main(int argc, char** argv) {
  pyokoran::QtPlatform platform(argc, argv);
  pyokoran::QtDialogsTest::platform = &platform;
  pyokoran::QtDialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_dialogs_tests.moc"
