#include "gui/report_window.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QScatterSeries>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

#include "analysis/html_report.h"
#include "analysis/trial_export.h"

namespace pyokoran {
namespace {

// The report's Japanese text in the IPA font, as in the rest of the program.
QFont ReportFont(qreal points, bool bold = false) {
  QFont f;
  f.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

QString U(const std::string& s) { return QString::fromStdString(s); }

// A subject ID as a title or list shows it: at most max characters (IDs can be very long).
QString Short(const std::string& s, size_t max = 40) { return U(ShortenUtf8(s, max)); }

// A round step (1, 2 or 5 times a power of ten) cutting span into at most about parts.
double RoundStep(double span, int parts) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / parts;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

// A path that may wrap after each separator.
QString Wrappable(const QString& path) {
  QString out = path;
  out.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
  return out;
}

constexpr int kRunRole = Qt::UserRole;       // run index, on the first cell of a row
constexpr int kSortRole = Qt::UserRole + 1;  // number or text to sort by
constexpr int kPooledRole = Qt::UserRole + 2;  // true on a subject's row (kRunRole: its newest run)

// Sorts numbers as numbers; empty cells (no value) sort below every number.
class SortItem : public QTableWidgetItem {
 public:
  using QTableWidgetItem::QTableWidgetItem;
  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant a = data(kSortRole), b = other.data(kSortRole);
    if (a.typeId() == QMetaType::Double && b.typeId() == QMetaType::Double)
      return a.toDouble() < b.toDouble();
    return a.toString() < b.toString();
  }
};

// Columns of the window's table: those of the CSV but the level, run id and run count.
// Who and when first, then the measures, then the run's settings, so that the measures are
// in view without scrolling.
std::vector<size_t> TableColumns() {
  std::vector<size_t> columns, settings;
  const auto& names = ReportColumns();
  const auto first_setting = std::find(names.begin(), names.end(), "Simulated") - names.begin();
  const auto first_measure = std::find(names.begin(), names.end(), "Targets") - names.begin();
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == "Level" || names[i] == "Runs" || names[i] == "RunId") continue;
    if (ptrdiff_t(i) >= first_setting && ptrdiff_t(i) < first_measure) settings.push_back(i);
    else columns.push_back(i);
  }
  columns.insert(columns.end(), settings.begin(), settings.end());
  return columns;
}

size_t ColumnOf(const char* name) {
  const auto& names = ReportColumns();
  return size_t(std::find(names.begin(), names.end(), name) - names.begin());
}

QChart* NewChart(const QString& title) {
  auto* chart = new QChart;
  chart->setTitle(title);
  chart->setTitleFont(ReportFont(10, true));
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->setFont(ReportFont(8));
  chart->setMargins(QMargins(4, 4, 4, 4));
  return chart;
}

QValueAxis* NewValueAxis(const QString& title, double lo, double hi) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setTitleFont(ReportFont(8));
  axis->setLabelsFont(ReportFont(7));
  if (hi > lo) axis->setRange(lo, hi);
  return axis;
}

void Attach(QChart* chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y) {
  chart->addSeries(series);
  if (!chart->axes(Qt::Horizontal).contains(x)) chart->addAxis(x, Qt::AlignBottom);
  if (!chart->axes(Qt::Vertical).contains(y)) chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
}

// The cells the PDF table shows, from the CSV cells.
const char* const kPdfColumns[] = {"Subject",   "Date",        "Time",       "Hit",
                                   "Miss",      "FA",          "CR",         "HitRate",
                                   "FARate",    "dPrime",      "Criterion",  "HitRT_Mean",
                                   "HitRT_Median", "HitRT_SD", "HitRT_N",    "FART_Mean",
                                   "FART_N",    "Anticipations", "OnsetRT_Mean"};

const char* const kPdfHeaders[] = {"Subject", "Date",   "Time",    "Hit",    "Miss",
                                   "FA",      "CR",     "H",       "F",      "d′",
                                   "c",       "RT mean", "RT med", "RT SD",  "RT n",
                                   "FA RT",   "FA n",   "Antic.",  "Onset RT"};
static_assert(std::size(kPdfHeaders) == std::size(kPdfColumns));

}  // namespace

