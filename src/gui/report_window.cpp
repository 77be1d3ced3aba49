#include "gui/report_window.h"

#include <QApplication>
#include <QAreaSeries>
#include <QBuffer>
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
#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QTableView>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>

#include "analysis/html_report.h"
#include "analysis/trial_export.h"
#include "app/message_text.h"
#include "platform/number_text.h"
#include "platform/qt/qt_message_box.h"

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
const char* const kPdfHeadersJa[] = {"参加者", "日付",   "時刻",    "Hit",    "Miss",
                                     "FA",     "CR",     "H",       "F",      "d′",
                                     "c",      "RT 平均", "RT 中央", "RT SD",  "RT n",
                                     "FA RT",  "FA n",   "予期",    "Onset RT"};
static_assert(std::size(kPdfHeaders) == std::size(kPdfColumns));
static_assert(std::size(kPdfHeadersJa) == std::size(kPdfColumns));

}  // namespace

// The table's rows, made beside the reading (off the window's thread): each run's row, then
// each subject's pooled row, with what sorting needs.
struct ReportTable {
  struct Row {
    size_t run = 0;       // the run, or the subject's newest run
    size_t subject = 0;   // index into Report::subjects (pooled rows)
    bool pooled = false;  // a subject's or a condition's runs pooled
    bool bold = false;    // a subject's runs pooled
    std::string text;             // the cells one after another, in the order of TableColumns()
    std::vector<uint16_t> ends;   // where each cell ends in text
    std::string date_key;         // newest first by date, time and line; "" for pooled rows
    std::string_view cell(size_t k) const {
      const size_t begin = k == 0 ? 0 : ends[k - 1];
      return std::string_view(text).substr(begin, ends[k] - begin);
    }
  };
  std::vector<Row> rows;
  std::vector<size_t> columns;  // TableColumns()
  size_t date = 0;              // the date's place among them
};

namespace {

// A cell as a number, NaN when it is text.
double CellNumber(std::string_view cell) {
  double v = 0;
  const char* first = cell.data();
  const char* last = first + cell.size();
  if (first != last && *first == '+') ++first;
  auto [p, ec] = DecimalFromChars(first, last, v);
  return ec == std::errc() && p == last && first != last ? v : kNoValue;
}

ReportTable BuildReportTable(const Report& report, ReportLanguage language) {
  const bool ja = language == ReportLanguage::kJapanese;
  ReportTable t;
  t.columns = TableColumns();
  const size_t date = ColumnOf("Date");
  t.date = size_t(std::find(t.columns.begin(), t.columns.end(), date) - t.columns.begin());
  const size_t runs = report.results.runs.size();
  // One row per run, then each subject's runs pooled: per condition, then all (bold).
  std::vector<std::pair<size_t, size_t>> pooled_rows;  // (subject, condition or size_t(-1))
  for (size_t s = 0; s < report.subjects.size(); ++s) {
    for (size_t k : report.subjects[s].conditions) pooled_rows.emplace_back(s, k);
    pooled_rows.emplace_back(s, size_t(-1));
  }
  t.rows.reserve(runs + pooled_rows.size());
  for (size_t r = 0; r < runs + pooled_rows.size(); ++r) {
    ReportTable::Row row;
    row.pooled = r >= runs;
    const size_t condition = row.pooled ? pooled_rows[r - runs].second : size_t(-1);
    row.bold = row.pooled && condition == size_t(-1);
    row.subject = row.pooled ? pooled_rows[r - runs].first : 0;
    const SubjectReport* subject = row.pooled ? &report.subjects[row.subject] : nullptr;
    std::vector<std::string> cells = !row.pooled                ? RunCells(report, r)
                                     : condition != size_t(-1) ? ConditionCells(report, condition)
                                                               : SubjectCells(report, row.subject);
    if (row.pooled && condition != size_t(-1))
      cells[date] = ConditionName(report.conditions[condition].condition) + (ja ? "、" : ", ") +
                    std::to_string(report.conditions[condition].runs.size()) +
                    (ja ? " 試行" : report.conditions[condition].runs.size() == 1 ? " run" : " runs");
    else if (row.pooled)
      cells[date] = (ja ? "全 " : "all ") + std::to_string(subject->runs.size()) + (ja ? " 試行" : " runs");
    row.run = row.pooled ? (subject->runs.empty() ? 0 : subject->runs.back()) : r;
    row.ends.reserve(t.columns.size());
    for (size_t c : t.columns) {
      // A cell beyond what an offset can hold (a subject ID of many kilobytes) is shortened.
      row.text.append(cells[c], 0, std::min<size_t>(cells[c].size(), 0xFFFF - std::min<size_t>(row.text.size(), 0xFFFF)));
      row.ends.push_back(uint16_t(row.text.size()));
    }
    row.text.shrink_to_fit();
    if (!row.pooled) {
      const RunRecord& run = report.results.runs[r];
      char order[16];
      std::snprintf(order, sizeof order, "%09d", run.file_order);
      row.date_key = run.date + ' ' + run.time + ' ' + order;
    }
    t.rows.push_back(std::move(row));
  }
  return t;
}

}  // namespace

// The table as the view asks for it: only the rows the subject filter lets through, sorted;
// nothing is copied into widgets, so that thousands of runs fill it at once.
class ReportTableModel : public QAbstractTableModel {
 public:
  explicit ReportTableModel(QObject* parent) : QAbstractTableModel(parent) {}

