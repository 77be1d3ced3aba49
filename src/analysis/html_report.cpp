#include "analysis/html_report.h"

#include "platform/file_system.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
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
  auto [p, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, digits);
  if (ec != std::errc()) return {};
  std::string s(buffer, p);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

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
    if (!caption_.empty()) s += "<figcaption>" + HtmlEscape(caption_) + "</figcaption>";
    return s + "</figure>\n";
  }

 private:
  std::string kind_, title_, x_label_, y_label_, body_, note_, caption_;
  double x0_ = 0, x1_ = 1, y0_ = 0, y1_ = 1;
  double x_step_ = 0, y_step_ = 0, first_y_ = kNoValue, last_y_ = kNoValue;
  size_t marks_ = 0;
};

std::string Circle(const SvgPlot& p, double x, double y, const char* cls) {
  return "<circle class=\"" + std::string(cls) + "\" cx=\"" + Num(p.X(x), 1) + "\" cy=\"" + Num(p.Y(y), 1) +
         "\" r=\"3\"/>";
}

std::string RtHistogram(const std::vector<double>& rts, const std::string& title, const HtmlReportLimits& limits) {
  SvgPlot plot("rt-histogram", title, "RT (ms)", "hits");
  if (rts.empty()) {
    plot.Range(0, 1000, 0, 5);
    plot.Note("no hit at or above the anticipation limit");
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
  plot.Caption(std::to_string(rts.size()) + " hits in bins of " + Num(width, 0) + " ms");
  return plot.Svg();
}

std::string RtAcrossRun(const RunRecord& run, const std::string& title, const MeasureOptions& options,
                        const HtmlReportLimits& limits) {
  SvgPlot plot("rt-across-run", title, "time in run (s)", "RT (ms)");
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
  if (points.empty()) plot.Note("no hit at or above the anticipation limit");
  if (stride > 1)
    plot.Caption("every " + std::to_string(stride) + "th of " + std::to_string(points.size()) + " hits shown");
  return plot.Svg();
}

std::string RatesPlot(const RunRecord& run, const std::string& title, const MeasureOptions& options,
                      const HtmlReportLimits& limits) {
  SvgPlot plot("rates", title, "time in run (s)", "rate");
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
             Num(SvgPlot::kTop - 6, 0) + "\">● hit rate</text><text class=\"legend fa\" x=\"" +
             Num(SvgPlot::kLeft + 90, 0) + "\" y=\"" + Num(SvgPlot::kTop - 6, 0) +
             "\">● false-alarm rate</text>");
  if (bins.empty()) plot.Note("no appearance in this run");
  std::string caption = counts ? "under each 10-s bin: targets/distractors seen" : "";
  if (all > bins.size())
    caption += (caption.empty() ? "" : "; ") + std::string("first ") + std::to_string(bins.size()) + " of " +
               std::to_string(all) + " bins shown";
  plot.Caption(caption);
  return plot.Svg();
}

std::string DPrimePlot(const Report& report, const SubjectReport& subject, const std::string& title,
                       const HtmlReportLimits& limits) {
  SvgPlot plot("dprime", title, "run (oldest first)", "d′");
  const size_t n = subject.runs.size();
  const size_t first = n > limits.points_per_plot ? n - limits.points_per_plot : 0;
  double lo = 0, hi = 1;
  for (size_t k = first; k < n; ++k) {
    const double d = report.run_measures[subject.runs[k]].d_prime;
    if (std::isfinite(d)) lo = std::min(lo, std::floor(d)), hi = std::max(hi, std::ceil(d));
  }
  plot.Range(double(first) + 0.5, double(std::max<size_t>(n, 1)) + 0.5, lo - 0.25, hi + 0.25);
  plot.Ticks(std::max(1.0, NiceStep(double(n - first), 10)), NiceStep(hi - lo, 5), lo, hi);
  std::string line;
  for (size_t k = first; k < n; ++k) {
    const double d = report.run_measures[subject.runs[k]].d_prime;
    if (!std::isfinite(d)) continue;
    line += Num(plot.X(double(k + 1)), 1) + "," + Num(plot.Y(d), 1) + " ";
    plot.Mark(Circle(plot, double(k + 1), d, "d"));
  }
  if (!line.empty()) plot.Extra("<polyline class=\"d\" points=\"" + line + "\"/>");
  if (line.empty()) plot.Note("no d′: no run of this subject had both targets and distractors");
  if (first > 0) plot.Caption("last " + std::to_string(n - first) + " of " + std::to_string(n) + " runs shown");
  return plot.Svg();
}