ReportWindow::ReportWindow(const QString& folder, QWidget* parent, bool background)
    : QDialog(parent), folder_(folder), background_(background) {
  setWindowTitle(QString::fromUtf8("Report — ピョコラン"));
  setFont(ReportFont(9));

  simulated_ = new QLabel(QStringLiteral("SIMULATED DATA"), this);
  simulated_->setStyleSheet(QStringLiteral("QLabel { background: #c00; color: white; font-weight: bold; padding: 2px 6px; }"));
  simulated_->setVisible(false);
  status_ = new QLabel(this);
  // A long folder path wraps instead of widening the window or hiding the mark.
  status_->setWordWrap(true);
  status_->setTextFormat(Qt::PlainText);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  subject_ = new QComboBox(this);
  subject_->setMinimumContentsLength(12);
  anticipation_ = new QSpinBox(this);
  anticipation_->setRange(-1000, 5000);
  anticipation_->setValue(150);
  anticipation_->setSuffix(QStringLiteral(" ms"));
  pool_ = new QCheckBox(QStringLiteral("RT distribution of the subject's runs"), this);
  exclude_ = new QCheckBox(QStringLiteral("Leave them out of Hit/FA"), this);
  exclude_->setToolTip(QStringLiteral("Anticipations are always left out of the RT figures; checked, their "
                                      "appearances count in neither Hit nor FA, nor in the rates, d′ and c."));
  auto* folder_button = new QPushButton(QStringLiteral("&Folder..."), this);
  auto* export_button = new QPushButton(QStringLiteral("&Export..."), this);
  auto* trials_button = new QPushButton(QStringLiteral("Export &trials..."), this);
  auto* close_button = new QPushButton(QStringLiteral("Close"), this);

  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("Subject:"), this));
  bar->addWidget(subject_);
  bar->addWidget(new QLabel(QStringLiteral("Anticipation limit:"), this));
  bar->addWidget(anticipation_);
  bar->addWidget(exclude_);
  bar->addWidget(pool_);
  bar->addStretch(1);

  table_ = new QTableWidget(this);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

  auto* charts = new QWidget(this);
  auto* grid = new QGridLayout(charts);
  grid->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 4; ++i) {
    views_[i] = new QChartView(NewChart(QString()), charts);
    views_[i]->setRenderHint(QPainter::Antialiasing);
    views_[i]->setMinimumSize(360, 240);
    grid->addWidget(views_[i], i / 2, i % 2);
  }

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(table_);
  splitter->addWidget(charts);
  splitter->setStretchFactor(0, 2);
  splitter->setStretchFactor(1, 3);

  auto* layout = new QVBoxLayout(this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 0);  // busy: the reading does not know its length beforehand
  progress_->setMaximumWidth(200);
  progress_->setVisible(false);
  auto* top = new QHBoxLayout;
  top->addWidget(simulated_, 0, Qt::AlignTop);
  top->addWidget(status_, 1);
  top->addWidget(progress_, 0, Qt::AlignTop);
  // The buttons beside the status, so that both rows fit a screen 1024 pixels wide.
  for (QPushButton* b : {folder_button, export_button, trials_button, close_button}) top->addWidget(b, 0, Qt::AlignTop);
  layout->addLayout(top);
  layout->addLayout(bar);
  layout->addWidget(splitter, 1);

  connect(close_button, &QPushButton::clicked, this, &QDialog::accept);
  connect(export_button, &QPushButton::clicked, this, [this] { ExportWithDialog(); });
  connect(trials_button, &QPushButton::clicked, this, [this] { ExportTrialsWithDialog(); });
  connect(exclude_, &QCheckBox::toggled, this, [this] { Reload(); });
  connect(folder_button, &QPushButton::clicked, this, [this] {
    // Another folder of results, such as the simulated runs.
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Folder of result files"), folder_);
    if (folder.isEmpty()) return;
    folder_ = folder;
    Reload();
  });
  connect(subject_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
  connect(anticipation_, &QSpinBox::valueChanged, this, [this] { Reload(); });
  connect(pool_, &QCheckBox::toggled, this, [this] { SelectionChanged(); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });

  // Most of the screen: at 1920 x 1080 the table shows about fifteen rows above the plots.
  resize(1200, 900);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    resize(std::max(std::min(1200, area.width()), area.width() * 9 / 10),
           std::max(std::min(900, area.height()), area.height() * 9 / 10));
  }
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  splitter->setSizes({height() * 45 / 100, height() * 55 / 100});
  Reload();
}

void ReportWindow::SetExcludeAnticipations(bool exclude) {
  if (exclude_->isChecked() != exclude) exclude_->setChecked(exclude);  // reloads
}

void ReportWindow::SetAnticipationLimit(int ms) {
  if (anticipation_->value() == ms) return;
  anticipation_->setValue(ms);  // reloads
}

QChart* ReportWindow::chart(int i) const { return i >= 0 && i < 4 ? views_[i]->chart() : nullptr; }