  void SetTable(ReportTable&& table, const QFont& bold) {
    beginResetModel();
    table_ = std::move(table);
    bold_ = bold;
    order_.resize(table_.rows.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    Sort();
    Filter();
    endResetModel();
  }
  // Shows only the rows of subject (code page 932 bytes); null for every row.
  void SetFilter(const Report& report, const std::string* subject) {
    beginResetModel();
    report_ = &report;
    only_ = subject ? std::optional<std::string>(*subject) : std::nullopt;
    Filter();
    endResetModel();
  }
  const ReportTable::Row& RowAt(int row) const { return table_.rows[shown_[size_t(row)]]; }
  int ColumnOfDate() const { return int(table_.date); }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : int(shown_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : int(table_.columns.size());
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        size_t(section) >= table_.columns.size())
      return QAbstractTableModel::headerData(section, orientation, role);
    return U(ReportColumns()[table_.columns[size_t(section)]]);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || size_t(index.row()) >= shown_.size()) return {};
    const ReportTable::Row& row = RowAt(index.row());
    const size_t k = size_t(index.column());
    if (k >= row.ends.size()) return {};
    const bool subject = table_.columns[k] == ColumnOf("Subject");
    const std::string_view cell = row.cell(k);
    switch (role) {
      case Qt::DisplayRole:
        return subject ? Short(std::string(cell), 200) : QString::fromUtf8(cell.data(), qsizetype(cell.size()));
      case Qt::ToolTipRole:
        return subject && cell.size() > 200 ? QVariant(Short(std::string(cell), 1000)) : QVariant();
      case Qt::FontRole:
        return row.bold ? QVariant(bold_) : QVariant();
      case Qt::TextAlignmentRole:
        return k != table_.date && !std::isnan(CellNumber(cell))
                   ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter))
                   : QVariant();
      default:
        return {};
    }
  }
  void sort(int column, Qt::SortOrder order) override {
    if (column < 0 || size_t(column) >= table_.columns.size()) return;
    Q_EMIT layoutAboutToBeChanged();
    column_ = size_t(column);
    order_descending_ = order == Qt::DescendingOrder;
    Sort();
    Filter();
    Q_EMIT layoutChanged();
  }

 private:
  // Numbers as numbers, empty cells below every number, the date by date, time and line.
  void Sort() {
    if (column_ >= table_.columns.size()) return;
    const size_t k = column_;
    const bool after_date = table_.columns[k] > table_.columns[table_.date];
    std::vector<double> numbers(table_.rows.size());  // NaN where the cell is text
    for (size_t i = 0; i < numbers.size(); ++i) {
      const std::string_view cell = table_.rows[i].cell(k);
      numbers[i] = k == table_.date ? kNoValue : cell.empty() && after_date ? -1e300 : CellNumber(cell);
    }
    auto less = [&](size_t a, size_t b) {
      const ReportTable::Row& x = table_.rows[a];
      const ReportTable::Row& y = table_.rows[b];
      if (k == table_.date) return x.date_key < y.date_key;
      if (!std::isnan(numbers[a]) && !std::isnan(numbers[b])) return numbers[a] < numbers[b];
      return x.cell(k) < y.cell(k);
    };
    std::stable_sort(order_.begin(), order_.end(),
                     [&](size_t a, size_t b) { return order_descending_ ? less(b, a) : less(a, b); });
  }
  void Filter() {
    shown_.clear();
    shown_.reserve(order_.size());
    for (size_t i : order_) {
      if (!only_ || (report_ && table_.rows[i].run < report_->results.runs.size() &&
                     report_->results.runs[table_.rows[i].run].subject == *only_))
        shown_.push_back(i);
    }
  }

  ReportTable table_;
  QFont bold_;
  const Report* report_ = nullptr;
  std::optional<std::string> only_;
  std::vector<size_t> order_;  // every row, sorted
  std::vector<size_t> shown_;  // those the filter lets through
  size_t column_ = size_t(-1);
  bool order_descending_ = true;
};

