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
#include <limits.h>
#include <signal.h>
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

constexpr size_t kFileNameBytes = 255;  // bytes in one file name, on Linux and on Windows
const char kPartialSuffix[] = ".partial-", kOwnPartialName[] = ".tarvo-stamp.partial-";

// The temporary file's name beside path, before its unique suffix: the output's own name and
// ".partial-", or a short name of the tool's own where that would make the name too long.
std::string PartialName(const std::string& path, size_t uniqueLength) {
  const size_t slash = path.find_last_of("/\\"), name = slash == std::string::npos ? 0 : slash + 1;
  if (path.size() - name + sizeof kPartialSuffix - 1 + uniqueLength <= kFileNameBytes) return path + kPartialSuffix;
  return path.substr(0, name) + kOwnPartialName;
}

std::string WriteAll(int file, const Image& data, const std::string& path) {
  for (size_t total = 0; total < data.size();) {
    auto count = write(file, data.data() + total, static_cast<unsigned>(std::min<size_t>(data.size() - total, 1 << 20)));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return Reason(path);
    total += static_cast<size_t>(count);
  }
  return "";
}

// The work is done in memory before this, so a refusal never writes anything here.
std::string WriteStandardOutput(const Image& data) {
  if (isatty(1)) return "standard output is a terminal; redirect it to a file or a pipe";
#ifdef _WIN32
  _setmode(1, O_BINARY);
#endif
  return WriteAll(1, data, "standard output");
}

}  // namespace

std::string ReadInput(const std::string& path, size_t limit, Image* data, unsigned* mode) {
  data->clear();
  int file = open(path.c_str(), kReadFlags);
  if (file < 0) return Reason(path);
  struct stat status = {};
  const std::string tooLarge = path + ": " + LargerThan(limit);
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

// Only a regular file that is no link, or nothing at all, may be replaced.
std::string CheckReplaceable(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info = {};
  bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  CloseHandle(file);
  return regular ? "" : path + ": not a regular file (a device, a folder or a link); refusing to replace it";
}

// The temporary file while it exists, for a console event (Ctrl+C, Ctrl+Break, the window
// closed) to remove; its handler runs on a thread of its own, hence the lock.
char g_partial[MAX_PATH];
SRWLOCK g_partialLock = SRWLOCK_INIT;

BOOL WINAPI RemovePartial(DWORD) {
  AcquireSRWLockExclusive(&g_partialLock);
  if (g_partial[0] != '\0') DeleteFileA(g_partial);  // gone once the process's handle is closed
  g_partial[0] = '\0';
  ReleaseSRWLockExclusive(&g_partialLock);
  return FALSE;  // the default handler then ends the process
}

}  // namespace

std::string WriteOutput(const std::string& path, const Image& data, unsigned) {
  if (path == kStandardOutput) return WriteStandardOutput(data);
  std::string temporary, refusal = CheckReplaceable(path);
  if (!refusal.empty()) return refusal;
  SetConsoleCtrlHandler(RemovePartial, TRUE);
  HANDLE file = INVALID_HANDLE_VALUE;
  // CREATE_NEW fails on anything already there, a link included, so only our own file is used.
  DWORD error = ERROR_FILE_EXISTS;
  AcquireSRWLockExclusive(&g_partialLock);
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 16; attempt++) {
    const std::string unique = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64() + attempt);
    temporary = PartialName(path, unique.size()) + unique;
    if (temporary.size() >= sizeof g_partial) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    // Shared for deletion only, so that a console event can remove it while it is open.
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && (error = GetLastError()) != ERROR_FILE_EXISTS) break;
  }
  if (file != INVALID_HANDLE_VALUE) memcpy(g_partial, temporary.c_str(), temporary.size() + 1);
  ReleaseSRWLockExclusive(&g_partialLock);
  if (file == INVALID_HANDLE_VALUE) return SystemReason(path, error);
  DWORD written = 0;
  bool whole = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
  error = whole ? 0 : GetLastError();
  if (!CloseHandle(file) && whole) whole = false, error = GetLastError();
  // An event now waits until the output is either the old file or the new one, whole.
  AcquireSRWLockExclusive(&g_partialLock);
  if (whole && !MoveIntoPlace(temporary, path)) whole = false, error = GetLastError();
  if (!whole) DeleteFileA(temporary.c_str());
  g_partial[0] = '\0';
  ReleaseSRWLockExclusive(&g_partialLock);
  return whole ? "" : SystemReason(path, error);
}

bool SameFile(const std::string& input, const std::string& output) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return input == output || (Identify(input, &a) && Identify(output, &b) &&
                             a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                             a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow);
}
#else
namespace {

// The temporary file while it exists, for a signal to remove; set and cleared only while the
// stop signals are blocked, so that a handler never sees half a name or misses the file.
char g_partial[PATH_MAX];
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Async-signal-safe: removes the temporary file, then lets the signal end the process as it
// would have, once this handler returns (the signal is blocked until then).
void RemovePartialAndStop(int signal) {
  if (g_partial[0] != '\0') unlink(g_partial);
  struct sigaction standard = {};
  standard.sa_handler = SIG_DFL;
  sigaction(signal, &standard, nullptr);
  raise(signal);
}

// A signal that the caller ignores (nohup, a server's pipe) stays ignored.
void CatchStopSignals(sigset_t* stopSignals) {
  struct sigaction catcher = {}, before = {};
  catcher.sa_handler = RemovePartialAndStop;
  sigfillset(&catcher.sa_mask);
  sigemptyset(stopSignals);
  for (int signal : kStopSignals) {
    sigaddset(stopSignals, signal);
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(signal, &catcher, nullptr);
  }
}

}  // namespace

std::string WriteOutput(const std::string& path, const Image& data, unsigned mode) {
  if (path == kStandardOutput) return WriteStandardOutput(data);
  // rename would replace a device or a FIFO's entry, and a link rather than what it names.
  struct stat status = {};
  if (lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
    return path + ": not a regular file (" + (S_ISLNK(status.st_mode) ? "a symbolic link" : S_ISDIR(status.st_mode) ? "a folder" : "a device, a FIFO or a socket") + "); refusing to replace it";
  // mkstemp creates with O_EXCL, which never follows a link and never opens what is there.
  std::string temporary = PartialName(path, 6) + "XXXXXX";
  if (temporary.size() >= sizeof g_partial) return path + ": " + strerror(ENAMETOOLONG);
  sigset_t stopSignals, before;
  CatchStopSignals(&stopSignals);
  sigprocmask(SIG_BLOCK, &stopSignals, &before);
  int file = mkstemp(&temporary[0]);
  if (file >= 0) memcpy(g_partial, temporary.c_str(), temporary.size() + 1);
  std::string error = file < 0 ? Reason(path) : "";
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (file < 0) return error;
  error = WriteAll(file, data, path);
  if (error.empty() && fchmod(file, mode) != 0) error = Reason(path);
  if (close(file) != 0 && error.empty()) error = Reason(path);
  // A signal now waits until the output is either the old file or the new one, whole.
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  if (error.empty() && rename(temporary.c_str(), path.c_str()) != 0) error = Reason(path);
  if (!error.empty()) unlink(temporary.c_str());
  g_partial[0] = '\0';
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return error;
}

bool SameFile(const std::string& input, const std::string& output) {
  struct stat a, b;
  return input == output || (stat(input.c_str(), &a) == 0 && stat(output.c_str(), &b) == 0 &&
                             a.st_dev == b.st_dev && a.st_ino == b.st_ino);
}
#endif
