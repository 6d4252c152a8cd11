// Tags a signed release in memory, as a download server would in-process: for each download a
// fresh copy of the release and one WriteTag call. Prints the microseconds per launcher of
// the copy and of the tag. Usage: tag_bench SIGNED.exe [COUNT]
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "../tools/stamp/files.h"
#include "../tools/stamp/tag.h"

int main(int argc, char** argv) {
  Image release, copy;
  unsigned mode = 0;
  const long count = argc > 2 ? atol(argv[2]) : 100000;
  const std::string error = argc < 2 ? "usage: tag_bench SIGNED.exe [COUNT]" : ReadInput(argv[1], kLauncherFileLimit, &release, &mode);
  if (!error.empty() || count <= 0) return fprintf(stderr, "tag_bench: %s\n", error.empty() ? "COUNT must be positive" : error.c_str()), 2;
  double copying = 0, tagging = 0;
  for (long i = 0; i < count; i++) {
    auto start = std::chrono::steady_clock::now();
    copy.assign(release.begin(), release.end());
    auto copied = std::chrono::steady_clock::now();
    const std::string refused = WriteTag(copy, "user-" + std::to_string(i));
    if (!refused.empty()) return fprintf(stderr, "tag_bench: user-%ld refused, nothing timed: %s\n", i, refused.c_str()), 1;
    auto tagged = std::chrono::steady_clock::now();
    copying += std::chrono::duration<double, std::micro>(copied - start).count();
    tagging += std::chrono::duration<double, std::micro>(tagged - copied).count();
  }
  printf("%-32s %6.2f us per launcher (%ld launchers; copying the release: %.2f us)\n", "tag in memory",
         tagging / count, count, copying / count);
  return 0;
}
