#include "analysis/html_report.h"
#include "app/message_text.h"

#include "platform/file_system.h"
#include "platform/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <numeric>
#include <unistd.h>

namespace pyokoran {
namespace {

// Locale-free number text; "" for a missing value.
std::string Num(double v, int digits) {
  if (!std::isfinite(v)) return {};
  char buffer[64];
  auto [p, ec] = FixedToChars(buffer, buffer + sizeof buffer, v, digits);
  if (ec != std::errc()) return {};
  std::string s(buffer, p);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

// The language of the document being written (set for the length of one ReportHtml).
thread_local bool tl_japanese = false;
std::string L(const char* english, const char* japanese) { return tl_japanese ? japanese : english; }

// A round step (1, 2 or 5 times a power of ten) that cuts span into at most about ticks parts.
double NiceStep(double span, int ticks) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / std::max(1, ticks);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

// One plot: a frame with round ticks on both axes, marks drawn in data coordinates.
class SvgPlot {
 public:
  static constexpr double kWidth = 520, kHeight = 300;
  static constexpr double kLeft = 60, kRight = 14, kTop = 40, kBottom = 46;

  SvgPlot(std::string kind, std::string title, std::string x_label, std::string y_label)
      : kind_(std::move(kind)), title_(std::move(title)), x_label_(std::move(x_label)),
        y_label_(std::move(y_label)) {}

  void Range(double x0, double x1, double y0, double y1) {
    x0_ = x0, x1_ = x1 > x0 ? x1 : x0 + 1, y0_ = y0, y1_ = y1 > y0 ? y1 : y0 + 1;
  }
  // Tick steps; zero picks a round one. first_* is the lowest tick shown.
  void Ticks(double x_step, double y_step, double first_y = kNoValue, double last_y = kNoValue) {
    x_step_ = x_step, y_step_ = y_step, first_y_ = first_y, last_y_ = last_y;
  }
  double X(double x) const { return kLeft + (x - x0_) / (x1_ - x0_) * (kWidth - kLeft - kRight); }
  double Y(double y) const { return kHeight - kBottom - (y - y0_) / (y1_ - y0_) * (kHeight - kTop - kBottom); }

  void Mark(const std::string& svg) {
    body_ += svg;
    ++marks_;
  }
  void Extra(const std::string& svg) { body_ += svg; }
  // Said in the middle of the frame (an empty plot says why).
  void Note(std::string text) { note_ = std::move(text); }
  // Said under the plot (what was left out).
  void Caption(std::string text) { caption_ = std::move(text); }
  // A key under the plot: a mark of class cls for each text.
  void Legend(const std::string& cls, const std::string& text) {
    legend_ += "<span class=\"key " + cls + "\">●</span> " + HtmlEscape(text) + " ";
  }

  std::string Svg() const {
    std::string s = "<figure><svg class=\"plot\" data-plot=\"" + kind_ + "\" data-marks=\"" +
                    std::to_string(marks_) + "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                    Num(kWidth, 0) + " " + Num(kHeight, 0) + "\" width=\"" + Num(kWidth, 0) +
                    "\" height=\"" + Num(kHeight, 0) + "\" role=\"img\">";
    s += "<title>" + HtmlEscape(title_) + "</title>";
    s += "<text class=\"title\" x=\"" + Num(kWidth / 2, 0) + "\" y=\"18\">" + HtmlEscape(title_) + "</text>";
    // Grid and tick labels.
    const double xs = x_step_ > 0 ? x_step_ : NiceStep(x1_ - x0_, 8);
    const double ys = y_step_ > 0 ? y_step_ : NiceStep(y1_ - y0_, 5);
    for (double x = std::ceil(x0_ / xs - 1e-9) * xs; x <= x1_ + xs * 1e-9; x += xs) {
      s += "<line class=\"grid\" x1=\"" + Num(X(x), 1) + "\" x2=\"" + Num(X(x), 1) + "\" y1=\"" +
           Num(kTop, 0) + "\" y2=\"" + Num(kHeight - kBottom, 0) + "\"/>";
      s += "<text class=\"tick\" x=\"" + Num(X(x), 1) + "\" y=\"" + Num(kHeight - kBottom + 14, 0) +
           "\">" + Num(x, 3) + "</text>";
    }
    const double y_first = std::isfinite(first_y_) ? first_y_ : std::ceil(y0_ / ys - 1e-9) * ys;
    const double y_last = std::isfinite(last_y_) ? last_y_ : y1_;
    for (double y = y_first; y <= y_last + ys * 1e-9; y += ys) {
      s += "<line class=\"grid\" x1=\"" + Num(kLeft, 0) + "\" x2=\"" + Num(kWidth - kRight, 0) +
           "\" y1=\"" + Num(Y(y), 1) + "\" y2=\"" + Num(Y(y), 1) + "\"/>";
      s += "<text class=\"tick y\" x=\"" + Num(kLeft - 4, 0) + "\" y=\"" + Num(Y(y) + 4, 1) + "\">" +
           Num(y, 3) + "</text>";
    }
    s += "<rect class=\"frame\" x=\"" + Num(kLeft, 0) + "\" y=\"" + Num(kTop, 0) + "\" width=\"" +
         Num(kWidth - kLeft - kRight, 0) + "\" height=\"" + Num(kHeight - kTop - kBottom, 0) + "\"/>";
    s += body_;
    s += "<text class=\"axis\" x=\"" + Num((kLeft + kWidth - kRight) / 2, 0) + "\" y=\"" +
         Num(kHeight - 8, 0) + "\">" + HtmlEscape(x_label_) + "</text>";
    s += "<text class=\"axis\" transform=\"translate(14 " + Num((kTop + kHeight - kBottom) / 2, 0) +
         ") rotate(-90)\">" + HtmlEscape(y_label_) + "</text>";
    if (!note_.empty())
      s += "<text class=\"note\" x=\"" + Num((kLeft + kWidth - kRight) / 2, 0) + "\" y=\"" +
           Num((kTop + kHeight - kBottom) / 2, 0) + "\">" + HtmlEscape(note_) + "</text>";
    s += "</svg>";
    if (!legend_.empty() || !caption_.empty())
      s += "<figcaption>" + legend_ + (legend_.empty() || caption_.empty() ? "" : "<br>") + HtmlEscape(caption_) +
           "</figcaption>";
    return s + "</figure>\n";
  }

 private:
  std::string kind_, title_, x_label_, y_label_, body_, note_, caption_, legend_;
  double x0_ = 0, x1_ = 1, y0_ = 0, y1_ = 1;
  double x_step_ = 0, y_step_ = 0, first_y_ = kNoValue, last_y_ = kNoValue;
  size_t marks_ = 0;
};

std::string Circle(const SvgPlot& p, double x, double y, const char* cls) {
  return "<circle class=\"" + std::string(cls) + "\" cx=\"" + Num(p.X(x), 1) + "\" cy=\"" + Num(p.Y(y), 1) +
         "\" r=\"3\"/>";
}

std::string RtHistogram(const std::vector<double>& rts, const std::string& title, const HtmlReportLimits& limits) {
  SvgPlot plot("rt-histogram", title, "RT (ms)", L("hits", "ヒット数"));
  if (rts.empty()) {
    plot.Range(0, 1000, 0, 5);
    plot.Note(L("no hit at or above the anticipation limit", "予期反応の限界以上のヒットがありません"));
    return plot.Svg();
  }
  // 50-ms bins, wider (round) ones when the RTs spread far.
  const auto [lo, hi] = std::minmax_element(rts.begin(), rts.end());
  const size_t max_bins = std::max<size_t>(10, std::min<size_t>(limits.points_per_plot, 200));
  double width = 50;
  if ((*hi - *lo) / width > double(max_bins)) width = std::max(50.0, NiceStep(*hi - *lo, int(max_bins)));
  const Histogram h = MakeHistogram(rts, width);
  const int most = h.counts.empty() ? 1 : *std::max_element(h.counts.begin(), h.counts.end());
  const double y_step = std::max(1.0, NiceStep(most, 5));
  const double end = h.start + double(h.counts.size()) * h.width;
  const double x_step = NiceStep(end - h.start, 8);
  plot.Range(std::floor(h.start / x_step) * x_step, std::ceil(end / x_step) * x_step, 0,
             std::ceil(most / y_step) * y_step);
  plot.Ticks(x_step, y_step);
  for (size_t k = 0; k < h.counts.size(); ++k) {
    if (!h.counts[k]) continue;
    const double left = h.start + double(k) * h.width;
    plot.Mark("<rect class=\"bar\" x=\"" + Num(plot.X(left), 1) + "\" y=\"" + Num(plot.Y(h.counts[k]), 1) +
              "\" width=\"" + Num(plot.X(left + h.width) - plot.X(left), 1) + "\" height=\"" +
              Num(plot.Y(0) - plot.Y(h.counts[k]), 1) + "\"><title>" + Num(left, 0) + "–" +
              Num(left + h.width, 0) + " ms: " + std::to_string(h.counts[k]) + "</title></rect>");
  }
  plot.Caption(tl_japanese ? "ヒット " + std::to_string(rts.size()) + " 回、" + Num(width, 0) + " ms ごと"
                           : std::to_string(rts.size()) + " hits in bins of " + Num(width, 0) + " ms");
  return plot.Svg();
}

std::string RtAcrossRun(const RunRecord& run, const std::string& title, const MeasureOptions& options,
                        const HtmlReportLimits& limits, const std::string& condition) {
  SvgPlot plot("rt-across-run", title, L("time in run (s)", "試行の開始からの時間 (s)"), "RT (ms)");
  const std::vector<RtPoint> points = HitRtAcrossRun(run, options);
  double right = std::max(1, run.TmLimit), top = 100;
  for (const RtPoint& p : points) {
    right = std::max(right, p.total_rt / 1000.0);
    top = std::max(top, p.rt);
  }
  const double x_step = NiceStep(right, 8), y_step = NiceStep(top, 5);
  plot.Range(0, std::ceil(right / x_step) * x_step, 0, std::ceil(top / y_step) * y_step);
  plot.Ticks(x_step, y_step);
  const size_t stride = points.size() > limits.points_per_plot
                            ? (points.size() + limits.points_per_plot - 1) / limits.points_per_plot
                            : 1;
  for (size_t i = 0; i < points.size(); i += stride)
    plot.Mark(Circle(plot, points[i].total_rt / 1000.0, points[i].rt, "hit"));
  if (points.empty()) plot.Note(L("no hit at or above the anticipation limit", "予期反応の限界以上のヒットがありません"));
  plot.Caption(L("condition ", "条件 ") + condition +
               (stride <= 1 ? std::string()
                : tl_japanese ? "。ヒット " + std::to_string(points.size()) + " 回のうち " + std::to_string(stride) +
                                    " 回に 1 回を表示"
                              : "; every " + std::to_string(stride) + "th of " + std::to_string(points.size()) +
                                    " hits shown"));
  return plot.Svg();
}

std::string RatesPlot(const RunRecord& run, const std::string& title, const MeasureOptions& options,
                      const HtmlReportLimits& limits, const std::string& condition) {
  SvgPlot plot("rates", title, L("time in run (s)", "試行の開始からの時間 (s)"), L("rate", "率"));
  std::vector<RateBin> bins = RatesAcrossRun(run, 10000, options);
  const size_t all = bins.size();
  if (bins.size() > limits.points_per_plot) bins.resize(limits.points_per_plot);
  double end = std::max(10, run.TmLimit);
  for (const RateBin& b : bins) end = std::max(end, b.start_s + 10);
  const double x_step = std::max(10.0, NiceStep(end, 8));
  // Room below 0 for the counts and above 1, so that rates of 0 and 1 stay off the frame.
  plot.Range(0, std::ceil(end / x_step) * x_step, -0.2, 1.06);
  plot.Ticks(x_step, 0.2, 0, 1);
  std::string hit_line, fa_line;
  const bool counts = bins.size() <= 40;
  for (const RateBin& b : bins) {
    const double mid = b.start_s + 5;
    if (std::isfinite(b.hit_rate)) {
      hit_line += Num(plot.X(mid), 1) + "," + Num(plot.Y(b.hit_rate), 1) + " ";
      plot.Mark(Circle(plot, mid, b.hit_rate, "hit"));
    }
    if (std::isfinite(b.fa_rate)) {
      fa_line += Num(plot.X(mid), 1) + "," + Num(plot.Y(b.fa_rate), 1) + " ";
      plot.Mark(Circle(plot, mid, b.fa_rate, "fa"));
    }
    if (counts)
      plot.Extra("<text class=\"count\" x=\"" + Num(plot.X(mid), 1) + "\" y=\"" + Num(plot.Y(-0.08), 1) +
                 "\">" + std::to_string(b.targets) + "/" + std::to_string(b.distractors) + "</text>");
  }
  if (!hit_line.empty()) plot.Extra("<polyline class=\"hit\" points=\"" + hit_line + "\"/>");
  if (!fa_line.empty()) plot.Extra("<polyline class=\"fa\" points=\"" + fa_line + "\"/>");
  plot.Extra("<text class=\"legend hit\" x=\"" + Num(SvgPlot::kLeft + 6, 0) + "\" y=\"" +
             Num(SvgPlot::kTop - 6, 0) + "\">● " + L("hit rate", "ヒット率") + "</text><text class=\"legend fa\" x=\"" +
             Num(SvgPlot::kLeft + 90, 0) + "\" y=\"" + Num(SvgPlot::kTop - 6, 0) +
             "\">● " + L("false-alarm rate", "フォールスアラーム率") + "</text>");
  if (bins.empty()) plot.Note(L("no appearance in this run", "この試行には出現がありません"));
  const std::string sep = L("; ", "。");
  std::string caption = L("condition ", "条件 ") + condition +
                        (counts ? sep + L("under each 10-s bin: targets/distractors shown",
                                          "各 10 秒の下: 出たターゲット/ディストラクタの数")
                                : std::string());
  caption += sep + (ShowTimesKnown(run) ? L("each appearance at its show time", "各出現をその表示時刻に置いています")
                                        : L("answered appearances at their show times; unanswered ones, without a "
                                            "timing record, placed between their neighbours",
                                            "反応のあった出現はその表示時刻に、反応のない出現はタイミング記録がないため前後の出現の間に置いています"));
  if (all > bins.size())
    caption += sep + (tl_japanese ? std::to_string(all) + " 区間のうち最初の " + std::to_string(bins.size()) + " 区間を表示"
                                  : "first " + std::to_string(bins.size()) + " of " + std::to_string(all) + " bins shown");
  plot.Caption(caption);
  return plot.Svg();
}

// The class that colours a condition's marks (one of eight, in turn).
std::string ConditionClass(size_t k) { return "c" + std::to_string(k % 8); }

std::string DPrimePlot(const Report& report, const SubjectReport& subject, const std::string& title,
                       const HtmlReportLimits& limits) {
  SvgPlot plot("dprime", title, L("run (oldest first)", "試行（古い順）"), "d′");
  const size_t n = subject.runs.size();
  const size_t first = n > limits.points_per_plot ? n - limits.points_per_plot : 0;
  double lo = 0, hi = 1;
  for (size_t k = first; k < n; ++k) {
    const double d = report.run_measures[subject.runs[k]].d_prime;
    if (std::isfinite(d)) lo = std::min(lo, std::floor(d)), hi = std::max(hi, std::ceil(d));
  }
  plot.Range(double(first) + 0.5, double(std::max<size_t>(n, 1)) + 0.5, lo - 0.25, hi + 0.25);
  plot.Ticks(std::max(1.0, NiceStep(double(n - first), 10)), NiceStep(hi - lo, 5), lo, hi);
  // Each condition in a colour of its own; a line joins only the runs of one condition.
  const size_t conditions = subject.conditions.size();
  std::vector<std::string> lines(std::max<size_t>(conditions, 1));
  std::vector<size_t> of_run(n, 0);
  for (size_t c = 0; c < conditions; ++c) {
    for (size_t run : report.conditions[subject.conditions[c]].runs) {
      const size_t k = size_t(std::find(subject.runs.begin(), subject.runs.end(), run) - subject.runs.begin());
      if (k < n) of_run[k] = c;
    }
  }
  bool any = false;
  for (size_t k = first; k < n; ++k) {
    const double d = report.run_measures[subject.runs[k]].d_prime;
    if (!std::isfinite(d)) continue;
    any = true;
    lines[of_run[k]] += Num(plot.X(double(k + 1)), 1) + "," + Num(plot.Y(d), 1) + " ";
    plot.Mark(Circle(plot, double(k + 1), d, ("d " + ConditionClass(of_run[k])).c_str()));
  }
  for (size_t c = 0; c < lines.size(); ++c) {
    if (!lines[c].empty()) plot.Extra("<polyline class=\"d " + ConditionClass(c) + "\" points=\"" + lines[c] + "\"/>");
    if (c < conditions) plot.Legend(ConditionClass(c), ConditionName(report.conditions[subject.conditions[c]].condition));
  }
  if (!any)
    plot.Note(L("no d′: no run of this subject had both targets and distractors",
                "d′ なし: この参加者にはターゲットとディストラクタの両方が出た試行がありません"));
  if (first > 0)
    plot.Caption(tl_japanese ? std::to_string(n) + " 試行のうち最後の " + std::to_string(n - first) + " 試行を表示"
                             : "last " + std::to_string(n - first) + " of " + std::to_string(n) + " runs shown");
  return plot.Svg();
}

// A cell's text, bounded (a subject ID can be tens of thousands of characters).
constexpr size_t kCellChars = 400;  // characters of a table cell shown
std::string Cell(const std::string& text) { return HtmlEscape(ShortenUtf8(text, kCellChars)); }

// The table in labelled column groups, each a table of its own under the row's key columns,
// so that every measure fits a printed page. Pooled rows (pooled) leave out the run's date,
// time, id and seed; run rows leave out the spread over runs.
struct ColumnGroup {
  const char* title;
  const char* title_ja;
  std::vector<const char*> columns;
};
const std::vector<ColumnGroup>& ColumnGroups() {
  static const std::vector<ColumnGroup> groups = {
      {"Counts", "回数", {"Targets", "Distractors", "Hit", "Miss", "FA", "CR", "Anticipations", "AnticipationLimit",
                  "AnticipationsExcluded", "RTsOverLimit", "Problems"}},
      {"Rates, d′ and c", "率、d′ と c", {"HitRate", "HitRate_CI_Low", "HitRate_CI_High", "FARate", "FARate_CI_Low",
                           "FARate_CI_High", "HitRateLL", "FARateLL", "dPrime", "dPrime_SE", "dPrime_CI_Low",
                           "dPrime_CI_High", "Criterion"}},
      {"Reaction times (ms)", "反応時間 (ms)", {"HitRT_Mean", "HitRT_CI_Low", "HitRT_CI_High", "HitRT_Median", "HitRT_SD",
                               "HitRT_N", "FART_Mean", "FART_Median", "FART_SD", "FART_N", "OnsetRT_Mean",
                               "OnsetRT_Median", "OnsetRT_N", "OnsetRT_Flagged", "Presentation"}},
      {"Timing rows beyond their bounds", "限度を超えたタイミング記録の行",
       {"ArrivalPresses", "OnsetOver", "RiseOver", "BookingLate"}},
      {"Spread over the runs", "試行間のばらつき", {"HitRate_RunMean", "HitRate_RunSD", "FARate_RunMean", "FARate_RunSD",
                                "dPrime_RunMean", "dPrime_RunSD", "dPrime_RunN", "Criterion_RunMean",
                                "Criterion_RunSD", "HitRT_RunMean", "HitRT_RunSD"}},
      {"Settings", "設定", {"Computer", "Simulated", "Conditions", "TgtPokko", "DstPokko", "Holes", "Ordered", "Dur", "ISI_1",
                    "ISI_2", "TmLimit", "RndSeed"}},
  };
  return groups;
}

size_t IndexOf(const char* name) {
  const auto& names = ReportColumns();
  return size_t(std::find(names.begin(), names.end(), name) - names.begin());
}

void AppendTable(std::string& out, const std::vector<std::vector<std::string>>& rows, bool pooled) {
  const auto& names = ReportColumns();
  const std::vector<const char*> keys =
      pooled ? std::vector<const char*>{"Level", "Subject", "Condition", "Runs"}
             : std::vector<const char*>{"RunId", "Subject", "Date", "Time", "Condition"};
  for (const ColumnGroup& group : ColumnGroups()) {
    std::vector<size_t> columns;
    for (const char* k : keys) columns.push_back(IndexOf(k));
    for (const char* c : group.columns) {
      const std::string_view n = c;
      if (!pooled && n.find("_Run") != std::string_view::npos) continue;
      if (pooled && (n == "RndSeed")) continue;
      columns.push_back(IndexOf(c));
    }
    if (columns.size() == keys.size()) continue;
    out += "<div class=\"table\"><table>\n<caption>" + HtmlEscape(tl_japanese ? group.title_ja : group.title) + "</caption>\n<thead><tr>";
    for (size_t c : columns) out += "<th>" + HtmlEscape(names[c]) + "</th>";
    out += "</tr></thead>\n<tbody>\n";
    // Each column's opening tag, found once.
    std::vector<const char*> opening;
    for (size_t c : columns) {
      const std::string& n = names[c];
      opening.push_back(n == "Subject"                                             ? "<td class=\"subject\">"
                        : n == "Condition"                                         ? "<td class=\"text condition\">"
                        : n == "Problems" || n == "Presentation" || n == "Computer" ? "<td class=\"text\">"
                                                                                   : "<td>");
    }
    for (const auto& row : rows) {
      out += row[0] == kLevelSubject ? "<tr class=\"pooled\">" : "<tr>";
      for (size_t k = 0; k < columns.size(); ++k) {
        const size_t c = columns[k];
        if (c >= row.size()) continue;
        out += opening[k];
        // A cell of up to kCellChars bytes has no more characters than that: escaped in place.
        if (row[c].size() <= kCellChars) AppendHtmlEscaped(out, row[c]);
        else out += Cell(row[c]);
        out += "</td>";
      }
      out += "</tr>\n";
    }
    out += "</tbody></table></div>\n";
  }
}

// The conditions described over subjects, and their paired differences.
void AppendGroupTables(std::string& out, const Report& report) {
  auto fixed = [](double v, int digits) { return Num(v, digits); };
  auto stat_cells = [&](const GroupStat& g, int digits) {
    return "<td>" + std::to_string(g.n) + "</td><td>" + fixed(g.mean, digits) + "</td><td>" + fixed(g.sd, digits) +
           "</td><td>" + fixed(g.se, digits) + "</td><td>" + fixed(g.ci.low, digits) + "</td><td>" +
           fixed(g.ci.high, digits) + "</td>";
  };
  const std::string head =
      L("<th>Measure</th><th>From</th><th>n</th><th>mean</th><th>SD</th><th>SE</th><th>95% CI low</th>"
        "<th>95% CI high</th>",
        "<th>指標</th><th>もと</th><th>n</th><th>平均</th><th>SD</th><th>SE</th><th>95% CI 下限</th>"
        "<th>95% CI 上限</th>");
  out += L("<h2>Conditions over subjects</h2>\n<p class=\"note\">Each subject's figure under a condition, from its "
           "runs pooled (subject_pooled) and as the mean of its runs' own values (run_mean), described over the "
           "subjects: n subjects, mean, SD, SE = SD / √n and the mean's 95% t interval. The same as the CSV file "
           "*_groups.csv.</p>\n",
           "<h2>条件ごとの参加者全体</h2>\n<p class=\"note\">各参加者のその条件での値（試行を合算した値 subject_pooled と、"
           "試行ごとの値の平均 run_mean）を参加者全体でまとめたもの: 参加者数 n、平均、SD、SE = SD / √n、平均の 95% t 区間。"
           "CSV ファイル *_groups.csv と同じです。</p>\n");
  for (const ConditionGroup& g : report.groups) {
    const std::string counts =
        tl_japanese ? "参加者 " + std::to_string(g.members.size()) + " 人、" + std::to_string(g.runs) + " 試行" +
                          (g.problem_runs ? "（問題のある試行 " + std::to_string(g.problem_runs) + "）" : std::string())
                    : std::to_string(g.members.size()) + (g.members.size() == 1 ? " subject, " : " subjects, ") +
                          std::to_string(g.runs) + (g.runs == 1 ? " run" : " runs") +
                          (g.problem_runs ? ", " + std::to_string(g.problem_runs) + " with problems" : std::string());
    out += "<div class=\"table\"><table class=\"group\">\n<caption>" + HtmlEscape(ConditionName(g.condition)) +
           ": " + counts + "</caption>\n<thead><tr>" + head + "</tr></thead>\n<tbody>\n";
    for (int m = 0; m < kGroupMeasures; ++m) {
      const int digits = m == 4 ? 1 : m < 2 ? 4 : 3;
      for (bool run_mean : {false, true})
        out += std::string("<tr><td class=\"text\">") + kGroupMeasureNames[m] + "</td><td class=\"text\">" +
               (run_mean ? "run_mean" : "subject_pooled") + "</td>" +
               stat_cells((run_mean ? g.run_mean : g.pooled)[m], digits) + "</tr>\n";
    }
    out += "</tbody></table></div>\n";
  }
  if (report.differences.empty()) return;
  out += L("<h2>Differences between conditions</h2>\n<p class=\"note\">Within the subjects who ran both "
           "conditions (paired): the first condition minus the second; n is the number of such subjects.</p>\n",
           "<h2>条件の差</h2>\n<p class=\"note\">両方の条件を行った参加者の中で（対応あり）: 前の条件から後の条件を引いた差。"
           "n はそのような参加者の数です。</p>\n");
  for (const ConditionDifference& d : report.differences) {
    out += "<div class=\"table\"><table class=\"group\">\n<caption>" +
           HtmlEscape(ConditionName(report.groups[d.a].condition)) + " − " +
           HtmlEscape(ConditionName(report.groups[d.b].condition)) + "</caption>\n<thead><tr>" + head +
           "</tr></thead>\n<tbody>\n";
    for (int m = 0; m < kGroupMeasures; ++m) {
      const int digits = m == 4 ? 1 : m < 2 ? 4 : 3;
      for (bool run_mean : {false, true})
        out += std::string("<tr><td class=\"text\">") + kGroupMeasureNames[m] + "</td><td class=\"text\">" +
               (run_mean ? "run_mean" : "subject_pooled") + "</td>" +
               stat_cells((run_mean ? d.run_mean : d.pooled)[m], digits) + "</tr>\n";
    }
    out += "</tbody></table></div>\n";
  }
}

constexpr const char* kStyle = R"(<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; margin: 0 0 .3em; }
.simulated { display: inline-block; background: #c00; color: #fff; font-weight: bold; padding: .2em .6em; margin: 0 0 .5em; }
.folder, td.subject, h3 { overflow-wrap: anywhere; word-break: break-all; }
.note { color: #555; }
.table { overflow-x: auto; max-width: 100%; margin: 0 0 .8em; }
table { border-collapse: collapse; font-size: .8em; }
caption { text-align: left; font-weight: bold; padding: .2em 0; }
th, td { border: 1px solid #ccc; padding: .15em .4em; text-align: right; }
th { background: #eee; position: sticky; top: 0; }
td.subject { text-align: left; min-width: 6em; max-width: 24em; }
td.text { text-align: left; }
td.condition { white-space: nowrap; }
tr.pooled td { font-weight: bold; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 9pt; }
  .table { overflow: visible; }
  table { font-size: 7pt; }
  th { position: static; }
  thead { display: table-header-group; }
  tr, figure { break-inside: avoid; }
  h2, h3, caption { break-after: avoid; }
  td.subject { max-width: 14em; }
  td.condition { white-space: normal; min-width: 8em; }
  details > * { display: block; }
}
.plots { display: flex; flex-wrap: wrap; gap: .5em; }
figure { margin: 0; }
figcaption { font-size: .8em; color: #555; max-width: 520px; }
svg.plot { background: #fff; font-size: 11px; }
svg.plot .title { font-size: 12px; font-weight: bold; text-anchor: middle; }
svg.plot .tick { text-anchor: middle; fill: #444; }
svg.plot .tick.y { text-anchor: end; }
svg.plot .axis { text-anchor: middle; }
svg.plot .note { text-anchor: middle; fill: #a00; }
svg.plot .count { text-anchor: middle; font-size: 9px; fill: #555; }
svg.plot .grid { stroke: #e4e4e4; }
svg.plot .frame { fill: none; stroke: #666; }
svg.plot .bar { fill: #209fdf; stroke: #2060a0; }
svg.plot circle.hit { fill: #2060a0; }
svg.plot circle.fa { fill: #d04020; }
svg.plot circle.d { fill: #208040; }
svg.plot polyline { fill: none; stroke-width: 1.5; }
svg.plot polyline.hit { stroke: #2060a0; }
svg.plot polyline.fa { stroke: #d04020; }
svg.plot polyline.d { stroke: #208040; }
svg.plot circle.c0 { fill: #208040; }
svg.plot polyline.c0 { stroke: #208040; }
.key.c0 { color: #208040; }
svg.plot circle.c1 { fill: #7030a0; }
svg.plot polyline.c1 { stroke: #7030a0; }
.key.c1 { color: #7030a0; }
svg.plot circle.c2 { fill: #d07000; }
svg.plot polyline.c2 { stroke: #d07000; }
.key.c2 { color: #d07000; }
svg.plot circle.c3 { fill: #2060a0; }
svg.plot polyline.c3 { stroke: #2060a0; }
.key.c3 { color: #2060a0; }
svg.plot circle.c4 { fill: #a02050; }
svg.plot polyline.c4 { stroke: #a02050; }
.key.c4 { color: #a02050; }
svg.plot circle.c5 { fill: #508000; }
svg.plot polyline.c5 { stroke: #508000; }
.key.c5 { color: #508000; }
svg.plot circle.c6 { fill: #008080; }
svg.plot polyline.c6 { stroke: #008080; }
.key.c6 { color: #008080; }
svg.plot circle.c7 { fill: #806040; }
svg.plot polyline.c7 { stroke: #806040; }
.key.c7 { color: #806040; }
svg.plot .legend.hit { fill: #2060a0; }
svg.plot .legend.fa { fill: #d04020; }
</style>
)";

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendHtmlEscaped(out, text);
  return out;
}

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    // A stretch of plain printable ASCII at once.
    size_t j = i;
    while (j < n && s[j] >= 0x20 && s[j] < 0x7f && s[j] != '&' && s[j] != '<' && s[j] != '>' && s[j] != '"' &&
           s[j] != '\'')
      ++j;
    if (j > i) {
      out.append(text.data() + i, j - i);
      i = j;
      if (i == n) break;
    }
    const unsigned char c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          if (c < 0x20 || c == 0x7f) out += "\xEF\xBF\xBD";
          else out += char(c);
      }
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence is copied; anything else becomes U+FFFD.
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok && len == 3) {
      const unsigned char c1 = s[i + 1];
      ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
    }
    if (ok && len == 4) {
      const unsigned char c1 = s[i + 1];
      ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
    }
    if (ok) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
}

std::string ShortenUtf8(std::string_view text, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars == max_chars) return std::string(text.substr(0, i)) + "…";
    ++chars;
  }
  return std::string(text);
}

std::string ReportHtml(const Report& report, const HtmlReportLimits& limits) {
  const ResultFolder& results = report.results;
  // The language for this document, and back as it was after it.
  struct Language {
    bool before = tl_japanese;
    explicit Language(bool japanese) { tl_japanese = japanese; }
    ~Language() { tl_japanese = before; }
  } language(report.language == ReportLanguage::kJapanese);
  std::string out(kHtmlReportHead);
  out += L("<title>ピョコラン report</title>\n", "<title>ピョコラン レポート</title>\n");
  out += kStyle;
  out += L("</head>\n<body>\n<h1>ピョコラン report</h1>\n", "</head>\n<body lang=\"ja\">\n<h1>ピョコラン レポート</h1>\n");
  if (results.simulated) out += L("<p class=\"simulated\">SIMULATED DATA</p>\n",
                                  "<p class=\"simulated\">シミュレーションのデータ (SIMULATED DATA)</p>\n");
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(std::filesystem::u8path(report.folder), ec);
  const auto absolute = folder.lexically_normal().u8string();
  out += "<p class=\"folder\">" + L("Folder: ", "フォルダ: ") +
         HtmlEscape(ec ? report.folder : std::string(absolute.begin(), absolute.end())) + "</p>\n";
  char when[64] = "";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
  const std::string runs = std::to_string(results.runs.size()), subjects = std::to_string(report.subjects.size()),
                    conditions = std::to_string(report.groups.size()),
                    pairs = std::to_string(report.conditions.size());
  const size_t in_table = std::min(results.runs.size(), limits.table_runs);
  std::string more;  // the exclusions beyond the anticipation limit
  const auto exclusions = ExclusionsInForce(report.options, tl_japanese);
  for (size_t i = 1; i < exclusions.size(); ++i) more += exclusions[i] + (tl_japanese ? "" : " ");
  if (tl_japanese) {
    out += "<p>" + runs + " 試行、参加者 " + subjects + " 人、条件 " + conditions + " 個、参加者 × 条件 " + pairs +
           " 組。" + when + " に " + HtmlEscape(report.program_version) + " が作成。</p>\n";
    out += "<p>このファイルには、全 " + runs + " 試行の参加者と条件ごとの合算の行と、" +
           (in_table == results.runs.size() ? std::string("すべての試行の行")
                                            : "新しい " + std::to_string(in_table) + " 試行だけの行") +
           "があります。CSV レポート（.csv）にはすべての試行の行があります。</p>\n";
    out += "<p><b>方法。</b>RT は、生き物が出る予定の時刻から押すまでの時間（ms）で、結果ファイルに記録された値です（生き物が"
           "はじめて描かれるまでの時間を含みます）。OnsetRT は、生き物の一部がはじめて見えたフレームから押すまでの時間で、"
           "タイミング記録から取ります。" +
           HtmlEscape(exclusions[0]) + HtmlEscape(more) +
           "LL のついた率は対数線形補正したもの（(回数 + 0.5) / (n + 1)）です。d′ = z(HitRateLL) − z(FARateLL)、"
           "c = −(z(HitRateLL) + z(FARateLL)) / 2。CI の列は 95% 区間です: 率は Wilson 区間、d′ は ± z 標準誤差、"
           "どちらも z = 1.959963984540054（正規分布の 0.975 分位点）。平均反応時間と参加者全体の値は t 区間"
           "（自由度 n − 1）です。</p>\n";
    out += "<p>Level は行の種類です: <b>run</b> は 1 試行。<b>subject_condition</b> は参加者の、シード以外の設定が同じ"
           "試行の合算。<b>subject</b> は参加者の全試行の合算（Conditions: 混ざっている条件の数）。合算の値の横の "
           "*_RunMean と *_RunSD は、試行ごとの値の平均と SD です。条件は設定で名づけます: T ターゲット数、"
           "D ディストラクタ数、H 穴の数、試行の長さ、出ている時間、間隔の範囲、rows（穴が列に並ぶ）か random"
           "（ばらばら）。</p>\n";
  } else {
    out += "<p>" + runs + " runs, " + subjects + " subjects, " + conditions + " conditions, " + pairs +
           " subject × condition groups. Generated " + when + " by " + HtmlEscape(report.program_version) +
           ".</p>\n";
    out += "<p>This file holds the subjects' and conditions' pooled rows of all " + runs + " runs and " +
           (in_table == results.runs.size() ? std::string("a row for every run")
                                            : "rows for the newest " + std::to_string(in_table) + " runs only") +
           "; the CSV report (.csv) holds a row for every run.</p>\n";
    out += "<p><b>Method.</b> RT is the time from the creature's scheduled appearance to the press, in ms, as the "
           "result files book it (it includes the time until the creature is first drawn); OnsetRT is the time "
           "from the first frame that showed any of the creature to the press, from the timing record. " +
           HtmlEscape(exclusions[0]) + " " + HtmlEscape(more) +
           "Rates with LL are log-linear corrected ((count + 0.5) / (n + 1)); d′ = z(HitRateLL) − z(FARateLL) and "
           "c = −(z(HitRateLL) + z(FARateLL)) / 2. CI columns are 95% intervals: Wilson for the rates and d′ ± z "
           "standard errors, both with z = 1.959963984540054 (the normal quantile at 0.975); t (n − 1 degrees of "
           "freedom) for mean RTs and for figures over subjects.</p>\n";
    out += "<p>Level says what a row is: <b>run</b>; <b>subject_condition</b>, a subject's runs alike in every "
           "setting but the seed, pooled; <b>subject</b>, all of a subject's runs pooled (Conditions: how many "
           "conditions it mixes). Beside the pooled figures, *_RunMean and *_RunSD give the mean and SD of the "
           "runs' own values. A condition is named by its settings: T targets, D distractors, H holes, the run's "
           "length, the exposure, the pause range, holes in rows or at random places.</p>\n";
  }
  if (results.simulated && !report.simulation_notes.empty()) {
    // The simulator's mark file, line by line (escaping keeps no line break).
    out += "<details><summary>" + L("How the runs were simulated", "シミュレーションの設定") +
           "</summary><pre class=\"note\">";
    const std::string notes = ShortenUtf8(report.simulation_notes, 20000);
    for (size_t start = 0; start < notes.size();) {
      size_t end = notes.find('\n', start);
      if (end == std::string::npos) end = notes.size();
      std::string line = notes.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out += HtmlEscape(line) + "\n";
      start = end + 1;
    }
    out += "</pre></details>\n";
  }
  if (!results.problems.empty()) {
    out += "<details open><summary>" +
           (tl_japanese ? "使えなかった行またはファイル: " + std::to_string(results.problems.size())
                        : std::to_string(results.problems.size()) + " lines or files could not be used") +
           "</summary><ul>\n";
    for (size_t i = 0; i < results.problems.size() && i < limits.problems; ++i)
      out += "<li>" + Cell(results.problems[i]) + "</li>\n";
    if (results.problems.size() > limits.problems)
      out += "<li class=\"note\">" +
             (tl_japanese ? "… ほか " + std::to_string(results.problems.size() - limits.problems) + " 件"
                          : "… and " + std::to_string(results.problems.size() - limits.problems) + " more") +
             "</li>\n";
    out += "</ul></details>\n";
  }

  // Subjects in order of their IDs.
  std::vector<size_t> order(report.subjects.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return report.subjects[a].subject_utf8 < report.subjects[b].subject_utf8;
  });

  AppendGroupTables(out, report);
  out += L("<h2>Subjects and conditions (runs pooled)</h2>\n", "<h2>参加者と条件（試行を合算）</h2>\n");
  std::vector<std::vector<std::string>> rows;
  for (size_t i : order) {
    for (size_t k : report.subjects[i].conditions) rows.push_back(ConditionCells(report, k));
    rows.push_back(SubjectCells(report, i));
  }
  AppendTable(out, rows, /*pooled=*/true);

  // A distribution per condition: pooled over conditions, a change of condition would pass for
  // a spread of the RTs.
  out += L("<h2>All runs, by condition</h2>\n", "<h2>全試行（条件ごと）</h2>\n") + "<div class=\"plots\">\n";
  for (size_t g = 0; g < report.groups.size() && g < limits.plotted_subjects; ++g) {
    std::vector<const RunRecord*> runs;
    for (size_t k : report.groups[g].members) {
      for (size_t i : report.conditions[k].runs) runs.push_back(&results.runs[i]);
    }
    out += RtHistogram(HitRts(runs, report.options),
                       L("Hit RT: ", "ヒットの RT: ") + ConditionName(report.groups[g].condition) + ", " +
                           std::to_string(runs.size()) + L(runs.size() == 1 ? " run" : " runs", " 試行"),
                       limits);
  }
  out += "</div>\n";
  if (report.groups.size() > limits.plotted_subjects)
    out += "<p class=\"note\">" +
           (tl_japanese ? std::to_string(report.groups.size()) + " 条件のうち最初の " +
                              std::to_string(limits.plotted_subjects) + " 条件の分布を示しています。"
                        : "Distributions of the first " + std::to_string(limits.plotted_subjects) + " of " +
                              std::to_string(report.groups.size()) + " conditions shown.") +
           "</p>\n";

  for (size_t k = 0; k < order.size() && k < limits.plotted_subjects; ++k) {
    const SubjectReport& s = report.subjects[order[k]];
    if (s.runs.empty()) continue;
    const RunRecord& newest = results.runs[s.runs.back()];
    const std::string who = ShortenUtf8(s.subject_utf8, limits.title_chars);
    const std::string when = newest.date + " " + newest.time;
    out += "<h3>" + L("Subject ", "参加者 ") + Cell(s.subject_utf8) + "</h3>\n<div class=\"plots\">\n";
    for (size_t c : s.conditions) {
      std::vector<const RunRecord*> runs;
      for (size_t i : report.conditions[c].runs) runs.push_back(&results.runs[i]);
      out += RtHistogram(HitRts(runs, report.options),
                         L("Hit RT: ", "ヒットの RT: ") + who + ", " + ConditionName(report.conditions[c].condition) +
                             ", " + std::to_string(runs.size()) + L(runs.size() == 1 ? " run" : " runs", " 試行"),
                         limits);
    }
    const std::string newest_condition = ConditionName(ConditionOf(newest));
    out += RtAcrossRun(newest, L("Hit RT across the run: ", "試行中のヒットの RT: ") + who + ", " + when, report.options,
                       limits,
                       newest_condition);
    out += RatesPlot(newest, L("Hit and false-alarm rates per 10 s: ", "10 秒ごとのヒット率とフォールスアラーム率: ") + who +
                         ", " + when,
                     report.options, limits,
                     newest_condition);
    out += DPrimePlot(report, s, tl_japanese ? who + " の試行ごとの d′" : "d′ across the runs of " + who, limits);
    out += "</div>\n";
  }
  if (order.size() > limits.plotted_subjects)
    out += "<p class=\"note\">" +
           (tl_japanese ? "参加者 " + std::to_string(order.size()) + " 人のうち最初の " +
                              std::to_string(limits.plotted_subjects) + " 人のグラフを示しています。表には全員がいます。"
                        : "Plots of the first " + std::to_string(limits.plotted_subjects) + " of " +
                              std::to_string(order.size()) + " subjects shown; the tables hold all of them.") +
           "</p>\n";

  out += L("<h2>Runs (newest first)</h2>\n", "<h2>試行（新しい順）</h2>\n");
  rows.clear();
  for (size_t i = 0; i < results.runs.size() && i < limits.table_runs; ++i) rows.push_back(RunCells(report, i));
  if (results.runs.size() > limits.table_runs)
    out += "<p class=\"note\">" +
           (tl_japanese ? "全 " + std::to_string(results.runs.size()) + " 試行のうち新しい " +
                              std::to_string(limits.table_runs) + " 試行を示しています。CSV レポートにはすべての試行があります。"
                        : "The newest " + std::to_string(limits.table_runs) + " of " +
                              std::to_string(results.runs.size()) + " runs shown; the CSV report holds every run.") +
           "</p>\n";
  AppendTable(out, rows, /*pooled=*/false);
  out += "</body>\n</html>\n";
  return out;
}

bool IsHtmlReport(const std::string& path) {
  // Never through a link, never waiting on a FIFO.
  const int fd = OpenNoFollow(path);
  if (fd < 0) return false;
  FileStatus info;
  std::string head(kHtmlReportHead.size(), '\0');
  const bool ok = StatusOf(fd, info) && info.regular &&
                  ReadAt(fd, head.data(), head.size(), 0) == int64_t(head.size()) && head == kHtmlReportHead;
  close(fd);
  return ok;
}

bool WriteReportHtml(const Report& report, const std::string& path, std::string& error,
                     const HtmlReportLimits& limits) {
  // Only an earlier report may be replaced: under its name could be anybody's file.
  if (KindOfPath(path, false) != PathKind::kMissing && !IsOurReport(path)) {
    error = NamingFile("not replaced: this file exists and is not a report:", path);
    return false;
  }
  return WriteReportFile(path, ReportHtml(report, limits), error);
}

}  // namespace pyokoran