ReportWindow::ReportWindow(const QString& folder, QWidget* parent, bool background,
                           const MeasureOptions& options, bool table)
    : QDialog(parent), folder_(folder), background_(background), table_wanted_(table) {
  setWindowTitle(QString::fromUtf8("Report — ピョコラン"));
  setFont(ReportFont(9));

  simulated_ = new QLabel(this);
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
  anticipation_->setValue(options.anticipation_ms);
  anticipation_->setSuffix(QStringLiteral(" ms"));
  pool_ = new QCheckBox(this);
  exclude_ = new QCheckBox(this);
  exclude_->setChecked(options.exclude_anticipations);
  // The upper RT limit: 0 is none, as on the command line.
  max_rt_ = new QSpinBox(this);
  max_rt_->setRange(0, 600000);
  max_rt_->setSingleStep(100);
  max_rt_->setValue(std::clamp(options.max_rt_ms, 0, 600000));
  max_rt_->setSuffix(QStringLiteral(" ms"));
  flagged_onsets_ = new QCheckBox(this);
  flagged_onsets_->setChecked(options.exclude_flagged_onsets);
  locked_only_ = new QCheckBox(this);
  locked_only_->setChecked(options.onset_locked_only);
  exclude_problems_ = new QCheckBox(this);
  exclude_problems_->setChecked(options.exclude_problem_runs);
  folder_button_ = new QPushButton(this);
  export_button_ = new QPushButton(this);
  trials_button_ = new QPushButton(this);
  close_button_ = new QPushButton(this);
  subject_label_ = new QLabel(this);
  anticipation_label_ = new QLabel(this);
  max_rt_label_ = new QLabel(this);
  language_label_ = new QLabel(this);
  // The language of the window and of the exported HTML and PDF.
  language_box_ = new QComboBox(this);
  language_label_->setBuddy(language_box_);  // Alt+L
  language_box_->addItem(QString::fromUtf8("日本語"));
  language_box_->addItem(QStringLiteral("English"));
  connect(language_box_, &QComboBox::currentIndexChanged, this, [this](int i) {
    SetLanguage(i == 1 ? ReportLanguage::kEnglish : ReportLanguage::kJapanese);
  });

  // The subject, the plots and the language on one row; what is left out on the next.
  auto* bar = new QHBoxLayout;
  bar->addWidget(subject_label_);
  bar->addWidget(subject_);
  bar->addWidget(pool_);
  bar->addStretch(1);
  bar->addWidget(language_label_);
  bar->addWidget(language_box_);
  auto* exclusions = new QHBoxLayout;
  exclusions->addWidget(anticipation_label_);
  exclusions->addWidget(anticipation_);
  exclusions->addWidget(exclude_);
  exclusions->addSpacing(12);
  exclusions->addWidget(max_rt_label_);
  exclusions->addWidget(max_rt_);
  exclusions->addSpacing(12);
  exclusions->addWidget(locked_only_);
  exclusions->addWidget(exclude_problems_);
  exclusions->addStretch(1);

  table_ = new QTableView(this);
  model_ = new ReportTableModel(table_);
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  // Widths from the first rows only: measuring thousands of rows would hold the window up.
  table_->horizontalHeader()->setResizeContentsPrecision(50);
  table_->setSortingEnabled(true);
  table_->horizontalHeader()->setSortIndicatorShown(true);

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
  progress_->setRange(0, 1000);  // thousandths of the bytes to read
  progress_->setFormat(QStringLiteral("%p%"));
  progress_->setMinimumWidth(200);
  progress_->setVisible(false);
  progress_timer_ = new QTimer(this);
  progress_timer_->setInterval(50);
  connect(progress_timer_, &QTimer::timeout, this, [this] {
    const int value = progress();
    // Every byte read: the measures are being computed.
    if (value == 1000 && progress_->value() != 1000)
      status_->setText(T("結果から指標を計算しています…", "Computing the measures …") + QLatin1Char('\n') +
                       Wrappable(QFileInfo(folder_).absoluteFilePath()));
    progress_->setValue(value);
  });
  auto* top = new QHBoxLayout;
  top->addWidget(simulated_, 0, Qt::AlignTop);
  top->addWidget(status_, 1);
  top->addWidget(progress_, 0, Qt::AlignTop);
  // The buttons beside the status, so that both rows fit a screen 1024 pixels wide.
  // The onset exclusion there too: the row below is as wide as such a screen allows.
  top->addWidget(flagged_onsets_, 0, Qt::AlignTop);
  for (QPushButton* b : {folder_button_, export_button_, trials_button_, close_button_}) top->addWidget(b, 0, Qt::AlignTop);
  layout->addLayout(top);
  layout->addLayout(bar);
  layout->addLayout(exclusions);
  layout->addWidget(splitter, 1);

  connect(close_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(export_button_, &QPushButton::clicked, this, [this] { ExportWithDialog(); });
  connect(trials_button_, &QPushButton::clicked, this, [this] { ExportTrialsWithDialog(); });
  connect(exclude_, &QCheckBox::toggled, this, [this] { Remeasure(); });
  connect(max_rt_, &QSpinBox::valueChanged, this, [this] { Remeasure(); });
  connect(locked_only_, &QCheckBox::toggled, this, [this] { Remeasure(); });
  connect(flagged_onsets_, &QCheckBox::toggled, this, [this] { Remeasure(); });
  connect(exclude_problems_, &QCheckBox::toggled, this, [this] { Remeasure(); });
  connect(folder_button_, &QPushButton::clicked, this, [this] {
    // Another folder of results, such as the simulated runs.
    const QString folder = QFileDialog::getExistingDirectory(this, T("結果のファイルのフォルダ", "Folder of result files"), folder_);
    if (folder.isEmpty()) return;
    folder_ = folder;
    Reload();
  });
  connect(subject_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
  connect(anticipation_, &QSpinBox::valueChanged, this, [this] { Remeasure(); });
  connect(pool_, &QCheckBox::toggled, this, [this] { SelectionChanged(); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { SelectionChanged(); });
  connect(model_, &QAbstractItemModel::modelReset, table_, [this] {
    // Widths from the first rows, widened for the pooled rows (bold, larger counts) wherever
    // they are sorted to.
    table_->resizeColumnsToContents();
    QFont bold = table_->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    std::vector<int> widths(size_t(model_->columnCount()), 0);
    for (int row = 0, pooled = 0; row < model_->rowCount() && pooled < 200; ++row) {
      if (!model_->RowAt(row).pooled) continue;
      ++pooled;
      for (int c = 0; c < model_->columnCount(); ++c)
        widths[size_t(c)] = std::max(widths[size_t(c)], metrics.horizontalAdvance(model_->index(row, c).data().toString()));
    }
    for (int c = 0; c < model_->columnCount(); ++c)
      table_->setColumnWidth(c, std::max(table_->columnWidth(c), widths[size_t(c)] + 12));
  });

  // Most of the screen: at 1920 x 1080 the table shows about fifteen rows above the plots.
  resize(1200, 900);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    resize(std::max(std::min(1200, area.width()), area.width() * 9 / 10),
           std::max(std::min(900, area.height()), area.height() * 9 / 10));
  }
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  splitter->setSizes({height() * 45 / 100, height() * 55 / 100});
  Retranslate();
  Reload();
}

QString ReportWindow::T(const char* ja, const char* en) const {
  return QString::fromUtf8(language_ == ReportLanguage::kJapanese ? ja : en);
}

QString ReportWindow::status() const { return status_->text(); }

QString ReportWindow::Reason(const std::string& reason) const {
  // The analysis says why in English, a file name on a line of its own: its first line is
  // said again in Japanese.
  static const struct {
    const char* en;
    const char* ja;
  } kLeads[] = {
      {"no result files in", "次のフォルダには結果のファイルがありません。"},
      {"not a folder:", "次の場所はフォルダではありません。"},
      {"cannot list", "次のフォルダの中身を一覧できませんでした。"},
      {"not replaced: this file exists and is not a report:",
       "次のファイルはこのプログラムが書いたレポートではないため、置き換えませんでした。"},
      {"cannot write", "次のファイルを書けませんでした。"},
      {"reading stopped", "読むのをやめました。"},
  };
  std::string text = reason;
  if (language_ == ReportLanguage::kJapanese) {
    const std::string first = text.substr(0, text.find('\n'));
    for (const auto& lead : kLeads) {
      if (first == lead.en) text = lead.ja + text.substr(first.size());
    }
  }
  return U(text);
}

void ReportWindow::ShowMessage(int icon, const QString& text) {
  QMessageBox box(QMessageBox::Icon(icon), T("レポート", "Report"), QString(), QMessageBox::Ok, this);
  SetMessageText(box, text.toStdString());
  box.exec();
}

void ReportWindow::Retranslate() {
  setWindowTitle(T("レポート — ピョコラン", "Report — ピョコラン"));
  simulated_->setText(T("シミュレーションのデータ", "SIMULATED DATA"));
  subject_label_->setText(T("参加者:", "Subject:"));
  pool_->setText(T("参加者の試行の RT の分布", "RT distribution of the subject's runs"));
  language_label_->setText(T("言語(&L):", "&Language:"));
  language_box_->setToolTip(T("このウィンドウと、書き出す HTML と PDF のレポートの言語",
                              "Language of this window and of the exported HTML and PDF reports"));
  anticipation_label_->setText(T("予期反応の限界:", "Anticipation limit:"));
  anticipation_->setToolTip(T("これより速い反応は予期反応として数え、反応時間の数値から除きます（--anticipation）。",
                              "Responses faster than this are anticipations, left out of the RT figures (--anticipation)."));
  exclude_->setText(T("Hit/FA からも除く", "Leave them out of Hit/FA"));
  exclude_->setToolTip(T("予期反応はいつも反応時間の数値から除きます。チェックすると、その出現は Hit にも FA にも数えず、"
                         "率・d′・c にも入りません（--exclude-anticipations）。",
                         "Anticipations are always left out of the RT figures; checked, their appearances count in "
                         "neither Hit nor FA, nor in the rates, d′ and c (--exclude-anticipations)."));
  max_rt_label_->setText(T("RT の上限:", "RT limit:"));
  max_rt_->setSpecialValueText(T("なし", "none"));
  max_rt_->setToolTip(T("これより遅い反応は反応時間の数値から除きます（--max-rt）。",
                        "Responses slower than this are left out of every RT figure (--max-rt)."));
  locked_only_->setText(T("Onset RT はロックした試行のみ", "Onset RTs of locked runs only"));
  locked_only_->setToolTip(T("フレームを画面の更新にロックして見せた試行だけから Onset RT を取ります（--onset-locked-only）。",
                             "Onset RTs only from runs whose frames were locked to the display's refresh "
                             "(--onset-locked-only)."));
  flagged_onsets_->setText(T("印のある Onset を除く", "Flagged onsets out"));
  flagged_onsets_->setToolTip(T("タイミング記録の行に印のあるヒット（見えはじめの刻みが上限を超えた、または押下を届いた時刻で刻んだ）を、"
                                "見えはじめからの反応時間から除きます（--exclude-flagged-onsets）。",
                                "Leave out of the onset RTs the hits whose timing row is flagged: an onset stamp over its "
                                "bound, or a press stamped at its arrival (--exclude-flagged-onsets)."));
  exclude_problems_->setText(T("問題のある試行を合算から除く", "Leave runs with problems out of pooling"));
  exclude_problems_->setToolTip(T("ファイルの食い違う試行（Problems）を参加者・条件の合算と全体から除きます。その試行の行は残ります"
                                  "（--exclude-problem-runs）。",
                                  "Runs whose files disagree (see Problems) are left out of the pooled rows and groups; "
                                  "their own rows stay (--exclude-problem-runs)."));
  folder_button_->setText(T("フォルダ(&F)...", "&Folder..."));
  export_button_->setText(T("書き出し(&E)...", "&Export..."));
  trials_button_->setText(T("出現ごとに書き出し(&T)...", "Export &trials..."));
  close_button_->setText(T("閉じる", "Close"));
}

void ReportWindow::SetLanguage(ReportLanguage language) {
  const bool changed = language != language_;
  language_ = language;
  report_.language = language;
  const int index = language == ReportLanguage::kEnglish ? 1 : 0;
  if (language_box_ && language_box_->currentIndex() != index) language_box_->setCurrentIndex(index);
  if (!changed) return;
  Retranslate();
  if (reader_) {
    status_->setText(T("結果のファイルを読んでいます…", "Reading the result files …") + QLatin1Char('\n') +
                     Wrappable(QFileInfo(folder_).absoluteFilePath()));
    return;
  }
  if (loaded_ && table_wanted_) FillTable(BuildReportTable(report_, language_));
  const std::string error = error_;
  Show(error);
}

void ReportWindow::SetExcludeAnticipations(bool exclude) {
  if (exclude_->isChecked() != exclude) exclude_->setChecked(exclude);  // reloads
}

void ReportWindow::SetAnticipationLimit(int ms) {
  if (anticipation_->value() == ms) return;
  anticipation_->setValue(ms);  // reloads
}

QChart* ReportWindow::chart(int i) const { return i >= 0 && i < 4 ? views_[i]->chart() : nullptr; }

void ReportWindow::SetMaxRt(int ms) {
  if (max_rt_->value() != ms) max_rt_->setValue(ms);  // measures again
}

void ReportWindow::SetOnsetLockedOnly(bool only) {
  if (locked_only_->isChecked() != only) locked_only_->setChecked(only);
}

void ReportWindow::SetExcludeProblemRuns(bool exclude) {
  if (exclude_problems_->isChecked() != exclude) exclude_problems_->setChecked(exclude);
}

MeasureOptions ReportWindow::Options() const {
  MeasureOptions options;
  options.anticipation_ms = anticipation_->value();
  options.exclude_anticipations = exclude_->isChecked();
  options.max_rt_ms = max_rt_->value();
  options.onset_locked_only = locked_only_->isChecked();
  options.exclude_problem_runs = exclude_problems_->isChecked();
  options.exclude_flagged_onsets = flagged_onsets_->isChecked();
  return options;
}

void ReportWindow::Remeasure() {
  // The runs already read, measured again: a new limit needs no new reading.
  if (!loaded_ || reader_ || report_.folder != folder_.toStdString()) {
    Reload();
    return;
  }
  report_.options = Options();
  MeasureReport(report_);
  if (table_wanted_) FillTable(BuildReportTable(report_, language_));
  Show(std::string());
}

void ReportWindow::Reload() {
  const MeasureOptions options = Options();
  if (!background_) {
    std::string error;
    loaded_ = BuildReport(folder_.toStdString(), options, report_, error);
    report_.language = language_;
    if (loaded_ && table_wanted_) FillTable(BuildReportTable(report_, language_));
    Show(error);
    return;
  }
  // In the background: the window stays responsive and shows how much it has read. A request
  // made while a reading runs stops that one and reads again once it has ended.
  if (reader_) {
    reload_again_ = true;
    control_->Cancel();
    return;
  }
  progress_->setValue(0);
  progress_->setVisible(true);
  progress_timer_->start();
  status_->setText(T("結果のファイルを読んでいます…", "Reading the result files …") + QLatin1Char('\n') +
                   Wrappable(QFileInfo(folder_).absoluteFilePath()));
  struct Result {
    Report report;
    ReportTable table;
    std::string error;
    bool ok = false;
    ReportLanguage language = ReportLanguage::kJapanese;  // of the table's words
  };
  auto result = std::make_shared<Result>();
  result->language = language_;
  control_ = std::make_shared<ReadControl>();
  reader_ = QThread::create([folder = folder_.toStdString(), options, result, control = control_,
                             language = language_] {
    result->ok = BuildReport(folder, options, result->report, result->error, control.get());
    if (result->ok) result->table = BuildReportTable(result->report, language);
  });
  connect(reader_, &QThread::finished, this, [this, result] {
    reader_->deleteLater();
    reader_ = nullptr;
    control_.reset();
    if (reload_again_) {
      reload_again_ = false;
      Reload();
      return;
    }
    progress_timer_->stop();
    progress_->setVisible(false);
    report_ = std::move(result->report);
    report_.language = language_;
    loaded_ = result->ok;
    // The language may have changed while the folder was read.
    if (loaded_) FillTable(result->table.rows.empty() || report_.results.runs.empty() || language_ == result->language
                               ? std::move(result->table)
                               : BuildReportTable(report_, language_));
    Show(result->error);
  });
  reader_->start();
}

int ReportWindow::progress() const {
  if (!control_) return reader_ ? 0 : 1000;
  const uint64_t total = control_->total(), done = control_->done();
  return total == 0 ? 0 : int(std::min<uint64_t>(1000, done * 1000 / total));
}

void ReportWindow::done(int result) {
  if (control_) control_->Cancel();  // the destructor waits only for the block being read
  QDialog::done(result);
}

void ReportWindow::closeEvent(QCloseEvent* event) {
  if (control_) control_->Cancel();
  QDialog::closeEvent(event);
}

ReportWindow::~ReportWindow() {
  if (reader_) {
    reader_->disconnect(this);
    if (control_) control_->Cancel();
    reader_->wait();
    delete reader_;
  }
}

void ReportWindow::Show(const std::string& error) {
  error_ = loaded_ ? std::string() : error;
  const QString where = Wrappable(QFileInfo(folder_).absoluteFilePath());
  simulated_->setVisible(loaded_ && report_.results.simulated);
  if (!loaded_) {
    // The reason names the folder on a line of its own.
    status_->setText(error.empty() ? where : Reason(error));
    report_ = Report{};
  } else {
    // The counts, the folder on a line of its own, then what could not be used.
    const size_t runs = report_.results.runs.size(), subjects = report_.subjects.size();
    QString text = (language_ == ReportLanguage::kJapanese
                        ? T("%1 試行、参加者 %2 人:", "")
                        : QStringLiteral("%1 run%2, %3 subject%4 in:")
                              .arg(QStringLiteral("%1"), runs == 1 ? QString() : QStringLiteral("s"),
                                   QStringLiteral("%2"), subjects == 1 ? QString() : QStringLiteral("s")))
                       .arg(runs)
                       .arg(subjects) +
                   QLatin1Char('\n') + where;
    if (!report_.results.problems.empty())
      text += QLatin1Char('\n') + T("使えなかった行 %1（最初: %2）", "%1 lines skipped (first: %2)")
                                       .arg(report_.results.problems.size())
                                       .arg(U(report_.results.problems.front()));
    status_->setText(text);
  }

  const QString keep = subject_->currentText();
  const QSignalBlocker block(subject_);
  subject_->clear();
  subject_->addItem(T("（全員）", "(all)"));
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
  if (!table_wanted_) return;
  if (!loaded_) FillTable(BuildReportTable(report_, language_));
  ApplyFilter();
}

void ReportWindow::FillTable(ReportTable&& table) {
  QFont bold = table_->font();
  bold.setBold(true);
  const int date = int(table.date);
  model_->SetTable(std::move(table), bold);
  // Newest first.
  table_->horizontalHeader()->setSortIndicator(date, Qt::DescendingOrder);
}

size_t ReportWindow::RunOfRow(int row) const {
  return row >= 0 && row < model_->rowCount() ? model_->RowAt(row).run : size_t(-1);
}

bool ReportWindow::PooledRow(int row) const {
  return row >= 0 && row < model_->rowCount() && model_->RowAt(row).pooled;
}

void ReportWindow::ApplyFilter() {
  const size_t subject = FilteredSubject();
  const std::string* only = subject < report_.subjects.size() ? &report_.subjects[subject].subject : nullptr;
  model_->SetFilter(report_, only);
  if (model_->rowCount() > 0) {
    table_->selectRow(0);
    SelectionChanged();
  } else {
    table_->clearSelection();
    for (QChartView* v : views_) {
      QChart* old = v->chart();
      v->setChart(NewChart(T("試行がありません", "no runs")));
      delete old;
    }
  }
}

std::vector<std::string> ReportWindow::SelectedSubjects() const {
  if (chosen_) return *chosen_;
  const size_t subject = FilteredSubject();
  if (subject < report_.subjects.size()) return {report_.subjects[subject].subject};
  if (!report_.results.runs.empty() && selected_ < report_.results.runs.size() &&
      table_->selectionModel() && table_->selectionModel()->hasSelection())
    return {report_.results.runs[selected_].subject};
  return {};
}

size_t ReportWindow::FilteredSubject() const {
  const int index = subject_->currentIndex();
  if (index <= 0) return size_t(-1);
  return size_t(subject_->itemData(index).toULongLong());
}

const Report& ReportWindow::Shown(Report& only) const {
  const size_t subject = FilteredSubject();
  if (subject >= report_.subjects.size()) return report_;  // the report itself, not a copy
  only = ReportOfSubject(report_, subject);
  return only;
}

void ReportWindow::SelectRun(size_t run) {
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (RunOfRow(row) == run && !PooledRow(row)) {
      const QSignalBlocker block(table_->selectionModel());
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
  const int row = rows.front().row();
  if (RunOfRow(row) >= report_.results.runs.size()) return;
  selected_ = RunOfRow(row);
  DrawCharts(selected_, pool_->isChecked() || PooledRow(row));
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
  const QString comma = T("、", ", ");

  // Hit RT distribution, 50-ms bins: of the run, or of the subject's runs under the run's
  // condition (pooled over conditions, a change of condition would pass for a spread).
  {
    const RunCondition condition = ConditionOf(run);
    std::vector<const RunRecord*> runs{&run};
    if (pool_subject && subject) {
      runs.clear();
      for (const RunRecord* r : SubjectRuns(report_, *subject)) {
        if (ConditionOf(*r) == condition) runs.push_back(r);
      }
    }
    const Histogram h = MakeHistogram(HitRts(runs, options), 50);
    QChart* chart = NewChart(pool_subject && subject
                                 ? T("ヒットの RT の分布: %1、%3 の %2 試行", "Hit RT distribution: %1, %2 runs of %3")
                                       .arg(who)
                                       .arg(runs.size())
                                       .arg(U(ConditionName(condition)))
                                 : T("ヒットの RT の分布: ", "Hit RT distribution: ") + who + comma + when);
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
    series->setName(T("50 ms ごとのヒット数", "hits per 50 ms"));
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
    auto* y = NewValueAxis(T("ヒット数", "hits"), 0, top);
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
    QChart* chart = NewChart(T("試行中のヒットの RT: ", "Hit RT across the run: ") + who + comma + when);
    auto* series = new QScatterSeries;
    series->setName(T("ヒット", "hit"));
    series->setMarkerSize(6);
    double top = 0;
    for (const RtPoint& p : HitRtAcrossRun(run, options)) {
      series->append(p.total_rt / 1000.0, p.rt);
      top = std::max(top, p.rt);
    }
    auto* x = NewValueAxis(T("試行の開始からの時間 (s)", "time in run (s)"), 0, double(std::max(1, run.TmLimit)) + 5);
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
    QChart* chart = NewChart(T("10 秒ごとのヒット率とフォールスアラーム率: ", "Hit and false-alarm rates per 10 s: ") + who +
                             comma + when);
    auto* hits = new QLineSeries;
    hits->setName(T("ヒット率", "hit rate"));
    hits->setPointsVisible(true);
    auto* fas = new QLineSeries;
    fas->setName(T("フォールスアラーム率", "false-alarm rate"));
    fas->setPointsVisible(true);
    // The bins end within 10 000 s, however long the run claims to be.
    double end = std::min(double(std::max(1, run.TmLimit)), 1e4);
    QStringList counts;
    const std::vector<RateBin> bins = RatesAcrossRun(run, 10000, options);
    for (const RateBin& b : bins) {
      if (!std::isnan(b.hit_rate)) hits->append(b.start_s + 5, b.hit_rate);
      if (!std::isnan(b.fa_rate)) fas->append(b.start_s + 5, b.fa_rate);
      end = std::max(end, b.start_s + 10);
      if (counts.size() < 30) counts << QStringLiteral("%1/%2").arg(b.targets).arg(b.distractors);
    }
    // What each rate stands on: targets/distractors seen in each bin, under the axis.
    QString x_title = T("試行の開始からの時間 (s)", "time in run (s)");
    if (!bins.empty())
      x_title += T(" — 各 10 秒のターゲット/ディストラクタの数: ", " — targets/distractors per bin: ") + counts.join(QLatin1Char(' ')) +
                 (bins.size() > size_t(counts.size()) ? QStringLiteral(" …") : QString());
    auto* x = NewValueAxis(x_title, 0, end);
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    // A few ticks whatever the run's limit says (a file may claim 2147483647 s).
    x->setTickInterval(std::max(end > 100 ? 20.0 : 10.0, RoundStep(end, 10)));
    x->setLabelFormat(QStringLiteral("%d"));
    // A little room beyond 0 and 1, so that those rates are not drawn on the frame.
    auto* y = NewValueAxis(T("率", "rate"), -0.05, 1.05);
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

  // d' across the subject's runs, oldest first: a series per condition, so that a change of
  // condition is not read as a change of the participant.
  {
    QChart* chart = NewChart(T("%1 の試行ごとの d′", "d′ across the runs of %1").arg(who));
    std::vector<QLineSeries*> by_condition;
    double lo = 0, hi = 1;
    size_t n = 0;
    int points = 0;
    if (subject) {
      for (size_t k : subject->conditions) {
        auto* line = new QLineSeries;
        line->setName(U(ConditionName(report_.conditions[k].condition)));
        line->setPointsVisible(true);
        by_condition.push_back(line);
      }
      for (size_t i : subject->runs) {
        ++n;
        const double d = report_.run_measures[i].d_prime;
        if (std::isnan(d)) continue;
        const RunCondition c = ConditionOf(report_.results.runs[i]);
        for (size_t k = 0; k < subject->conditions.size(); ++k) {
          if (report_.conditions[subject->conditions[k]].condition == c) by_condition[k]->append(double(n), d);
        }
        ++points;
        lo = std::min(lo, std::floor(d));
        hi = std::max(hi, std::ceil(d));
      }
    }
    if (by_condition.empty()) by_condition.push_back(new QLineSeries);
    QLineSeries* series = by_condition.front();
    auto* x = NewValueAxis(points ? T("試行（古い順）", "run (oldest first)")
                                  : T("d′ なし: この参加者にはターゲットとディストラクタの両方が出た試行がありません",
                                      "no d′: no run of this subject had both targets and distractors"),
                           0.5, double(std::max<size_t>(n, 1)) + 0.5);
    x->setLabelFormat(QStringLiteral("%d"));
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(std::max(1.0, RoundStep(double(n), 10)));
    auto* y = NewValueAxis(QString::fromUtf8("d′"), lo, hi);
    y->applyNiceNumbers();
    Attach(chart, series, x, y);
    for (size_t k = 1; k < by_condition.size(); ++k) Attach(chart, by_condition[k], x, y);
    chart->legend()->setVisible(subject && !subject->conditions.empty());
    chart->legend()->setAlignment(Qt::AlignBottom);
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
  Report only;
  if (!WriteReportCsv(Shown(only), path.toStdString(), why)) {
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
  Report only;
  if (!WriteTrialsCsv(Shown(only), path.toStdString(), why)) {
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
  Report only;
  if (!WriteReportHtml(Shown(only), path.toStdString(), why)) {
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

bool ReportWindow::ExportPdf(const QString& path, PdfContent content, QString* error) {
  if (!loaded_) {
    if (error) *error = status_->text();
    return false;
  }
  if (!MayReplace(path)) {
    if (error) *error = U(NamingFile("not replaced: this file exists and is not a report:", path.toStdString()));
    return false;
  }
  // Drawn in memory, then written through the reports' one way to a file.
  QBuffer document;
  document.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&document);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    writer.setResolution(96);
    writer.setTitle(QStringLiteral("ピョコラン report"));
    writer.setCreator(QStringLiteral("pyokoran"));
    QPainter painter;
    if (!painter.begin(&writer)) {
      if (error) *error = U(NamingFile("cannot write", path.toStdString()));
      return false;
    }
    const bool ja = report_.language == ReportLanguage::kJapanese;
    const QRect page = painter.viewport();
    const int width = page.width();
    const int height = page.height();
    int page_number = 1;
    // Title and mark on the first line, the folder (shortened in the middle) on the second.
    auto heading = [&](const QString& title) {
      QString right = (ja ? QString::fromUtf8("%1 ページ") : QStringLiteral("page %1")).arg(page_number);
      if (report_.results.simulated)
        right = (ja ? QString::fromUtf8("シミュレーションのデータ   ") : QStringLiteral("SIMULATED DATA   ")) + right;
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

    // The summary (every pooled row the filter shows), then the runs of the selected subjects
    // (of every subject shown for everything), newest first.
    Report only;
    const Report& shown = Shown(only);
    std::vector<size_t> cols;
    for (const char* name : kPdfColumns) cols.push_back(ColumnOf(name));
    const bool everything = content == PdfContent::kEverything;
    const std::vector<std::string> selected = SelectedSubjects();
    auto is_selected = [&](const std::string& subject) {
      return everything || std::find(selected.begin(), selected.end(), subject) != selected.end();
    };
    std::vector<std::vector<std::string>> rows;
    for (size_t s = 0; s < shown.subjects.size(); ++s) {
      for (size_t k : shown.subjects[s].conditions) rows.push_back(ConditionCells(shown, k));
      rows.push_back(SubjectCells(shown, s));
    }
    int shown_runs = 0;
    for (size_t r = 0; r < shown.results.runs.size(); ++r) {
      if (!is_selected(shown.results.runs[r].subject)) continue;
      rows.push_back(RunCells(shown, r));
      ++shown_runs;
    }
    auto is_shown = [&](const std::string& subject) {
      return std::any_of(shown.subjects.begin(), shown.subjects.end(),
                         [&](const SubjectReport& s) { return s.subject == subject; });
    };
    QStringList selected_names;
    for (const SubjectReport& s : shown.subjects) {
      if (std::find(selected.begin(), selected.end(), s.subject) != selected.end())
        selected_names << Short(s.subject_utf8, 40);
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
      heading(ja ? QString::fromUtf8("ピョコラン — go/no-go レポート（%1 試行、参加者 %2 人）")
                       .arg(shown.results.runs.size())
                       .arg(shown.subjects.size())
                 : QString::fromUtf8("ピョコラン — go/no-go report (%1 run%2, %3 subject%4)")
                       .arg(shown.results.runs.size())
                       .arg(shown.results.runs.size() == 1 ? "" : "s")
                       .arg(shown.subjects.size())
                       .arg(shown.subjects.size() == 1 ? "" : "s"));
      int y = 46;
      painter.setFont(ReportFont(7, true));
      for (size_t k = 0; k < cols.size(); ++k) {
        painter.drawText(QRect(x_of(k), y, w_of(k), row_height),
                         (k < 3 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                         QString::fromUtf8(ja ? kPdfHeadersJa[k] : kPdfHeaders[k]));
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
        // A condition's name (and run count) over the date and time columns, wrapped.
        const QString named =
            condition ? QStringLiteral("%1 (%2)").arg(U(cells[ColumnOf("Condition")]),
                                                      ja ? U(cells[ColumnOf("Runs")] + " 試行")
                                                      : cells[ColumnOf("Runs")] == "1"
                                                          ? QStringLiteral("1 run")
                                                          : U(cells[ColumnOf("Runs")] + " runs"))
                      : QString();
        const int named_width = x_of(3) - x_of(1) - 4;
        const int named_height =
            condition ? painter.boundingRect(QRect(0, 0, named_width, 4 * line), Qt::TextWordWrap, named).height() : 0;
        const int this_row =
            std::max({row_height, std::min(4 * line, needed.height()) + 2, std::min(4 * line, named_height) + 2});
        if (y + this_row > height - 40) break;
        for (size_t k = 0; k < cols.size(); ++k) {
          QString text = k == 0 ? subject : U(cells[cols[k]]);
          if (pooled && k == 1)
            text = (ja ? QString::fromUtf8("全 %1 試行") : QStringLiteral("all %1 runs")).arg(U(cells[ColumnOf("Runs")]));
          if (condition && k == 2) continue;
          const bool wide = condition && k == 1;
          if (wide) text = named;
          painter.drawText(QRect(x_of(k), y, wide ? named_width : w_of(k), this_row),
                           (k < 3 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter |
                               (k == 0 ? Qt::TextWrapAnywhere : wide ? Qt::TextWordWrap : 0),
                           text);
        }
        y += this_row;
        ++next;
      }
      painter.setFont(ReportFont(7));
      // What the page holds, how it was measured, and which runs each output holds.
      const size_t all_runs = shown.results.runs.size();
      const size_t html_runs = std::min(all_runs, HtmlReportLimits{}.table_runs);
      QString holds;
      if (ja) {
        holds = everything ? QString::fromUtf8("要約と、表示中のすべての試行。")
                : selected.empty() ? QString::fromUtf8("要約のみ。")
                                   : QString::fromUtf8("要約と、%2 の %1 試行。")
                                         .arg(shown_runs)
                                         .arg(selected_names.join(QStringLiteral(", ")));
        holds += QString::fromUtf8("CSV にはすべての試行（%1）、HTML には合算の行と新しい %2 試行の行があります。")
                     .arg(all_runs)
                     .arg(html_runs);
      } else {
        holds = everything ? QStringLiteral("The summary and every run shown.")
                : selected.empty() ? QStringLiteral("Summary only.")
                                   : QStringLiteral("The summary, then the %1 runs of %2.")
                                         .arg(shown_runs)
                                         .arg(selected_names.join(QStringLiteral(", ")));
        holds += QStringLiteral(" The CSV holds every run (%1), the HTML the pooled rows and the newest %2 runs.")
                     .arg(all_runs)
                     .arg(html_runs);
      }
      QString exclusions;
      for (const std::string& e : ExclusionsInForce(report_.options, ja)) exclusions += U(e) + (ja ? "" : " ");
      painter.setFont(ReportFont(6.5));
      painter.drawText(
          QRect(0, height - 38, width, 38), Qt::AlignLeft | Qt::TextWordWrap,
          (ja ? QString::fromUtf8("率は補正なし。d′ と c は対数線形補正した率から（(Hit + 0.5) / (ターゲット + 1)、(FA + 0.5) / "
                                  "(ディストラクタ + 1)）。%1太字の行は参加者の全試行の合算、条件名の行はシード以外の設定が同じ試行の合算。"
                                  "%2 %3、%4 作成。")
              : QString::fromUtf8("Rates uncorrected; d′ and c from log-linear rates ((Hit + 0.5) / (targets + 1), "
                                  "(FA + 0.5) / (distractors + 1)). %1Bold rows pool a subject's runs; a row named by a "
                                  "condition pools its runs alike in all settings but the seed. %2 %3, generated %4."))
              .arg(exclusions, holds, U(report_.program_version),
                   QDateTime::currentDateTime().toString(Qt::ISODate)));
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
    // A page of plots per subject shown: its newest run, and the RT distribution of all its runs.
    const size_t keep = selected_;
    const bool pool = pool_->isChecked();
    for (int i = 1; i < subject_->count(); ++i) {
      const SubjectReport& s = report_.subjects[size_t(subject_->itemData(i).toULongLong())];
      if (s.runs.empty() || !is_selected(s.subject) || !is_shown(s.subject)) continue;
      DrawCharts(s.runs.back(), true);
      plots_page((ja ? QString::fromUtf8("%1: 最新の試行と、全 %2 試行の RT の分布")
                     : QString::fromUtf8("%1: newest run, and the RT distribution of all %2 runs"))
                     .arg(Short(s.subject_utf8, 60))
                     .arg(s.runs.size()));
    }
    if (!report_.results.runs.empty() && table_wanted_) DrawCharts(keep, pool);
    if (!painter.end()) {
      if (error) *error = U(NamingFile("cannot write", path.toStdString()));
      return false;
    }
  }
  std::string why;
  const QByteArray& bytes = document.data();
  if (!WriteReportStreamed(
          path.toStdString(),
          [&](const ReportSink& emit) { return emit(std::string_view(bytes.constData(), size_t(bytes.size()))); },
          why)) {
    if (error) *error = U(why);
    return false;
  }
  return true;
}

void ReportWindow::ExportWithDialog() {
  const QString suggestion = QDir(folder_).filePath(QStringLiteral("ピョコラン_report.csv"));
  QString csv = QFileDialog::getSaveFileName(this, T("レポートを書き出す", "Export the report"), suggestion,
                                             T("CSV、PDF と HTML のレポート (*.csv)", "CSV, PDF and HTML report (*.csv)"),
                                             nullptr, QFileDialog::DontConfirmOverwrite);
  if (csv.isEmpty()) return;
  if (!csv.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) csv += QStringLiteral(".csv");
  const QString base = csv.left(csv.size() - 4);
  const QString pdf = base + QStringLiteral(".pdf"), html = base + QStringLiteral(".html");
  const QString about = U(AboutPathFor(base.toStdString()));
  // Ask before replacing anything; a file that is not a report is never replaced.
  QStringList existing;
  const QString groups = U(GroupsPathFor(base.toStdString()));
  const QString schemas[] = {U(SchemaPathFor(csv.toStdString())), U(SchemaPathFor(groups.toStdString()))};
  for (const QString& f : {csv, about, pdf, html, groups, schemas[0], schemas[1]}) {
    if (!QFileInfo::exists(f)) continue;
    if (!MayReplace(f)) {
      ShowMessage(QMessageBox::Warning,
                  U(NamingFile(T("次のファイルはこのプログラムが書いたレポートではないため、何も書きませんでした。",
                                 "This file exists and is not a report; nothing was written:")
                                   .toStdString(),
                               f.toStdString())));
      return;
    }
    existing << QFileInfo(f).fileName();
  }
  if (!existing.isEmpty()) {
    QMessageBox replace(QMessageBox::Question, T("レポート", "Report"), QString(), QMessageBox::Yes | QMessageBox::No,
                        this);
    SetMessageText(replace, NamingFile(T("次のフォルダのこれらのレポートを置き換えますか?", "Replace these reports in this folder?")
                                           .toStdString(),
                                       QFileInfo(csv).absolutePath().toStdString(),
                                       existing.join(QLatin1Char('\n')).toStdString()));
    replace.button(QMessageBox::Yes)->setText(T("はい", "Yes"));
    replace.button(QMessageBox::No)->setText(T("いいえ", "No"));
    replace.setDefaultButton(QMessageBox::No);
    if (replace.exec() != QMessageBox::Yes) return;
  }
  // What the PDF holds beside its summary: the selected subjects, or every run and subject
  // (of those the filter shows).
  QStringList names;
  for (const std::string& subject : SelectedSubjects()) {
    for (const SubjectReport& s : report_.subjects) {
      if (s.subject == subject) names << Short(s.subject_utf8, 40);
    }
  }
  QMessageBox ask(QMessageBox::Question, T("レポート", "Report"),
                  T("PDF には要約（参加者ごとに 1 行）が入ります。ほかに何を入れますか?",
                    "The PDF holds a summary (a row per subject). What else?"),
                  QMessageBox::Cancel, this);
  ask.button(QMessageBox::Cancel)->setText(T("キャンセル", "Cancel"));
  QPushButton* selection = ask.addButton(
      names.isEmpty() ? T("要約のみ", "Summary only")
                      : T("%1 の試行とグラフ", "The runs and plots of %1").arg(names.join(T("、", ", "))),
      QMessageBox::AcceptRole);
  const size_t filtered = FilteredSubject();
  QPushButton* everything = ask.addButton(
      filtered < report_.subjects.size()
          ? T("表示中の参加者のすべての試行とグラフ（%1 試行）", "Every run and plot of the subject shown (%1 runs)")
                .arg(report_.subjects[filtered].runs.size())
          : T("すべての試行と、全員のグラフ（%1 試行）", "Every run, and plots of every subject (%1 runs)")
                .arg(report_.results.runs.size()),
      QMessageBox::AcceptRole);
  ask.setDefaultButton(selection);
  ask.exec();
  if (ask.clickedButton() != selection && ask.clickedButton() != everything) return;
  const PdfContent content = ask.clickedButton() == everything ? PdfContent::kEverything : PdfContent::kSelection;
  QString error;
  std::string why;
  if (!ExportCsv(csv, &error) || !ExportPdf(pdf, content, &error) || !ExportHtml(html, &error)) {
    ShowMessage(QMessageBox::Warning, Reason(error.toStdString()));
    return;
  }
  Report only;
  if (!WriteReportAbout(Shown(only), about.toStdString(), why) ||
      !WriteReportSchemas(Shown(only), base.toStdString(), why)) {
    ShowMessage(QMessageBox::Warning, Reason(why));
    return;
  }
  ShowMessage(QMessageBox::Information, T("次のファイルを書きました:", "Written:") +
                                            QStringLiteral("\n%1\n%2\n%3\n%4\n%5\n%6\n%7")
                                                .arg(csv, groups, schemas[0], schemas[1], about, pdf, html));
}

void ReportWindow::ExportTrialsWithDialog() {
  if (!loaded_) return;
  const QString suggestion = QDir(folder_).filePath(QStringLiteral("ピョコラン_trials.csv"));
  QString path = QFileDialog::getSaveFileName(this, T("出現ごとに 1 行を書き出す", "Export one row per appearance"),
                                              suggestion, QStringLiteral("CSV (*.csv)"), nullptr,
                                              QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) path += QStringLiteral(".csv");
  if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
    if (!MayReplace(path)) {
      ShowMessage(QMessageBox::Warning,
                  U(NamingFile(T("次のファイルはこのプログラムが書いたレポートではないため、何も書きませんでした。",
                                 "This file exists and is not a report; nothing was written:")
                                   .toStdString(),
                               path.toStdString())));
      return;
    }
    QMessageBox replace(QMessageBox::Question, T("レポート", "Report"), QString(), QMessageBox::Yes | QMessageBox::No,
                        this);
    SetMessageText(replace, NamingFile(T("次のファイルを置き換えますか?", "Replace this file?").toStdString(),
                                       path.toStdString()));
    replace.button(QMessageBox::Yes)->setText(T("はい", "Yes"));
    replace.button(QMessageBox::No)->setText(T("いいえ", "No"));
    replace.setDefaultButton(QMessageBox::No);
    if (replace.exec() != QMessageBox::Yes) return;
  }
  QString error;
  if (!ExportTrials(path, &error)) {
    ShowMessage(QMessageBox::Warning, Reason(error.toStdString()));
    return;
  }
  ShowMessage(QMessageBox::Information, T("次のファイルを書きました:", "Written:") + QLatin1Char('\n') + path);
}

void OpenReportWindow(QWidget* parent) {
  ReportWindow window(QStringLiteral("."), parent, /*background=*/true);
  window.exec();
}

}  // namespace pyokoran
