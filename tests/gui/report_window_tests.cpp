// The report window on a folder of simulated runs, under the offscreen platform: its table,
// filter and plots, and the PDF and CSV it exports.
#include <QApplication>
#include <QAreaSeries>
#include <QLineSeries>
#include <QChart>
#include <QComboBox>
#include <QFile>
#include <QScatterSeries>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QtTest>
#include <unistd.h>

#include "gui/report_window.h"
#include "simulation/simulator.h"

namespace pyokoran {

class ReportWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    char old[4096];
    QVERIFY(getcwd(old, sizeof old));
    QVERIFY(chdir(dir_.path().toLocal8Bit().constData()) == 0);
    const QString stim = QStringLiteral(PYOKORAN_SOURCE_DIR "/stim");
    QDir().mkdir(QStringLiteral("stim"));
    for (const QString& f : QDir(stim).entryList(QDir::Files)) {
      QVERIFY(QFile::copy(stim + QLatin1Char('/') + f, QStringLiteral("stim/") + f));
    }
    // Two subjects: four runs of A, then two of a Japanese subject.
    for (auto [runs, subject] : {std::pair{4, "A"}, std::pair{2, "被験者B"}}) {
      SimulationOptions o;
      o.runs = runs;
      o.has_subject = true;
      o.subject = subject;
      o.has_seed = true;
      o.seed = 3;
      SimulationResult result;
      std::string error;
      QVERIFY2(RunSimulation(o, result, error), error.c_str());
    }
    QVERIFY(chdir(old) == 0);
    folder_ = dir_.filePath(QStringLiteral("simulated"));
  }

  void showsRunsNewestFirstFiltersAndPlots() {
    ReportWindow window(folder_);
    window.show();
    QVERIFY(window.loaded());
    QTableWidget* table = window.table();
    QCOMPARE(table->rowCount(), 6 + 2 * 2);  // the runs, then each subject's condition and all its runs
    QCOMPARE(table->item(6, 1)->text(), QStringLiteral("2 runs, these settings"));
    QVERIFY(!table->item(6, 0)->font().bold());
    QCOMPARE(table->item(7, 1)->text(), QStringLiteral("all 2 runs"));
    QVERIFY(table->item(9, 0)->font().bold());
    const int date = 1, time = 2;  // Subject, Date, Time, ...
    QCOMPARE(table->horizontalHeaderItem(date)->text(), QStringLiteral("Date"));
    for (int row = 1; row < 6; ++row) {
      const QString before = table->item(row - 1, date)->text() + table->item(row - 1, time)->text();
      const QString after = table->item(row, date)->text() + table->item(row, time)->text();
      QVERIFY2(before >= after, qPrintable(before + " < " + after));
    }
    QCOMPARE(table->item(0, 0)->text(), QString::fromUtf8("被験者B"));

    // Filter on A: its four runs stay.
    window.subject_filter()->setCurrentText(QStringLiteral("A"));
    int shown = 0;
    for (int row = 0; row < 6; ++row) shown += table->isRowHidden(row) ? 0 : 1;
    QCOMPARE(shown, 4);

    // The plots of the selected run: one dot per hit, d' over A's four runs.
    const auto selected = table->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    const size_t run = size_t(table->item(selected.front().row(), 0)->data(Qt::UserRole).toULongLong());
    const RunRecord& r = window.report().results.runs[run];
    QCOMPARE(r.subject, std::string("A"));
    auto* dots = qobject_cast<QScatterSeries*>(window.chart(1)->series().value(0));
    QVERIFY(dots);
    QCOMPARE(int64_t(dots->count()), int64_t(window.report().run_measures[run].hit_rt.n));
    auto* d_prime = qobject_cast<QXYSeries*>(window.chart(3)->series().value(0));
    QVERIFY(d_prime);
    QCOMPARE(d_prime->count(), 4);
    auto* histogram = qobject_cast<QAreaSeries*>(window.chart(0)->series().value(0));
    QVERIFY(histogram);
    QVERIFY(histogram->upperSeries()->count() > 0);
    QCOMPARE(window.chart(2)->series().size(), 2);
  }

  void exportsAPdfAndACsvThatParse() {
    ReportWindow window(folder_);
    const QString csv = dir_.filePath(QStringLiteral("out.csv"));
    const QString pdf = dir_.filePath(QStringLiteral("out.pdf"));
    QString error;
    QVERIFY2(window.ExportCsv(csv, &error), qPrintable(error));
    QVERIFY2(window.ExportPdf(pdf, true, &error), qPrintable(error));

    QFile c(csv);
    QVERIFY(c.open(QIODevice::ReadOnly));
    QByteArray bytes = c.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QByteArray> lines = bytes.mid(3).split('\n');
    // Header, runs, each subject's condition and pooled rows, nothing after the last CR LF.
    QCOMPARE(lines.size(), 1 + 6 + 2 * 2 + 1);
    const qsizetype columns = lines[0].count(',');
    for (int i = 1; i < 11; ++i) {
      QVERIFY(lines[i].endsWith('\r'));
      QCOMPARE(lines[i].count(','), columns);
    }
    QVERIFY(QString::fromUtf8(lines[7]).startsWith(QString::fromUtf8("subject_condition,,被験者B,,,2,1,1,")));
    QVERIFY(QString::fromUtf8(lines[8]).startsWith(QString::fromUtf8("subject,,被験者B,,,2,1,1,")));
    QVERIFY(lines[10].startsWith("subject,,A,,,4,1,1,"));

    QFile p(pdf);
    QVERIFY(p.open(QIODevice::ReadOnly));
    bytes = p.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY(bytes.trimmed().endsWith("%%EOF"));
    // The table, then a page of plots per subject.
    QCOMPARE(bytes.count("/Type /Page") - bytes.count("/Type /Pages"), 3);

    // A subject's appearance file under the report's name is never replaced.
    const QString subject_file = QDir(folder_).filePath(QStringLiteral("A.csv"));
    QVERIFY(!window.ExportCsv(subject_file, &error));
    QVERIFY(error.contains(QStringLiteral("not a report")));
    QVERIFY(!window.ExportPdf(subject_file, false, &error));

    // Nor is a PDF the program did not write, and our own PDF is replaced.
    const QString manuscript = dir_.filePath(QStringLiteral("manuscript.pdf"));
    const QByteArray theirs = "%PDF-1.7\n1 0 obj << /Creator (LaTeX) >> endobj\n%%EOF\n";
    {
      QFile m(manuscript);
      QVERIFY(m.open(QIODevice::WriteOnly));
      m.write(theirs);
    }
    QVERIFY(!window.ExportPdf(manuscript, false, &error));
    QVERIFY(error.contains(QStringLiteral("not a report")));
    QFile m(manuscript);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll(), theirs);
    QVERIFY2(window.ExportPdf(pdf, false, &error), qPrintable(error));
  }

  void subjectFilterIsSortedAndExportsWhatItShows() {
    ReportWindow window(folder_);
    QComboBox* filter = window.subject_filter();
    // Runs of 被験者B are the newest, yet the list is in order of the IDs.
    QCOMPARE(filter->count(), 3);
    QCOMPARE(filter->itemText(1), QStringLiteral("A"));
    QCOMPARE(filter->itemText(2), QString::fromUtf8("被験者B"));
    filter->setCurrentIndex(2);
    int shown = 0;
    for (int row = 0; row < window.table()->rowCount(); ++row) shown += !window.table()->isRowHidden(row);
    QCOMPARE(shown, 2 + 2);  // B's runs, B's condition row and B's pooled row

    const QString csv = dir_.filePath(QStringLiteral("only_b.csv"));
    const QString html = dir_.filePath(QStringLiteral("only_b.html"));
    QString error;
    QVERIFY2(window.ExportCsv(csv, &error), qPrintable(error));
    QVERIFY2(window.ExportHtml(html, &error), qPrintable(error));
    QFile c(csv);
    QVERIFY(c.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = c.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 2 + 2 + 1);  // header, B's runs, B's two rows, nothing after the last CR LF
    for (int i = 1; i < 5; ++i) QVERIFY(!lines[i].contains(",A,"));
    // The trial file holds B's appearances only.
    const QString trials = dir_.filePath(QStringLiteral("only_b_trials.csv"));
    QVERIFY2(window.ExportTrials(trials, &error), qPrintable(error));
    QFile t(trials);
    QVERIFY(t.open(QIODevice::ReadOnly));
    const QList<QByteArray> trial_lines = t.readAll().split('\n');
    size_t appearances = 0;
    for (const RunRecord& r : window.report().results.runs) appearances += r.subject_utf8 == "被験者B" ? r.rows.size() : 0;
    QVERIFY(appearances > 0);
    QCOMPARE(size_t(trial_lines.size()), 1 + appearances + 1);
    for (qsizetype i = 1; i + 1 < trial_lines.size(); ++i) QVERIFY(trial_lines[i].contains(",被験者B,"));
    QFile h(html);
    QVERIFY(h.open(QIODevice::ReadOnly));
    const QByteArray page = h.readAll();
    QVERIFY(page.contains("<h3>Subject 被験者B</h3>"));
    QVERIFY(!page.contains("<h3>Subject A</h3>"));
  }

  void ratesStayOffTheFrame() {
    ReportWindow window(folder_);
    window.SelectRun(0);
    const auto axes = window.chart(2)->axes(Qt::Vertical);
    QCOMPARE(axes.size(), 1);
    auto* y = qobject_cast<QValueAxis*>(axes.front());
    QVERIFY(y);
    QVERIFY(y->min() < 0);
    QVERIFY(y->max() > 1);
    // Each 10-s bin says how many targets and distractors its rates stand on.
    const auto x = window.chart(2)->axes(Qt::Horizontal);
    QCOMPARE(x.size(), 1);
    QVERIFY(x.front()->titleText().contains(QStringLiteral("targets/distractors per bin: ")));
  }

  void readsInTheBackgroundWithTheSameResult() {
    ReportWindow window(folder_, nullptr, /*background=*/true);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.reading(), 30000);
    QVERIFY(window.loaded());
    QCOMPARE(window.table()->rowCount(), 6 + 2 * 2);
    // A second reading (a new anticipation limit) on top of a running one ends with the last.
    window.SetAnticipationLimit(100);
    window.SetAnticipationLimit(200);
    QTRY_VERIFY_WITH_TIMEOUT(!window.reading(), 30000);
    QCOMPARE(window.report().options.anticipation_ms, 200);
  }

  void aFolderWithoutResultsSaysSo() {
    ReportWindow window(dir_.filePath(QStringLiteral("stim")));
    QVERIFY(!window.loaded());
    QCOMPARE(window.table()->rowCount(), 0);
    QString error;
    QVERIFY(!window.ExportCsv(dir_.filePath(QStringLiteral("none.csv")), &error));
    QVERIFY(error.contains(QStringLiteral("no result files")));
  }

 private:
  QTemporaryDir dir_;
  QString folder_;
};

}  // namespace pyokoran

QTEST_MAIN(pyokoran::ReportWindowTest)
#include "report_window_tests.moc"