// A cell's text, bounded (a subject ID can be tens of thousands of characters).
std::string Cell(const std::string& text) { return HtmlEscape(ShortenUtf8(text, 400)); }

// Columns in the order shown. Runs: who and when, the measures, then the run's settings.
// Pooled rows (conditions_first): who, how many runs and conditions, the condition's settings,
// the measures, then what such rows leave empty.
std::vector<size_t> ShownColumns(bool conditions_first) {
  const auto& names = ReportColumns();
  const size_t first_setting = size_t(std::find(names.begin(), names.end(), "Simulated") - names.begin());
  const size_t first_measure = size_t(std::find(names.begin(), names.end(), "Targets") - names.begin());
  std::vector<size_t> shown, settings;
  if (conditions_first) {
    std::vector<size_t> rest;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string& n = names[i];
      const bool front = n == "Level" || n == "Subject" || n == "Runs" || n == "Conditions" ||
                         (i > first_setting && i < first_measure && n != "RndSeed");
      (front ? shown : i >= first_measure && n != "Problems" ? settings : rest).push_back(i);
    }
    shown.insert(shown.end(), settings.begin(), settings.end());
    shown.insert(shown.end(), rest.begin(), rest.end());
    return shown;
  }
  for (size_t i = 0; i < names.size(); ++i)
    (i >= first_setting && i < first_measure ? settings : shown).push_back(i);
  shown.insert(shown.end(), settings.begin(), settings.end());
  return shown;
}

void AppendTable(std::string& out, const std::vector<std::vector<std::string>>& rows, bool conditions_first = false) {
  const auto& names = ReportColumns();
  const std::vector<size_t> columns = ShownColumns(conditions_first);
  out += "<div class=\"table\"><table>\n<thead><tr>";
  for (size_t c : columns) out += "<th>" + HtmlEscape(names[c]) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const auto& row : rows) {
    out += "<tr>";
    for (size_t c : columns) {
      if (c >= row.size()) continue;
      out += std::string(names[c] == "Subject" ? "<td class=\"subject\">" : "<td>") + Cell(row[c]) + "</td>";
    }
    out += "</tr>\n";
  }
  out += "</tbody></table></div>\n";
}