void ReportWindow::Reload() {
  MeasureOptions options;
  options.anticipation_ms = anticipation_->value();
  options.exclude_anticipations = exclude_->isChecked();
  if (!background_) {
    std::string error;
    loaded_ = BuildReport(folder_.toStdString(), options, report_, error);
    Show(error);
    return;
  }
  // In the background: the window stays responsive and shows that it is reading. A request
  // made while a reading runs is served once that one ends.
  if (reader_) {
    reload_again_ = true;
    return;
  }
  progress_->setVisible(true);
  status_->setText(QStringLiteral("Reading %1 …").arg(Wrappable(QFileInfo(folder_).absoluteFilePath())));
  auto result = std::make_shared<std::pair<Report, std::string>>();
  auto ok = std::make_shared<bool>(false);
  reader_ = QThread::create([folder = folder_.toStdString(), options, result, ok] {
    *ok = BuildReport(folder, options, result->first, result->second);
  });
  connect(reader_, &QThread::finished, this, [this, result, ok] {
    reader_->deleteLater();
    reader_ = nullptr;
    if (reload_again_) {
      reload_again_ = false;
      Reload();
      return;
    }
    progress_->setVisible(false);
    report_ = std::move(result->first);
    loaded_ = *ok;
    Show(result->second);
  });
  reader_->start();
}

ReportWindow::~ReportWindow() {
  if (reader_) {
    reader_->disconnect(this);
    reader_->wait();
    delete reader_;
  }
}

void ReportWindow::Show(const std::string& error) {
  const QString where = Wrappable(QFileInfo(folder_).absoluteFilePath());
  simulated_->setVisible(loaded_ && report_.results.simulated);
  if (!loaded_) {
    status_->setText(QStringLiteral("%1: %2").arg(where, U(error)));
    report_ = Report{};
  } else {
    QString text = QStringLiteral("%1: %2 runs, %3 subjects")
                       .arg(where)
                       .arg(report_.results.runs.size())
                       .arg(report_.subjects.size());
    if (!report_.results.problems.empty())
      text += QStringLiteral(" — %1 lines skipped (first: %2)")
                  .arg(report_.results.problems.size())
                  .arg(U(report_.results.problems.front()));
    status_->setText(text);
  }

  const QString keep = subject_->currentText();
  const QSignalBlocker block(subject_);
  subject_->clear();
  subject_->addItem(QStringLiteral("(all)"));
  // Subjects in order of their IDs; each item knows its subject.
  std::vector<size_t> order(report_.subjects.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return report_.subjects[a].subject_utf8 < report_.subjects[b].subject_utf8;
  });
  for (size_t i : order) {
    subject_->addItem(Short(report_.subjects[i].subject_utf8, 60), qulonglong(i));
    subject_->setItemData(subject_->count() - 1, Short(report_.subjects[i].subject_utf8, 1000), Qt::ToolTipRole);
  }
  subject_->setCurrentIndex(std::max(0, subject_->findText(keep)));
  FillTable();
  ApplyFilter();
}

void ReportWindow::FillTable() {
  const QSignalBlocker block(table_);
  table_->setSortingEnabled(false);
  table_->clear();
  const auto columns = TableColumns();
  const auto& names = ReportColumns();
  table_->setColumnCount(int(columns.size()));
  const size_t runs = report_.results.runs.size();
  table_->setRowCount(int(runs + report_.conditions.size() + report_.subjects.size()));
  QStringList headers;
  for (size_t c : columns) headers << U(names[c]);
  table_->setHorizontalHeaderLabels(headers);
  const size_t date = ColumnOf("Date");
  const size_t subject_column = ColumnOf("Subject");
  QFont bold = table_->font();
  bold.setBold(true);
  // One row per run, then each subject's runs pooled: per condition, then all (bold), below
  // the runs.
  std::vector<std::pair<size_t, size_t>> pooled_rows;  // (subject, condition or size_t(-1))
  for (size_t s = 0; s < report_.subjects.size(); ++s) {
    for (size_t k : report_.subjects[s].conditions) pooled_rows.emplace_back(s, k);
    pooled_rows.emplace_back(s, size_t(-1));
  }
  for (size_t r = 0; r < runs + pooled_rows.size(); ++r) {
    const bool pooled = r >= runs;
    const SubjectReport* subject = pooled ? &report_.subjects[pooled_rows[r - runs].first] : nullptr;
    const size_t condition = pooled ? pooled_rows[r - runs].second : size_t(-1);
    auto cells = !pooled ? RunCells(report_, r)
                 : condition != size_t(-1) ? ConditionCells(report_, condition)
                                           : SubjectCells(report_, pooled_rows[r - runs].first);
    if (pooled && condition != size_t(-1))
      cells[date] = std::to_string(report_.conditions[condition].runs.size()) + " runs, these settings";
    else if (pooled)
      cells[date] = "all " + std::to_string(subject->runs.size()) + " runs";
    const size_t run_index = pooled ? (subject->runs.empty() ? 0 : subject->runs.back()) : r;
    const RunRecord& run = report_.results.runs[run_index];
    for (size_t k = 0; k < columns.size(); ++k) {
      const std::string& cell = cells[columns[k]];
      auto* item = new SortItem(columns[k] == subject_column ? Short(cell, 200) : U(cell));
      if (columns[k] == subject_column && cell.size() > 200) item->setToolTip(Short(cell, 1000));
      if (pooled && condition == size_t(-1)) item->setFont(bold);
      bool number = false;
      const double v = QString::fromStdString(cell).toDouble(&number);
      if (columns[k] == date && pooled) {
        item->setData(kSortRole, QString());  // below every run when newest first
      } else if (columns[k] == date) {
        // Newest first by date, time and line.
        item->setData(kSortRole, QStringLiteral("%1 %2 %3")
                                     .arg(U(run.date), U(run.time))
                                     .arg(run.file_order, 9, 10, QLatin1Char('0')));
      } else if (number) {
        item->setData(kSortRole, v);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      } else if (cell.empty() && columns[k] > date) {
        item->setData(kSortRole, -1e300);
      } else {
        item->setData(kSortRole, U(cell));
      }
      if (k == 0) {
        item->setData(kRunRole, qulonglong(run_index));
        item->setData(kPooledRole, pooled);
      }
      table_->setItem(int(r), int(k), item);
    }
  }
  table_->setSortingEnabled(true);
  const int date_column = int(std::find(columns.begin(), columns.end(), date) - columns.begin());
  table_->sortByColumn(date_column, Qt::DescendingOrder);
}

