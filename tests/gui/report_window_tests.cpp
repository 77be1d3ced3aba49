// The report window on a folder of simulated runs, under the offscreen platform: its table,
// filter and plots, the PDF and CSV it exports, and a large folder read in the background.
#include <QApplication>
#include <QAreaSeries>
#include <QLineSeries>
#include <QChart>
#include <QComboBox>
#include <QFile>
#include <QScatterSeries>
#include <QElapsedTimer>
#include <QLabel>
#include <QAbstractButton>
#include <QProcess>
#include <QTableView>
#include <QTimer>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "gui/report_window.h"
#include "simulation/simulator.h"

namespace pyokoran {
namespace {

QString Cell(const QTableView* table, int row, int column) {
  return table->model()->index(row, column).data().toString();
}

int Pages(const QString& pdf) {
  QFile p(pdf);
  if (!p.open(QIODevice::ReadOnly)) return -1;
  const QByteArray bytes = p.readAll();
  return int(bytes.count("/Type /Page") - bytes.count("/Type /Pages"));
}

}  // namespace

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
    QTableView* table = window.table();
    QCOMPARE(table->model()->rowCount(), 6 + 2 * 2);  // the runs, then each subject's condition and all its runs
    QCOMPARE(Cell(table, 6, 1), QString::fromUtf8("T6 D3 H12 60s 2000ms 1000-3000ms rows、2 試行"));
    QVERIFY(!table->model()->index(6, 0).data(Qt::FontRole).value<QFont>().bold());
    QCOMPARE(Cell(table, 7, 1), QString::fromUtf8("全 2 試行"));
    QVERIFY(table->model()->index(9, 0).data(Qt::FontRole).value<QFont>().bold());
    const int date = 1, time = 2;  // Subject, Date, Time, ...
    QCOMPARE(table->model()->headerData(date, Qt::Horizontal).toString(), QStringLiteral("Date"));
    for (int row = 1; row < 6; ++row) {
      const QString before = Cell(table, row - 1, date) + Cell(table, row - 1, time);
      const QString after = Cell(table, row, date) + Cell(table, row, time);
      QVERIFY2(before >= after, qPrintable(before + " < " + after));
    }
    QCOMPARE(Cell(table, 0, 0), QString::fromUtf8("被験者B"));

    // Sorted by hits, numbers as numbers, and back to newest first.
    int hit = 0;
    while (hit < table->model()->columnCount() &&
           table->model()->headerData(hit, Qt::Horizontal).toString() != QStringLiteral("Hit"))
      ++hit;
    QVERIFY(hit < table->model()->columnCount());
    table->sortByColumn(hit, Qt::AscendingOrder);
    for (int row = 1; row < 10; ++row) QVERIFY(Cell(table, row - 1, hit).toInt() <= Cell(table, row, hit).toInt());
    table->sortByColumn(date, Qt::DescendingOrder);
    QCOMPARE(Cell(table, 0, 0), QString::fromUtf8("被験者B"));

    // Filter on A: its four runs, its condition row and its pooled row stay.
    window.subject_filter()->setCurrentText(QStringLiteral("A"));
    QCOMPARE(table->model()->rowCount(), 4 + 2);
    for (int row = 0; row < 6; ++row) QCOMPARE(Cell(table, row, 0), QStringLiteral("A"));

    // The plots of the selected run: one dot per hit, d' over A's four runs.
    const auto selected = table->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    const size_t run = window.RunOfRow(selected.front().row());
    const RunRecord& r = window.report().results.runs[run];
    QCOMPARE(r.subject, std::string("A"));
    auto* dots = qobject_cast<QScatterSeries*>(window.chart(1)->series().value(0));
    QVERIFY(dots);
    QCOMPARE(int64_t(dots->count()), int64_t(window.report().run_measures[run].hit_rt.n));
    auto* d_prime = qobject_cast<QXYSeries*>(window.chart(3)->series().value(0));
    QVERIFY(d_prime);
    QCOMPARE(d_prime->count(), 4);
    QCOMPARE(d_prime->name(), QStringLiteral("T6 D3 H12 60s 2000ms 1000-3000ms rows"));  // a series per condition
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
    QVERIFY2(window.ExportPdf(pdf, PdfContent::kEverything, &error), qPrintable(error));

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
    QCOMPARE(Pages(pdf), 3);

    // A subject's appearance file under the report's name is never replaced.
    const QString subject_file = QDir(folder_).filePath(QStringLiteral("A.csv"));
    QVERIFY(!window.ExportCsv(subject_file, &error));
    QVERIFY(error.contains(QStringLiteral("not a report")));
    QVERIFY(!window.ExportPdf(subject_file, PdfContent::kSelection, &error));

