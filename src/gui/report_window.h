// The report window: the go/no-go measures of every run in a folder of result files, a
// subject filter, four plots, and export of the table as CSV and of the report as PDF.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/report.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QProgressBar;
class QThread;
class QSpinBox;
class QTableView;
class QTimer;

namespace pyokoran {

class ReportTableModel;
struct ReportTable;

// What the PDF holds beside its summary (every subject's pooled row).
enum class PdfContent {
  kSelection,   // the runs and a page of plots of each selected subject
  kEverything,  // every run's row, and a page of plots of every subject
};

class ReportWindow : public QDialog {
 public:
  // Reads folder at once, or (background) on another thread while the window shows how much
  // of the files it has read, and measures with options (the limit and check box start from
  // them); a folder without results shows an empty table and the reason. Closing the window
  // stops a reading. With table false (the command line's files, a window never shown) the
  // table is not filled nor the plots drawn but for the PDF's pages of plots.
  explicit ReportWindow(const QString& folder, QWidget* parent = nullptr, bool background = false,
                        const MeasureOptions& options = {}, bool table = true);
  ~ReportWindow() override;
  // True while a background reading runs.
  bool reading() const { return reader_ != nullptr; }

  // The table as the subject filter shows it (all runs and subjects without one) as CSV;
  // false with a reason.
  bool ExportCsv(const QString& path, QString* error);
  // The same as a self-contained HTML report with its plots; false with a reason.
  bool ExportHtml(const QString& path, QString* error);
  // The summary (every subject's pooled row), then with kSelection the runs and plots of the
  // selected subjects (SelectedSubjects), with kEverything every run and a page of plots per
  // subject. False with a reason.
  bool ExportPdf(const QString& path, PdfContent content, QString* error);
  // The subjects (code page 932 bytes) whose runs and plots the PDF adds to its summary:
  // those given here once set (none when empty), else the subject filter's, else the
  // selected row's.
  void SetSelectedSubjects(std::vector<std::string> subjects) { chosen_ = std::move(subjects); }
  std::vector<std::string> SelectedSubjects() const;
  // One row per appearance of the runs the filter shows, as CSV; false with a reason.
  bool ExportTrials(const QString& path, QString* error);

  const Report& report() const { return report_; }
  // The language of the window itself and of the exported HTML and PDF (Japanese unless set).
  void SetLanguage(ReportLanguage language);
  ReportLanguage language() const { return language_; }
  bool loaded() const { return loaded_; }
  // Why the last reading gave no report (empty when it did).
  const std::string& error() const { return error_; }
  // The table: the rows the subject filter shows, in the order sorted.
  QTableView* table() const { return table_; }
  // The run (index into report().results.runs) a table row stands for, and whether the row
  // pools a subject's runs (then the run is that subject's newest).
  size_t RunOfRow(int row) const;
  bool PooledRow(int row) const;
  // How far a background reading has come, 0 ... 1000 (of the bytes to read).
  int progress() const;
  QComboBox* subject_filter() const { return subject_; }
  QChart* chart(int i) const;  // 0 RT distribution, 1 RT across the run, 2 rates, 3 d'
  // Responses faster than ms are anticipations; the measures are computed again (from the runs
  // already read, or by reading again while a reading runs or none succeeded).
  void SetAnticipationLimit(int ms);
  // Anticipations left out of Hit and FA (and the rates) too; the measures are computed again.
  void SetExcludeAnticipations(bool exclude);
  // The other exclusions, as --max-rt (0: none), --onset-locked-only and --exclude-problem-runs
  // ask for them; each measures again as the anticipation limit does.
  void SetMaxRt(int ms);
  void SetOnsetLockedOnly(bool only);
  void SetExcludeProblemRuns(bool exclude);
  // The status line above the table (how much was read, or why nothing was).
  QString status() const;
  // Selects the run at index (into report().results.runs) and redraws the plots.
  void SelectRun(size_t run);

 private:
  MeasureOptions Options() const;  // as the limit and the check boxes say
  // ja or en as the window speaks.
  QString T(const char* ja, const char* en) const;
  // A reason from the analysis (its file name on a line of its own) as the window speaks.
  QString Reason(const std::string& reason) const;
  void Retranslate();  // every widget's text in the window's language
  void ShowMessage(int icon, const QString& text);  // a QMessageBox::Icon, file names kept whole
  void Reload();
  void Remeasure();  // the runs read measured again with Options(), or read again
  void done(int result) override;       // stops a reading
  void closeEvent(QCloseEvent* event) override;
  void Show(const std::string& error);  // the report just read, or the reason it is not
  void FillTable(ReportTable&& table);
  void ApplyFilter();
  void SelectionChanged();
  void DrawCharts(size_t run, bool pool_subject);
  void ExportWithDialog();
  void ExportTrialsWithDialog();
  size_t FilteredSubject() const;  // index into report_.subjects; size_t(-1) for all
  // The report as far as the filter shows it: the report itself, or a report of the filtered
  // subject's runs alone, made in only.
  const Report& Shown(Report& only) const;

  QString folder_;
  Report report_;
  ReportLanguage language_ = ReportLanguage::kJapanese;
  bool loaded_ = false;
  std::string error_;
  size_t selected_ = 0;
  QLabel* status_ = nullptr;
  QLabel* simulated_ = nullptr;
  QProgressBar* progress_ = nullptr;
  bool background_ = false;
  bool table_wanted_ = true;
  QThread* reader_ = nullptr;
  std::shared_ptr<ReadControl> control_;  // of the reading under way
  QTimer* progress_timer_ = nullptr;
  bool reload_again_ = false;
  std::optional<std::vector<std::string>> chosen_;
  QComboBox* subject_ = nullptr;
  QSpinBox* anticipation_ = nullptr;
  QCheckBox* pool_ = nullptr;
  QCheckBox* exclude_ = nullptr;
  QSpinBox* max_rt_ = nullptr;
  QCheckBox* locked_only_ = nullptr;
  QCheckBox* exclude_problems_ = nullptr;
  QCheckBox* flagged_onsets_ = nullptr;  // flagged timing rows out of the onset RTs
  QComboBox* language_box_ = nullptr;
  QLabel* subject_label_ = nullptr;
  QLabel* anticipation_label_ = nullptr;
  QLabel* max_rt_label_ = nullptr;
  QLabel* language_label_ = nullptr;
  QPushButton* folder_button_ = nullptr;
  QPushButton* export_button_ = nullptr;
  QPushButton* trials_button_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QTableView* table_ = nullptr;
  ReportTableModel* model_ = nullptr;
  QChartView* views_[4] = {};
};

// Opens the report over the working folder, modal over parent.
void OpenReportWindow(QWidget* parent);

}  // namespace pyokoran
