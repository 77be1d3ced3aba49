// Whether a subject ID can name the result files. The subject becomes part of every line of
// the result files and the name of its appearance and timing files, so an ID is refused,
// before anything is written, when it holds a control character (a line feed, tab or CR
// pasted from a spreadsheet cell) or when "<ID>.csv" is not a file name on Linux and on
// Windows alike. Called by every condition dialog at OK and by the command line.
#pragma once

#include <string>

namespace pyokoran {

// The longest ID in bytes of UTF-8: its longest file, "<ID>_timing.csv.partial", stays
// within the 255 bytes a file name may have.
inline constexpr size_t kMaxSubjectFileBytes = 255 - 19;

// Empty when subject (code page 932 bytes) can be used; else the message to show (UTF-8),
// which names the file where the problem is the file name.
// Also refused: an ID whose appearance file would be another subject's timing or frames file
// ("<ID>_timing", "<ID>_frames") or a file the program writes ("ピョコラン_report" and any
// other "ピョコラン_..."), letters compared in any case as Windows compares names.
std::string SubjectIdProblem(const std::string& subject);

// True when "<subject>.csv" names a file in the folder and nothing else: no separator, drive, control character or device name. The reader opens a subject's files
// only then.
bool SubjectNamesOnlyAFile(const std::string& subject);

}  // namespace pyokoran
