// Opening the program's own files (settings, pictures, sounds, result files) without ever
// blocking: a FIFO, a device or a directory that carries one of their names is refused at
// once, as an unreadable or unwritable file would be, instead of waiting for a peer.
#pragma once

#include <cstdio>

namespace pyokoran {

// open(2) with O_NONBLOCK and O_CLOEXEC added, then checked with fstat: returns the
// descriptor (blocking mode restored) when path is a regular file or a link to one, else
// -1 with errno set (EINVAL for a file that is not regular). mode as for open(2).
int OpenRegularFile(const char* path, int flags, int mode = 0666);
// The same as a stdio stream for reading ("rb") or appending; null on failure.
std::FILE* FopenRegular(const char* path, const char* stdio_mode);

}  // namespace pyokoran
