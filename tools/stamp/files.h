// The only place where tarvo-stamp touches the file system: reading its inputs with a cap
// and replacing its output in one step. Each returns "" or "FILE: the system's reason".
#pragma once
#include "pe_image.h"

constexpr size_t kLauncherFileLimit = 4 << 20;  // a branded, signed launcher is about 1.1 MiB at most
// Why a file of more than limit bytes is refused, in the words of every refusal.
inline std::string LargerThan(size_t limit) { return "larger than " + std::to_string(limit >> 20) + " MiB"; }

// Reads a regular file of at most limit bytes; anything else (a folder, a FIFO, a device) is
// refused without waiting on it. mode receives its permission bits.
std::string ReadInput(const std::string& path, size_t limit, Image* data, unsigned* mode);
// The output name that means standard output.
const char kStandardOutput[] = "-";

// Writes a file of its own beside path, created exclusively (never through a link, never
// over anything), and moves it over path; on any failure it is removed and path is as it was.
// A path that is a link or anything but a regular file is refused, never replaced. "-"
// writes the data to standard output instead, unless that is a terminal.
std::string WriteOutput(const std::string& path, const Image& data, unsigned mode);
// Whether output names the file at input, by the same or another path.
bool SameFile(const std::string& input, const std::string& output);
