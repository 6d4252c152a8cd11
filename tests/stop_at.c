// Preloaded into tarvo-stamp by its runner (LD_PRELOAD), so that a signal can be made to come
// at an exact step of writing the output: at the first call of the function named by
// TARVO_STOP_AT (write, fchmod or rename), the signal numbered by TARVO_STOP_SIGNAL is raised,
// as if sent from outside at that moment; the call then goes on.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

static void StopAt(const char* function) {
  const char* at = getenv("TARVO_STOP_AT");
  const char* number = getenv("TARVO_STOP_SIGNAL");
  if (at != NULL && number != NULL && strcmp(at, function) == 0) raise(atoi(number));
}

ssize_t write(int file, const void* data, size_t size) {
  if (file > 2) StopAt("write");  // the output, not a message
  ssize_t (*next)(int, const void*, size_t) = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  return next(file, data, size);
}

int fchmod(int file, mode_t mode) {
  StopAt("fchmod");
  int (*next)(int, mode_t) = (int (*)(int, mode_t))dlsym(RTLD_NEXT, "fchmod");
  return next(file, mode);
}

int rename(const char* from, const char* to) {
  StopAt("rename");
  int (*next)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  return next(from, to);
}