    // Nor is a PDF the program did not write, and our own PDF is replaced.
    const QString manuscript = dir_.filePath(QStringLiteral("manuscript.pdf"));
    const QByteArray theirs = "%PDF-1.7\n1 0 obj << /Creator (LaTeX) >> endobj\n%%EOF\n";
    {
      QFile m(manuscript);
      QVERIFY(m.open(QIODevice::WriteOnly));
      m.write(theirs);
    }
    QVERIFY(!window.ExportPdf(manuscript, PdfContent::kSelection, &error));
    QVERIFY(error.contains(QStringLiteral("not a report")));
    QFile m(manuscript);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll(), theirs);
    QVERIFY2(window.ExportPdf(pdf, PdfContent::kSelection, &error), qPrintable(error));
  }

  // Export with a link to a file outside and a FIFO at each temporary name: nothing outside
  // is written and nothing waits.
  void exportNeverFollowsALinkNorWaitsOnAFifo() {
    ReportWindow window(folder_);
    const QString victim = dir_.filePath(QStringLiteral("victim.txt"));
    {
      QFile v(victim);
      QVERIFY(v.open(QIODevice::WriteOnly));
      v.write("keep");
    }
    for (const bool fifo : {false, true}) {
      const QString base = dir_.filePath(fifo ? QStringLiteral("planted-fifo") : QStringLiteral("planted-link"));
      const QStringList outputs = {base + QStringLiteral(".csv"), base + QStringLiteral(".pdf"),
                                   base + QStringLiteral(".html"), base + QStringLiteral("_trials.csv")};
      for (const QString& out : outputs) {
        const QByteArray part = (out + QStringLiteral(".part")).toLocal8Bit();
        QVERIFY(fifo ? mkfifo(part.constData(), 0600) == 0
                     : symlink(victim.toLocal8Bit().constData(), part.constData()) == 0);
      }
      QString error;
      QVERIFY2(window.ExportCsv(outputs[0], &error), qPrintable(error));
      QVERIFY2(window.ExportPdf(outputs[1], PdfContent::kSelection, &error), qPrintable(error));
      QVERIFY2(window.ExportHtml(outputs[2], &error), qPrintable(error));
      QVERIFY2(window.ExportTrials(outputs[3], &error), qPrintable(error));
      for (const QString& out : outputs) {
        QVERIFY2(IsOurReport(out.toStdString()), qPrintable(out));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral(".part")));
        QVERIFY(!QFileInfo(out + QStringLiteral(".part")).isSymLink());
      }
    }
    QFile v(victim);
    QVERIFY(v.open(QIODevice::ReadOnly));
    QCOMPARE(v.readAll(), QByteArray("keep"));
  }

  void subjectFilterIsSortedAndExportsWhatItShows() {
    ReportWindow window(folder_);
    QComboBox* filter = window.subject_filter();
    // Runs of 被験者B are the newest, yet the list is in order of the IDs.
    QCOMPARE(filter->count(), 3);
    QCOMPARE(filter->itemText(1), QStringLiteral("A"));
    QCOMPARE(filter->itemText(2), QString::fromUtf8("被験者B"));
    filter->setCurrentIndex(2);
    QCOMPARE(window.table()->model()->rowCount(), 2 + 2);  // B's runs, B's condition row and B's pooled row

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
    QVERIFY(page.contains("<h3>参加者 被験者B</h3>"));  // in Japanese, as the program speaks
    QVERIFY(!page.contains("<h3>参加者 A</h3>"));
    // In English when the window is asked to.
    window.SetLanguage(ReportLanguage::kEnglish);
    QVERIFY2(window.ExportHtml(html, &error), qPrintable(error));
    QFile english(html);
    QVERIFY(english.open(QIODevice::ReadOnly));
    QVERIFY(english.readAll().contains("<h3>Subject 被験者B</h3>"));
    // So does the PDF: even "everything" is B's summary and runs on a page, and B's plots.
    const QString pdf = dir_.filePath(QStringLiteral("only_b.pdf"));
    QVERIFY2(window.ExportPdf(pdf, PdfContent::kEverything, &error), qPrintable(error));
    QCOMPARE(Pages(pdf), 2);
  }

  // A run claiming the longest time limit and the longest RTs an int holds: every chart
  // keeps a few ticks, and the PDF is written.
  void hostileNumbersKeepTheChartsSmall() {
    const QString folder = dir_.filePath(QStringLiteral("hostile"));
    QVERIFY(QDir().mkpath(folder));
    auto write = [&](const QString& name, const QByteArray& bytes) {
      QFile f(QDir(folder).filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    };
    write(QStringLiteral("ピョコラン.txt"),
          "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\tRndSeed\tHit\tMiss\tCR"
          "\tFA\tScore\r\nH\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t2147483647\t7\t2\t0\t0\t1\t1\r\n");
    write(QStringLiteral("H.csv"),
          "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,RndSeed,Pokko,Tgt,Hole,"
          "Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n"
          "H,2026/12/01,10:00:00,1,6,3,12,1,2000,1000,3000,2147483647,7,1,1,1,100,100,1,100,100,2147483647,2147483647,0\r\n"
          "H,2026/12/01,10:00:00,2,6,3,12,1,2000,1000,3000,2147483647,7,2,1,1,100,100,1,100,100,200,-2147483648,0\r\n"
          "H,2026/12/01,10:00:00,3,6,3,12,1,2000,1000,3000,2147483647,7,3,0,1,100,100,1,100,100,-2147483648,5,0\r\n");
    ReportWindow window(folder);
    QVERIFY(window.loaded());
    window.SelectRun(0);
    for (int c = 0; c < 4; ++c) {
      for (QAbstractAxis* axis : window.chart(c)->axes()) {
        auto* v = qobject_cast<QValueAxis*>(axis);
        if (!v) continue;
        const double ticks = v->tickType() == QValueAxis::TicksDynamic ? (v->max() - v->min()) / v->tickInterval()
                                                                       : double(v->tickCount());
        QVERIFY2(ticks <= 50, qPrintable(QStringLiteral("chart %1: %2 ticks").arg(c).arg(ticks)));
      }
    }
    QString error;
    QVERIFY2(window.ExportPdf(dir_.filePath(QStringLiteral("hostile.pdf")), PdfContent::kEverything, &error),
             qPrintable(error));
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
    QVERIFY(x.front()->titleText().contains(QString::fromUtf8("各 10 秒のターゲット/ディストラクタの数: ")));
  }

  // The command line's options are the window's from the start (one reading, not two); a
  // folder without results keeps the reason.
  void startsWithTheOptionsGiven() {
    MeasureOptions options;
    options.anticipation_ms = 250;
    options.exclude_anticipations = true;
    ReportWindow window(folder_, nullptr, false, options);
    QVERIFY(window.loaded());
    QCOMPARE(window.report().options.anticipation_ms, 250);
    QVERIFY(window.report().options.exclude_anticipations);
    QVERIFY(window.error().empty());
    const QString empty = dir_.filePath(QStringLiteral("empty"));
    QVERIFY(QDir().mkpath(empty));
    ReportWindow none(empty);
    QVERIFY(!none.loaded());
    // The folder on a line of its own, said in Japanese in the window.
    QCOMPARE(QString::fromStdString(none.error()), QStringLiteral("no result files in\n") + empty);
    QCOMPARE(none.status(), QString::fromUtf8("次のフォルダには結果のファイルがありません。\n") + empty);
  }

  // Japanese by default, English when asked: the window's own words, its table's pooled rows,
  // its plots and status, and back.
  void speaksJapaneseUnlessAskedForEnglish() {
    ReportWindow window(folder_);
    window.subject_filter()->setCurrentText(QStringLiteral("A"));
    const auto words = [&] {
      QStringList all{window.windowTitle(), window.status(), window.subject_filter()->itemText(0)};
      for (int c = 0; c < 4; ++c) {
        all << window.chart(c)->title();
        for (QAbstractAxis* axis : window.chart(c)->axes()) all << axis->titleText();
      }
      for (QWidget* w : window.findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) all << b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) all << l->text();
      }
      for (int row = 0; row < window.table()->model()->rowCount(); ++row) all << Cell(window.table(), row, 1);
      return all.join(QLatin1Char('|'));
    };
    const QString japanese = words();
    QCOMPARE(window.language(), ReportLanguage::kJapanese);
    for (const char* piece : {"レポート", "試行、参加者 2 人", "（全員）", "ヒットの RT の分布", "試行中のヒットの RT",
                              "10 秒ごとのヒット率", "の試行ごとの d′", "予期反応の限界", "書き出し", "閉じる", "全 4 試行",
                              "RT の上限", "ロックした試行", "問題のある試行"})
      QVERIFY2(japanese.contains(QString::fromUtf8(piece)), piece);
    QVERIFY2(!japanese.contains(QStringLiteral("runs")), qPrintable(japanese));
    // The folder on a line of its own below the counts.
    QVERIFY(window.status().endsWith(QLatin1Char('\n') + QFileInfo(folder_).absoluteFilePath().replace(
                                                             QLatin1Char('/'), QStringLiteral("/\u200B"))));

    window.SetLanguage(ReportLanguage::kEnglish);
    const QString english = words();
    for (const char* piece : {"Report", "6 runs, 2 subjects", "(all)", "Hit RT distribution", "Hit RT across the run",
                              "rates per 10 s", "d′ across the runs of", "Anticipation limit", "Export", "Close",
                              "all 4 runs", "RT limit", "locked runs", "problems"})
      QVERIFY2(english.contains(QString::fromUtf8(piece)), piece);
    QVERIFY2(!english.contains(QString::fromUtf8("試行")), qPrintable(english));
    window.SetLanguage(ReportLanguage::kJapanese);
    QCOMPARE(words(), japanese);
  }

  // Each exclusion set in the window measures the runs read again and gives the CSV the
  // program's --report writes with the same options.
  void exclusionsGiveTheCommandLinesCsv() {
    // A copy of the folder in which one run's summary line counts a hit more than its rows.
    const QString folder = dir_.filePath(QStringLiteral("exclusions"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString& f : QDir(folder_).entryList(QDir::Files)) {
      if (!f.endsWith(QStringLiteral(".lock"))) QVERIFY(QFile::copy(folder_ + QLatin1Char('/') + f, folder + QLatin1Char('/') + f));
    }
    {
      QFile summary(folder + QString::fromUtf8("/ピョコラン.txt"));
      QVERIFY(summary.open(QIODevice::ReadWrite));
      QList<QByteArray> lines = summary.readAll().split('\n');
      QList<QByteArray> cells = lines[1].split('\t');
      cells[12] = QByteArray::number(cells[12].toInt() + 1);  // Hit
      lines[1] = cells.join('\t');
      summary.resize(0);
      summary.seek(0);
      summary.write(lines.join('\n'));
    }
    ReportWindow window(folder);
    QVERIFY(window.loaded());
    const struct {
      const char* name;
      QStringList arguments;
      std::function<void()> set;
    } cases[] = {
        {"max-rt", {QStringLiteral("--max-rt"), QStringLiteral("400")}, [&] { window.SetMaxRt(400); }},
        {"onset-locked-only", {QStringLiteral("--onset-locked-only")}, [&] { window.SetOnsetLockedOnly(true); }},
        {"exclude-problem-runs", {QStringLiteral("--exclude-problem-runs")}, [&] { window.SetExcludeProblemRuns(true); }},
    };
    QStringList arguments{QStringLiteral("--report"), folder, QStringLiteral("--anticipation"), QStringLiteral("200")};
    window.SetAnticipationLimit(200);
    QByteArray before = ReportCsv(window.report()).c_str();
    for (const auto& c : cases) {
      c.set();
      arguments << c.arguments;
      const QString out = dir_.filePath(QStringLiteral("cli_%1.csv").arg(QString::fromUtf8(c.name)));
      QProcess program;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
      program.setProcessEnvironment(env);
      program.start(QStringLiteral(PYOKORAN_PROGRAM), arguments + QStringList{QStringLiteral("--out"), out});
      QVERIFY(program.waitForFinished(60000));
      QVERIFY2(program.exitCode() == 0, program.readAllStandardError().constData());
      const QString shown = dir_.filePath(QStringLiteral("window_%1.csv").arg(QString::fromUtf8(c.name)));
      QString error;
      QVERIFY2(window.ExportCsv(shown, &error), qPrintable(error));
      QFile a(out), b(shown);
      QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
      const QByteArray cli = a.readAll();
      QVERIFY2(cli == b.readAll(), c.name);
      // Each option changes the figures of this folder, so the comparison says something.
      const QByteArray now = ReportCsv(window.report()).c_str();
      QVERIFY2(now != before, c.name);
      before = now;
    }
  }

  void readsInTheBackgroundWithTheSameResult() {
    ReportWindow window(folder_, nullptr, /*background=*/true);
    window.show();
    // New limits while the folder is read: the reading starts again and ends with the last.
    QVERIFY(window.reading());
    window.SetAnticipationLimit(100);
    window.SetAnticipationLimit(200);
    QTRY_VERIFY_WITH_TIMEOUT(!window.reading(), 30000);
    QVERIFY(window.loaded());
    QCOMPARE(window.report().options.anticipation_ms, 200);
    QCOMPARE(window.table()->model()->rowCount(), 6 + 2 * 2);
    // Once read, a new limit measures the same runs again without reading: the same figures
    // as a window that read with that limit.
    window.SetAnticipationLimit(400);
    QVERIFY(!window.reading());
    MeasureOptions options;
    options.anticipation_ms = 400;
    ReportWindow direct(folder_, nullptr, false, options);
    QCOMPARE(window.report().options.anticipation_ms, 400);
    QCOMPARE(ReportCsv(window.report()), ReportCsv(direct.report()));
    QVERIFY(ReportCsv(window.report()) != ReportCsv(ReportWindow(folder_).report()));
  }

  // The PDF holds the summary and, beside it, only the selected subjects: none, one (its
  // runs' table and a page of plots), or all of them.
  void pdfHoldsTheSummaryAndTheSelectedSubjects() {
    ReportWindow window(folder_);
    const QString pdf = dir_.filePath(QStringLiteral("selected.pdf"));
    const struct {
      const char* name;
      std::vector<std::string> subjects;
      PdfContent content;
      int pages;
    } cases[] = {
        {"summary only", {}, PdfContent::kSelection, 1},
        {"one subject", {"A"}, PdfContent::kSelection, 2},
        {"both subjects", {"A", "\x94\xed\x8c\xb1\x8e\xd2\x42"}, PdfContent::kSelection, 3},
        {"everything", {}, PdfContent::kEverything, 3},
    };
    for (const auto& c : cases) {
      window.SetSelectedSubjects(c.subjects);
      QString error;
      QVERIFY2(window.ExportPdf(pdf, c.content, &error), qPrintable(error));
      QVERIFY2(Pages(pdf) == c.pages, c.name);
    }
  }

  // A large folder: the window keeps handling events while it reads, its bar tells the share
  // of bytes read (rising to the end), and closing the window stops the reading.
  void staysResponsiveWhileReadingALargeFolder() {
    const QString big = dir_.filePath(QStringLiteral("big"));
    QVERIFY(QDir().mkpath(big));
    {
      std::ofstream summary((big + QString::fromUtf8("/ピョコラン.txt")).toStdString(), std::ios::binary);
      std::ofstream rows((big + QStringLiteral("/S.csv")).toStdString(), std::ios::binary);
      summary << "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
                 "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";
      rows << "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
              "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
      char time[16];
      for (int run = 0; run < 3000; ++run) {
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", run / 3600, run / 60 % 60, run % 60);
        summary << "S\t2026/12/01\t" << time << "\t6\t3\t12\t1\t2000\t1000\t3000\t60\t" << run + 1
                << "\t100\t0\t0\t0\t100\r\n";
        for (int t = 1; t <= 100; ++t)
          rows << "S,2026/12/01," << time << ',' << t << ",6,3,12,1,2000,1000,3000,60," << run + 1
               << ",1,1,3,512,384,1,512,384," << 300 + t << ',' << 1000 * t << ",0\r\n";
      }
    }
    ReportWindow window(big, nullptr, /*background=*/true);
    window.show();
    QVERIFY(window.reading());
    int ticks = 0, last = 0;
    bool partial = false, rising = true;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      if (!window.reading()) return;
      ++ticks;
      const int p = window.progress();
      rising = rising && p >= last;
      partial = partial || (p > 0 && p < 1000);
      last = p;
    });
    tick.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(!window.reading(), 120000);
    QVERIFY(window.loaded());
    QCOMPARE(window.table()->model()->rowCount(), 3000 + 2);  // the runs, the condition row, the subject row
    QVERIFY2(ticks > 0, "no event was handled while the folder was read");
    QVERIFY(rising);
    QVERIFY2(partial, "the bar never showed a share between nothing and all");

    // Closed while it reads: the reading stops and nothing is shown.
    ReportWindow closed(big, nullptr, /*background=*/true);
    closed.show();
    QVERIFY(closed.reading());
    closed.close();
    QTRY_VERIFY_WITH_TIMEOUT(!closed.reading(), 120000);
    QVERIFY(!closed.loaded());
  }

  void aFolderWithoutResultsSaysSo() {
    ReportWindow window(dir_.filePath(QStringLiteral("stim")));
    QVERIFY(!window.loaded());
    QCOMPARE(window.table()->model()->rowCount(), 0);
    QString error;
    QVERIFY(!window.ExportCsv(dir_.filePath(QStringLiteral("none.csv")), &error));
    QVERIFY2(error.startsWith(QString::fromUtf8("次のフォルダには結果のファイルがありません。\n")), qPrintable(error));
  }

 private:
  QTemporaryDir dir_;
  QString folder_;
};

}  // namespace pyokoran

QTEST_MAIN(pyokoran::ReportWindowTest)
#include "report_window_tests.moc"