void ReportWindow::ApplyFilter() {
  const size_t subject = FilteredSubject();
  const std::string* only = subject < report_.subjects.size() ? &report_.subjects[subject].subject : nullptr;
  int first_visible = -1;
  for (int row = 0; row < table_->rowCount(); ++row) {
    const size_t run = size_t(table_->item(row, 0)->data(kRunRole).toULongLong());
    const bool show = !only || report_.results.runs[run].subject == *only;
    table_->setRowHidden(row, !show);
    if (show && first_visible < 0) first_visible = row;
  }
  if (first_visible >= 0) {
    table_->selectRow(first_visible);
    SelectionChanged();
  } else {
    table_->clearSelection();
    for (QChartView* v : views_) v->setChart(NewChart(QStringLiteral("no runs")));
  }
}

size_t ReportWindow::FilteredSubject() const {
  const int index = subject_->currentIndex();
  if (index <= 0) return size_t(-1);
  return size_t(subject_->itemData(index).toULongLong());
}

Report ReportWindow::Shown() const {
  const size_t subject = FilteredSubject();
  return subject < report_.subjects.size() ? ReportOfSubject(report_, subject) : report_;
}

void ReportWindow::SelectRun(size_t run) {
  for (int row = 0; row < table_->rowCount(); ++row) {
    if (size_t(table_->item(row, 0)->data(kRunRole).toULongLong()) == run &&
        !table_->item(row, 0)->data(kPooledRole).toBool()) {
      table_->selectRow(row);
      break;
    }
  }
  selected_ = run;
  DrawCharts(run, pool_->isChecked());
}

void ReportWindow::SelectionChanged() {
  const auto rows = table_->selectionModel() ? table_->selectionModel()->selectedRows() : QModelIndexList();
  if (rows.isEmpty()) return;
  const QTableWidgetItem* item = table_->item(rows.front().row(), 0);
  if (!item) return;
  selected_ = size_t(item->data(kRunRole).toULongLong());
  DrawCharts(selected_, pool_->isChecked() || item->data(kPooledRole).toBool());
}