constexpr const char* kStyle = R"(<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; margin: 0 0 .3em; }
.simulated { display: inline-block; background: #c00; color: #fff; font-weight: bold; padding: .2em .6em; margin: 0 0 .5em; }
.folder, td.subject, h3 { overflow-wrap: anywhere; word-break: break-all; }
.note { color: #555; }
.table { overflow-x: auto; max-width: 100%; }
table { border-collapse: collapse; font-size: .8em; }
th, td { border: 1px solid #ccc; padding: .15em .4em; text-align: right; }
th { background: #eee; position: sticky; top: 0; }
td.subject { text-align: left; min-width: 6em; max-width: 24em; }
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
svg.plot .legend.hit { fill: #2060a0; }
svg.plot .legend.fa { fill: #d04020; }
</style>
)";

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
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
  return out;
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
  std::string out(kHtmlReportHead);
  out += "<title>ピョコラン report</title>\n";
  out += kStyle;
  out += "</head>\n<body>\n<h1>ピョコラン report</h1>\n";
  if (results.simulated) out += "<p class=\"simulated\">SIMULATED DATA</p>\n";
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(std::filesystem::u8path(report.folder), ec);
  const auto absolute = folder.lexically_normal().u8string();
  out += "<p class=\"folder\">Folder: " +
         HtmlEscape(ec ? report.folder : std::string(absolute.begin(), absolute.end())) + "</p>\n";
  out += "<p>" + std::to_string(results.runs.size()) + " runs, " + std::to_string(report.subjects.size()) +
         " subjects, " + std::to_string(report.conditions.size()) + " subject × condition groups. " +
         HtmlEscape(report.program_version) + ".</p>\n";
  out += "<p>Anticipation limit: " + std::to_string(report.options.anticipation_ms) +
         " ms. Responses faster than that count as anticipations and are left out of the RT figures" +
         (report.options.exclude_anticipations
              ? std::string(", and out of Hit and FA too (their appearances count in neither the targets nor the "
                            "distractors, nor in the rates, d′ and c)")
              : std::string("; they stay in Hit and FA")) +
         ". Rates with LL are log-linear corrected ((count + 0.5) / (n + 1)); d′ and the criterion are computed "
         "from those. CI columns are 95% intervals: Wilson for the rates, ±1.96 standard errors for d′, t for "
         "the mean hit RT.</p>\n";
  out += "<p>Level says what a row is: <b>run</b>; <b>subject_condition</b>, a subject's runs alike in every "
         "setting but the seed, pooled; <b>subject</b>, all of a subject's runs pooled (Conditions: how many "
         "conditions it mixes). Beside the pooled figures, *_RunMean and *_RunSD give the mean and SD of the "
         "runs' own values.</p>\n";
  if (results.simulated && !report.simulation_notes.empty()) {
    // The simulator's mark file, line by line (escaping keeps no line break).
    out += "<details><summary>How the runs were simulated</summary><pre class=\"note\">";
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
    out += "<details open><summary>" + std::to_string(results.problems.size()) +
           " lines or files could not be used</summary><ul>\n";
    for (size_t i = 0; i < results.problems.size() && i < limits.problems; ++i)
      out += "<li>" + Cell(results.problems[i]) + "</li>\n";
    if (results.problems.size() > limits.problems)
      out += "<li class=\"note\">… and " + std::to_string(results.problems.size() - limits.problems) +
             " more</li>\n";
    out += "</ul></details>\n";
  }

  // Subjects in order of their IDs.
  std::vector<size_t> order(report.subjects.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return report.subjects[a].subject_utf8 < report.subjects[b].subject_utf8;
  });

  out += "<h2>Subjects and conditions (runs pooled)</h2>\n";
  std::vector<std::vector<std::string>> rows;
  for (size_t i : order) {
    for (size_t k : report.subjects[i].conditions) rows.push_back(ConditionCells(report, k));
    rows.push_back(SubjectCells(report, i));
  }
  AppendTable(out, rows, /*conditions_first=*/true);

  out += "<h2>All runs</h2>\n<div class=\"plots\">\n";
  std::vector<const RunRecord*> all;
  all.reserve(results.runs.size());
  for (const RunRecord& r : results.runs) all.push_back(&r);
  out += RtHistogram(HitRts(all, report.options),
                     "Hit RT distribution: all " + std::to_string(all.size()) + " runs", limits);
  out += "</div>\n";

  for (size_t k = 0; k < order.size() && k < limits.plotted_subjects; ++k) {
    const SubjectReport& s = report.subjects[order[k]];
    if (s.runs.empty()) continue;
    const RunRecord& newest = results.runs[s.runs.back()];
    const std::string who = ShortenUtf8(s.subject_utf8, limits.title_chars);
    const std::string when = newest.date + " " + newest.time;
    out += "<h3>Subject " + Cell(s.subject_utf8) + "</h3>\n<div class=\"plots\">\n";
    out += RtHistogram(HitRts(SubjectRuns(report, s), report.options),
                       "Hit RT distribution: " + who + ", " + std::to_string(s.runs.size()) + " runs", limits);
    out += RtAcrossRun(newest, "Hit RT across the run: " + who + ", " + when, report.options, limits);
    out += RatesPlot(newest, "Hit and false-alarm rates per 10 s: " + who + ", " + when, report.options, limits);
    out += DPrimePlot(report, s, "d′ across the runs of " + who, limits);
    out += "</div>\n";
  }
  if (order.size() > limits.plotted_subjects)
    out += "<p class=\"note\">Plots of the first " + std::to_string(limits.plotted_subjects) + " of " +
           std::to_string(order.size()) + " subjects shown; the tables hold all of them.</p>\n";

  out += "<h2>Runs (newest first)</h2>\n";
  rows.clear();
  for (size_t i = 0; i < results.runs.size() && i < limits.table_runs; ++i) rows.push_back(RunCells(report, i));
  if (results.runs.size() > limits.table_runs)
    out += "<p class=\"note\">The newest " + std::to_string(limits.table_runs) + " of " +
           std::to_string(results.runs.size()) + " runs shown; the CSV report holds every run.</p>\n";
  AppendTable(out, rows);
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
    error = path + " exists and is not a report; not replaced";
    return false;
  }
  return WriteReportFile(path, ReportHtml(report, limits), error);
}

}  // namespace pyokoran
