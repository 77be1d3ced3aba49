// The report window: the go/no-go measures of every run in a folder of result files, a
// subject filter, four plots, and export of the table as CSV and of the report as PDF.
#pragma once

#include <QDialog>
#include <QString>

#include "analysis/report.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QProgressBar;
class QThread;
class QSpinBox;
class QTableWidget;

namespace pyokoran {

class ReportWindow : public QDialog {
 public:
  // Reads folder at once, or (background) on another thread while the window shows a busy
  // bar; a folder without results shows an empty table and the reason.
  explicit ReportWindow(const QString& folder, QWidget* parent = nullptr, bool background = false);
  ~ReportWindow() override;
  // True while a background reading runs.
  bool reading() const { return reader_ != nullptr; }

  // The table as the subject filter shows it (all runs and subjects without one) as CSV;
  // false with a reason.
  bool ExportCsv(const QString& path, QString* error);
  // The same as a self-contained HTML report with its plots; false with a reason.
  bool ExportHtml(const QString& path, QString* error);
  // The table as shown, then the plots: of the current selection, or (each_subject) one
  // page per subject with its newest run. False with a reason.
  bool ExportPdf(const QString& path, bool each_subject, QString* error);
  // One row per appearance of the runs the filter shows, as CSV; false with a reason.
  bool ExportTrials(const QString& path, QString* error);

  const Report& report() const { return report_; }
  bool loaded() const { return loaded_; }
  QTableWidget* table() const { return table_; }
  QComboBox* subject_filter() const { return subject_; }
  QChart* chart(int i) const;  // 0 RT distribution, 1 RT across the run, 2 rates, 3 d'
  // Responses faster than ms are anticipations; the measures are computed again.
  void SetAnticipationLimit(int ms);
  // Anticipations left out of Hit and FA (and the rates) too; the measures are computed again.
  void SetExcludeAnticipations(bool exclude);
  // Selects the run at index (into report().results.runs) and redraws the plots.
  void SelectRun(size_t run);

 private:
  void Reload();
  void Show(const std::string& error);  // the report just read, or the reason it is not
  void FillTable();
  void ApplyFilter();
  void SelectionChanged();
  void DrawCharts(size_t run, bool pool_subject);
  void ExportWithDialog();
  void ExportTrialsWithDialog();
  size_t FilteredSubject() const;  // index into report_.subjects; size_t(-1) for all
  Report Shown() const;             // the report as far as the filter shows it

  QString folder_;
  Report report_;
  bool loaded_ = false;
  size_t selected_ = 0;
  QLabel* status_ = nullptr;
  QLabel* simulated_ = nullptr;
  QProgressBar* progress_ = nullptr;
  bool background_ = false;
  QThread* reader_ = nullptr;
  bool reload_again_ = false;
  QComboBox* subject_ = nullptr;
  QSpinBox* anticipation_ = nullptr;
  QCheckBox* pool_ = nullptr;
  QCheckBox* exclude_ = nullptr;
  QTableWidget* table_ = nullptr;
  QChartView* views_[4] = {};
};

// Opens the report over the working folder, modal over parent.
void OpenReportWindow(QWidget* parent);

}  // namespace pyokoran