void ReportWindow::DrawCharts(size_t index, bool pool_subject) {
  if (index >= report_.results.runs.size()) return;
  const RunRecord& run = report_.results.runs[index];
  const MeasureOptions& options = report_.options;
  const SubjectReport* subject = nullptr;
  for (const SubjectReport& s : report_.subjects) {
    if (s.subject == run.subject) subject = &s;
  }
  const QString who = Short(run.subject_utf8);
  const QString when = U(run.date) + QLatin1Char(' ') + U(run.time);

  // Hit RT distribution, 50-ms bins.
  {
    const auto runs = pool_subject && subject ? SubjectRuns(report_, *subject)
                                              : std::vector<const RunRecord*>{&run};
    const Histogram h = MakeHistogram(HitRts(runs, options), 50);
    QChart* chart = NewChart(pool_subject && subject
                                 ? QStringLiteral("Hit RT distribution: %1, %2 runs").arg(who).arg(runs.size())
                                 : QStringLiteral("Hit RT distribution: %1, %2").arg(who, when));
    // Bars as one filled step outline on value axes, so the RT axis keeps readable labels.
    auto* outline = new QLineSeries;
    int most = 0;
    for (size_t k = 0; k < h.counts.size(); ++k) {
      const double left = h.start + double(k) * h.width;
      outline->append(left, 0);
      outline->append(left, h.counts[k]);
      outline->append(left + h.width, h.counts[k]);
      outline->append(left + h.width, 0);
      most = std::max(most, h.counts[k]);
    }
    auto* series = new QAreaSeries(outline);
    series->setName(QStringLiteral("hits per 50 ms"));
    series->setPen(QPen(QColor(0x20, 0x60, 0xa0), 1));
    series->setBrush(QColor(0x20, 0x9f, 0xdf));
    const double lo = h.counts.empty() ? 0 : h.start;
    const double hi = h.counts.empty() ? 1000 : h.start + double(h.counts.size()) * h.width;
    // RT ticks on round numbers.
    const double step = RoundStep(hi - lo, 8);
    auto* x = NewValueAxis(QStringLiteral("RT (ms)"), std::floor(lo / step) * step, std::ceil(hi / step) * step);
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(step);
    x->setLabelFormat(QStringLiteral("%d"));
    // Whole counts on the y axis: at most five steps of a whole size.
    const int y_step = std::max(1, int(RoundStep(most, 5)));
    const int top = std::max(1, (most + y_step - 1) / y_step) * y_step;
    auto* y = NewValueAxis(QStringLiteral("hits"), 0, top);
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(y_step);
    y->setLabelFormat(QStringLiteral("%d"));
    Attach(chart, series, x, y);
    chart->legend()->setVisible(false);
    QChart* old = views_[0]->chart();
    views_[0]->setChart(chart);
    delete old;
  }

  // Each hit's RT against its time in the run.
  {
    QChart* chart = NewChart(QStringLiteral("Hit RT across the run: %1, %2").arg(who, when));
    auto* series = new QScatterSeries;
    series->setName(QStringLiteral("hit"));
    series->setMarkerSize(6);
    double top = 0;
    for (const RtPoint& p : HitRtAcrossRun(run, options)) {
      series->append(p.total_rt / 1000.0, p.rt);
      top = std::max(top, p.rt);
    }
    auto* x = NewValueAxis(QStringLiteral("time in run (s)"), 0, std::max(1, run.TmLimit) + 5);
    auto* y = NewValueAxis(QStringLiteral("RT (ms)"), 0, std::max(100.0, std::ceil(top / 100) * 100));
    x->applyNiceNumbers();
    y->applyNiceNumbers();
    x->setLabelFormat(QStringLiteral("%d"));
    y->setLabelFormat(QStringLiteral("%d"));
    Attach(chart, series, x, y);
    chart->legend()->setVisible(false);
    QChart* old = views_[1]->chart();
    views_[1]->setChart(chart);
    delete old;
  }

  // Hit and false-alarm rates per 10 s.
  {
    QChart* chart = NewChart(QStringLiteral("Hit and false-alarm rates per 10 s: %1, %2").arg(who, when));
    auto* hits = new QLineSeries;
    hits->setName(QStringLiteral("hit rate"));
    hits->setPointsVisible(true);
    auto* fas = new QLineSeries;
    fas->setName(QStringLiteral("false-alarm rate"));
    fas->setPointsVisible(true);
    double end = std::max(1, run.TmLimit);
    QStringList counts;
    const std::vector<RateBin> bins = RatesAcrossRun(run, 10000, options);
    for (const RateBin& b : bins) {
      if (!std::isnan(b.hit_rate)) hits->append(b.start_s + 5, b.hit_rate);
      if (!std::isnan(b.fa_rate)) fas->append(b.start_s + 5, b.fa_rate);
      end = std::max(end, b.start_s + 10);
      if (counts.size() < 30) counts << QStringLiteral("%1/%2").arg(b.targets).arg(b.distractors);
    }
    // What each rate stands on: targets/distractors seen in each bin, under the axis.
    QString x_title = QStringLiteral("time in run (s)");
    if (!bins.empty())
      x_title += QStringLiteral(" — targets/distractors per bin: ") + counts.join(QLatin1Char(' ')) +
                 (bins.size() > size_t(counts.size()) ? QStringLiteral(" …") : QString());
    auto* x = NewValueAxis(x_title, 0, end);
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(end > 100 ? 20 : 10);
    x->setLabelFormat(QStringLiteral("%d"));
    // A little room beyond 0 and 1, so that those rates are not drawn on the frame.
    auto* y = NewValueAxis(QStringLiteral("rate"), -0.05, 1.05);
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(0.2);
    y->setLabelFormat(QStringLiteral("%.1f"));
    Attach(chart, hits, x, y);
    Attach(chart, fas, x, y);
    QChart* old = views_[2]->chart();
    views_[2]->setChart(chart);
    delete old;
  }

  // d' across the subject's runs, oldest first.
  {
    QChart* chart = NewChart(QString::fromUtf8("d′ across the runs of %1").arg(who));
    auto* series = new QLineSeries;
    series->setName(QString::fromUtf8("d′"));
    series->setPointsVisible(true);
    double lo = 0, hi = 1;
    size_t n = 0;
    if (subject) {
      for (size_t i : subject->runs) {
        ++n;
        const double d = report_.run_measures[i].d_prime;
        if (std::isnan(d)) continue;
        series->append(double(n), d);
        lo = std::min(lo, std::floor(d));
        hi = std::max(hi, std::ceil(d));
      }
    }
    auto* x = NewValueAxis(series->count() ? QStringLiteral("run (oldest first)")
                                           : QString::fromUtf8("no d′: no run of this subject had both targets and distractors"),
                           0.5, double(std::max<size_t>(n, 1)) + 0.5);
    x->setLabelFormat(QStringLiteral("%d"));
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(std::max(1.0, RoundStep(double(n), 10)));
    auto* y = NewValueAxis(QString::fromUtf8("d′"), lo, hi);
    y->applyNiceNumbers();
    Attach(chart, series, x, y);
    chart->legend()->setVisible(false);
    QChart* old = views_[3]->chart();
    views_[3]->setChart(chart);
    delete old;
  }
}

