// Reading inputs and replacing the output, on Linux and on Windows.
#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr int kReadFlags = O_RDONLY | O_BINARY;
#else
// Without O_NONBLOCK, opening a FIFO waits for a writer; regular files ignore the flag.
constexpr int kReadFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
#endif

std::string Reason(const std::string& path) { return path + ": " + strerror(errno); }

}  // namespace

std::string ReadInput(const std::string& path, size_t limit, Image* data, unsigned* mode) {
  data->clear();
  int file = open(path.c_str(), kReadFlags);
  if (file < 0) return Reason(path);
  struct stat status = {};
  const std::string tooLarge = path + ": larger than " + std::to_string(limit >> 20) + " MiB";
  std::string error;
  if (fstat(file, &status) != 0) error = Reason(path);
  else if (!S_ISREG(status.st_mode)) error = path + ": not a regular file";
  else if (static_cast<unsigned long long>(status.st_size) > limit) error = tooLarge;
  // The file may grow while it is read, so the cap holds for what is read, not what was said.
  size_t total = 0;
  data->resize(error.empty() ? static_cast<size_t>(status.st_size) + 1 : 0);
  while (error.empty()) {
    if (total == data->size()) {
      if (total > limit) {
        error = tooLarge;
        break;
      }
      data->resize(std::min(std::max<size_t>(2 * total, 1 << 16), limit + 1));
    }
    auto count = read(file, data->data() + total, static_cast<unsigned>(std::min<size_t>(data->size() - total, 1 << 20)));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) error = Reason(path);
    if (count <= 0) break;
    total += static_cast<size_t>(count);
  }
  close(file);
  data->resize(error.empty() ? total : 0);
  *mode = status.st_mode & 0777;
  return error;
}

#ifdef _WIN32
namespace {

std::string SystemReason(const std::string& path, DWORD error) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text, nullptr);
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
  return path + ": " + (reason.empty() ? "error " + std::to_string(error) : reason);
}

// Replaces in one step, so the old output is never removed first. A virus scanner holds a
// fresh executable open for a moment: wait it out, about 200 ms in all.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  for (int attempt = 1;; attempt++) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 8) return false;
    Sleep(25);
  }
}

bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(file, info) != 0;
  CloseHandle(file);
  return known;
}

}  // namespace

std::string WriteOutput(const std::string& path, const Image& data, unsigned) {
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  // CREATE_NEW fails on anything already there, a link included, so only our own file is used.
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 16; attempt++) {
    temporary = path + ".partial-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64() + attempt);
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return SystemReason(path, GetLastError());
  }
  if (file == INVALID_HANDLE_VALUE) return SystemReason(path, ERROR_FILE_EXISTS);
  DWORD written = 0;
  bool whole = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
  DWORD error = whole ? 0 : GetLastError();
  if (!CloseHandle(file) && whole) whole = false, error = GetLastError();
  if (whole && MoveIntoPlace(temporary, path)) return "";
  if (whole) error = GetLastError();
  DeleteFileA(temporary.c_str());
  return SystemReason(path, error);
}

bool SameFile(const std::string& input, const std::string& output) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return input == output || (Identify(input, &a) && Identify(output, &b) &&
                             a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                             a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow);
}
#else
std::string WriteOutput(const std::string& path, const Image& data, unsigned mode) {
  // mkstemp creates with O_EXCL, which never follows a link and never opens what is there.
  std::string temporary = path + ".partial-XXXXXX";
  int file = mkstemp(&temporary[0]);
  if (file < 0) return Reason(path);
  std::string error;
  for (size_t total = 0; error.empty() && total < data.size();) {
    ssize_t count = write(file, data.data() + total, data.size() - total);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) error = Reason(path);
    else total += static_cast<size_t>(count);
  }
  if (error.empty() && fchmod(file, mode) != 0) error = Reason(path);
  if (close(file) != 0 && error.empty()) error = Reason(path);
  if (error.empty() && rename(temporary.c_str(), path.c_str()) != 0) error = Reason(path);
  if (!error.empty()) unlink(temporary.c_str());
  return error;
}

bool SameFile(const std::string& input, const std::string& output) {
  struct stat a, b;
  return input == output || (stat(input.c_str(), &a) == 0 && stat(output.c_str(), &b) == 0 &&
                             a.st_dev == b.st_dev && a.st_ino == b.st_ino);
}
#endif
