// The report as one self-contained HTML file: the table and the plots (inline SVG), nothing
// fetched from anywhere, readable in any browser. Used by --report and the window's Export,
// and the only report of the Windows build.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "analysis/report.h"

namespace pyokoran {

// Bounds that keep the file readable whatever the folder holds; what is left out is said.
struct HtmlReportLimits {
  size_t table_runs = 2000;       // run rows in the table (newest first)
  size_t plotted_subjects = 40;   // subjects with a section of plots (in subject order)
  size_t points_per_plot = 2000;  // marks in one plot
  size_t title_chars = 80;        // characters of a subject ID in a plot title
  size_t problems = 50;           // problem lines listed
};

// The first bytes of every HTML report this program writes.
inline constexpr std::string_view kHtmlReportHead =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"generator\" content=\"pyokoran report\">\n";

// text as HTML text or attribute value: & < > " ' escaped, control characters and bytes that
// are not UTF-8 shown as U+FFFD.
std::string HtmlEscape(std::string_view text);
// The same appended to out.
void AppendHtmlEscaped(std::string& out, std::string_view text);
// At most max_chars characters of UTF-8 text (never a split character), with "…" when cut.
std::string ShortenUtf8(std::string_view text, size_t max_chars);
// The whole document (UTF-8).
std::string ReportHtml(const Report& report, const HtmlReportLimits& limits = {});
// True when path is a file this program wrote as an HTML report (it starts with kHtmlReportHead).
bool IsHtmlReport(const std::string& path);
// Writes ReportHtml to path, replacing an earlier HTML report but no other file. False with a
// reason on failure; the file at path is then as it was.
bool WriteReportHtml(const Report& report, const std::string& path, std::string& error,
                     const HtmlReportLimits& limits = {});

}  // namespace pyokoran