bool ReportWindow::ExportCsv(const QString& path, QString* error) {
  std::string why;
  if (!loaded_) {
    if (error) *error = status_->text();
    return false;
  }
  if (!WriteReportCsv(Shown(), path.toStdString(), why)) {
    if (error) *error = U(why);
    return false;
  }
  return true;
}

bool ReportWindow::ExportTrials(const QString& path, QString* error) {
  std::string why;
  if (!loaded_) {
    if (error) *error = status_->text();
    return false;
  }
  if (!WriteTrialsCsv(Shown(), path.toStdString(), why)) {
    if (error) *error = U(why);
    return false;
  }
  return true;
}

bool ReportWindow::ExportHtml(const QString& path, QString* error) {
  std::string why;
  if (!loaded_) {
    if (error) *error = status_->text();
    return false;
  }
  if (!WriteReportHtml(Shown(), path.toStdString(), why)) {
    if (error) *error = U(why);
    return false;
  }
  return true;
}

namespace {

// True when nothing is at path, or it holds a report this program wrote (CSV, PDF or HTML):
// the only files Export may replace.
bool MayReplace(const QString& path) {
  const QFileInfo info(path);
  return (!info.exists() && !info.isSymLink()) || IsOurReport(path.toStdString());
}

}  // namespace

bool ReportWindow::ExportPdf(const QString& path, bool each_subject, QString* error) {
  if (!loaded_) {
    if (error) *error = status_->text();
    return false;
  }
  if (!MayReplace(path)) {
    if (error) *error = QStringLiteral("%1 exists and is not a report; not replaced").arg(path);
    return false;
  }
  const QString temp = path + QStringLiteral(".part");
  {
    QPdfWriter writer(temp);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    writer.setResolution(96);
    writer.setTitle(QStringLiteral("ピョコラン report"));
    writer.setCreator(QStringLiteral("pyokoran"));
    QPainter painter;
    if (!painter.begin(&writer)) {
      if (error) *error = QStringLiteral("cannot write %1").arg(path);
      return false;
    }
    const QRect page = painter.viewport();
    const int width = page.width();
    const int height = page.height();
    int page_number = 1;
    // Title and mark on the first line, the folder (shortened in the middle) on the second.
    auto heading = [&](const QString& title) {
      QString right = QStringLiteral("page ") + QString::number(page_number);
      if (report_.results.simulated) right = QStringLiteral("SIMULATED DATA   ") + right;
      painter.setFont(ReportFont(9, true));
      const int right_width = painter.fontMetrics().horizontalAdvance(right) + 12;
      painter.setPen(report_.results.simulated ? QColor(0xc0, 0, 0) : QColor(Qt::black));
      painter.drawText(QRect(0, 0, width, 24), Qt::AlignRight | Qt::AlignVCenter, right);
      painter.setPen(Qt::black);
      painter.setFont(ReportFont(12, true));
      painter.drawText(QRect(0, 0, width - right_width, 24), Qt::AlignLeft | Qt::AlignVCenter,
                       painter.fontMetrics().elidedText(title.left(2000), Qt::ElideRight, width - right_width));
      painter.setFont(ReportFont(8));
      painter.drawText(QRect(0, 24, width, 14), Qt::AlignLeft | Qt::AlignVCenter,
                       painter.fontMetrics().elidedText(QFileInfo(folder_).absoluteFilePath(), Qt::ElideMiddle, width));
      painter.drawLine(0, 40, width, 40);
    };
    auto new_page = [&] {
      writer.newPage();
      ++page_number;
    };

    // The table: rows as the window shows them (all rows when exporting every subject).
    std::vector<size_t> cols;
    for (const char* name : kPdfColumns) cols.push_back(ColumnOf(name));
    // Beyond kPdfRunRows runs the table keeps to the subjects' rows (the CSV holds every run).
    constexpr int kPdfRunRows = 300;
    const size_t only = each_subject ? size_t(-1) : FilteredSubject();
    std::vector<std::vector<std::string>> rows;
    int shown_runs = 0;
    auto run_row = [&](int row) {
      return (each_subject || !table_->isRowHidden(row)) && !table_->item(row, 0)->data(kPooledRole).toBool();
    };
    for (int row = 0; row < table_->rowCount(); ++row) shown_runs += run_row(row);
    const bool runs_in_table = shown_runs <= kPdfRunRows;
    for (int row = 0; runs_in_table && row < table_->rowCount(); ++row) {
      if (!run_row(row)) continue;
      rows.push_back(RunCells(report_, size_t(table_->item(row, 0)->data(kRunRole).toULongLong())));
    }
    for (size_t s = 0; s < report_.subjects.size(); ++s) {
      if (only != size_t(-1) && only != s) continue;
      for (size_t k : report_.subjects[s].conditions) rows.push_back(ConditionCells(report_, k));
      rows.push_back(SubjectCells(report_, s));
    }
    const int row_height = 16;
    const int first_column = 150;
    const int other = (width - first_column - 140) / int(cols.size() - 2);
    auto x_of = [&](size_t k) {
      return k == 0 ? 0 : k == 1 ? first_column : first_column + 80 + 60 + int(k - 3) * other;
    };
    auto w_of = [&](size_t k) { return k == 0 ? first_column - 4 : k == 1 ? 76 : k == 2 ? 56 : other - 4; };
    size_t next = 0;
    do {
      heading(QString::fromUtf8("ピョコラン — go/no-go report (%1 runs, %2 subjects)")
                  .arg(report_.results.runs.size())
                  .arg(report_.subjects.size()));
      int y = 46;
      painter.setFont(ReportFont(7, true));
      for (size_t k = 0; k < cols.size(); ++k) {
        painter.drawText(QRect(x_of(k), y, w_of(k), row_height),
                         (k < 3 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                         QString::fromUtf8(kPdfHeaders[k]));
      }
      y += row_height;
      painter.drawLine(0, y, width, y);
      painter.setFont(ReportFont(7));
      while (next < rows.size()) {
        const auto& cells = rows[next];
        const bool pooled = cells[0] == kLevelSubject;
        const bool condition = cells[0] == kLevelCondition;
        painter.setFont(ReportFont(7, pooled));
        // A long subject ID wraps over up to four lines (then shortened in the middle).
        QString subject = Short(cells[cols[0]], 200);
        const int line = painter.fontMetrics().height();
        QRect needed = painter.boundingRect(QRect(0, 0, w_of(0), 4 * line), Qt::TextWrapAnywhere, subject);
        if (needed.height() > 4 * line || needed.width() > w_of(0))
          subject = painter.fontMetrics().elidedText(subject, Qt::ElideMiddle, 4 * w_of(0) - 8 * line);
        const int this_row = std::max(row_height, std::min(4 * line, needed.height()) + 2);
        if (y + this_row > height - 40) break;
        for (size_t k = 0; k < cols.size(); ++k) {
          QString text = k == 0 ? subject : U(cells[cols[k]]);
          if (pooled && k == 1) text = QStringLiteral("all %1 runs").arg(U(cells[ColumnOf("Runs")]));
          if (condition && k == 1) text = QStringLiteral("%1 runs alike").arg(U(cells[ColumnOf("Runs")]));
          painter.drawText(QRect(x_of(k), y, w_of(k), this_row),
                           (k < 3 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter |
                               (k == 0 ? Qt::TextWrapAnywhere : 0),
                           text);
        }
        y += this_row;
        ++next;
      }
      painter.setFont(ReportFont(7));
      painter.drawText(QRect(0, height - 36, width, 36), Qt::AlignLeft | Qt::TextWordWrap,
                       QString::fromUtf8("Rates uncorrected; d′ and c from log-linear rates ((Hit + 0.5) / (targets + 1), "
                                         "(FA + 0.5) / (distractors + 1)). RT figures leave out responses below %1 ms "
                                         "(counted as anticipations%4). Bold rows pool a subject's runs; rows of \"runs alike\" "
                                         "pool its runs alike in all settings but the seed.%3 %5, generated %2.")
                           .arg(report_.options.anticipation_ms)
                           .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                           .arg(runs_in_table ? QString()
                                              : QStringLiteral(" %1 runs: only the subjects' rows here; the CSV and "
                                                               "HTML reports hold every run.")
                                                    .arg(shown_runs))
                           .arg(report_.options.exclude_anticipations
                                    ? QStringLiteral("; left out of Hit and FA as well")
                                    : QStringLiteral("; kept in Hit and FA"))
                           .arg(U(report_.program_version)));
      if (next < rows.size()) new_page();
    } while (next < rows.size());

    // The plots, four to a page.
    auto plots_page = [&](const QString& title) {
      new_page();
      heading(title);
      const int top = 46;
      const int w = width / 2 - 6, h = (height - top) / 2 - 6;
      for (int i = 0; i < 4; ++i) {
        QChart* chart = views_[i]->chart();
        const QSizeF old = chart->size();
        chart->resize(QSizeF(w, h));
        chart->setPos(0, 0);
        if (QGraphicsLayout* l = chart->layout()) l->activate();
        const QRectF target((i % 2) * (w + 12), top + (i / 2) * (h + 12), w, h);
        chart->scene()->render(&painter, target, QRectF(0, 0, w, h));
        chart->resize(old);
      }
    };
    if (each_subject) {
      const size_t keep = selected_;
      const bool pool = pool_->isChecked();
      // A page per subject, up to kPdfSubjectPages (the HTML report shows more).
      constexpr size_t kPdfSubjectPages = 20;
      size_t pages = 0;
      for (int i = 1; i < subject_->count() && pages < kPdfSubjectPages; ++i) {
        const SubjectReport& s = report_.subjects[size_t(subject_->itemData(i).toULongLong())];
        if (s.runs.empty()) continue;
        DrawCharts(s.runs.back(), true);
        plots_page(QString::fromUtf8("%1: newest run, and the RT distribution of all %2 runs")
                       .arg(Short(s.subject_utf8, 60))
                       .arg(s.runs.size()));
        ++pages;
      }
      if (!report_.results.runs.empty()) DrawCharts(keep, pool);
    } else if (!report_.results.runs.empty()) {
      plots_page(QStringLiteral("Plots: %1").arg(Short(report_.results.runs[selected_].subject_utf8, 60)));
    }
    if (!painter.end()) {
      if (error) *error = QStringLiteral("cannot write %1").arg(path);
      QFile::remove(temp);
      return false;
    }
  }
  QFile::remove(path);
  if (!QFile::rename(temp, path)) {
    if (error) *error = QStringLiteral("cannot write %1").arg(path);
    QFile::remove(temp);
    return false;
  }
  return true;
}

void ReportWindow::ExportWithDialog() {
  const QString suggestion = QDir(folder_).filePath(QStringLiteral("ピョコラン_report.csv"));
  QString csv = QFileDialog::getSaveFileName(this, QStringLiteral("Export the report"), suggestion,
                                             QStringLiteral("CSV, PDF and HTML report (*.csv)"), nullptr,
                                             QFileDialog::DontConfirmOverwrite);
  if (csv.isEmpty()) return;
  if (!csv.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) csv += QStringLiteral(".csv");
  const QString base = csv.left(csv.size() - 4);
  const QString pdf = base + QStringLiteral(".pdf"), html = base + QStringLiteral(".html");
  const QString about = U(AboutPathFor(base.toStdString()));
  // Ask before replacing anything; a file that is not a report is never replaced.
  QStringList existing;
  for (const QString& f : {csv, about, pdf, html}) {
    if (!QFileInfo::exists(f)) continue;
    if (!MayReplace(f)) {
      QMessageBox::warning(this, QStringLiteral("Report"),
                           QStringLiteral("%1 exists and is not a report; nothing was written.").arg(f));
      return;
    }
    existing << QFileInfo(f).fileName();
  }
  if (!existing.isEmpty() &&
      QMessageBox::question(this, QStringLiteral("Report"),
                            QStringLiteral("Replace these reports in %1?\n%2")
                                .arg(QFileInfo(csv).absolutePath(), existing.join(QLatin1Char('\n'))),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  QString error;
  std::string why;
  if (!ExportCsv(csv, &error) || !ExportPdf(pdf, false, &error) || !ExportHtml(html, &error)) {
    QMessageBox::warning(this, QStringLiteral("Report"), error);
    return;
  }
  if (!WriteReportAbout(Shown(), about.toStdString(), why)) {
    QMessageBox::warning(this, QStringLiteral("Report"), U(why));
    return;
  }
  QMessageBox::information(this, QStringLiteral("Report"),
                           QStringLiteral("Written:\n%1\n%2\n%3\n%4").arg(csv, about, pdf, html));
}

void ReportWindow::ExportTrialsWithDialog() {
  if (!loaded_) return;
  const QString suggestion = QDir(folder_).filePath(QStringLiteral("ピョコラン_trials.csv"));
  QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export one row per appearance"), suggestion,
                                              QStringLiteral("CSV (*.csv)"), nullptr, QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) path += QStringLiteral(".csv");
  if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
    if (!MayReplace(path)) {
      QMessageBox::warning(this, QStringLiteral("Report"),
                           QStringLiteral("%1 exists and is not a report; nothing was written.").arg(path));
      return;
    }
    if (QMessageBox::question(this, QStringLiteral("Report"), QStringLiteral("Replace %1?").arg(path),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
      return;
  }
  QString error;
  if (!ExportTrials(path, &error)) {
    QMessageBox::warning(this, QStringLiteral("Report"), error);
    return;
  }
  QMessageBox::information(this, QStringLiteral("Report"), QStringLiteral("Written:\n%1").arg(path));
}

void OpenReportWindow(QWidget* parent) {
  ReportWindow window(QStringLiteral("."), parent, /*background=*/true);
  window.exec();
}

}  // namespace pyokoran
