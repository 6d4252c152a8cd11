/* Holds a file open without sharing, as an antivirus scanner or a sync client might, until
   a file named PATH.release appears (at most a minute). Creates PATH.held once it holds.
   With a second argument "delete", others may delete the file meanwhile, but not replace it. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  char marker[MAX_PATH + 16];
  if (argc != 2 && !(argc == 3 && strcmp(argv[2], "delete") == 0)) return 2;
  DWORD share = argc == 3 ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 3;
  snprintf(marker, sizeof marker, "%s.held", argv[1]);
  CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  snprintf(marker, sizeof marker, "%s.release", argv[1]);
  for (int waited = 0; waited < 60000 && GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES; waited += 50)
    Sleep(50);
  CloseHandle(file);
  return 0;
}
