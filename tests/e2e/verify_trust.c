/* Asks Windows whether a file's Authenticode signature holds (WinVerifyTrust with
   WINTRUST_ACTION_GENERIC_VERIFY_V2, no user interface, no revocation check) and prints
   the result as eight hex digits: 00000000 for a good signature. */
#include <stdio.h>
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

int main(int argc, char** argv) {
  WCHAR path[MAX_PATH];
  if (argc != 2 || MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH) == 0) return 2;
  WINTRUST_FILE_INFO file = {sizeof file};
  file.pcwszFilePath = path;
  WINTRUST_DATA data = {sizeof data};
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = WinVerifyTrust(NULL, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(NULL, &action, &data);
  printf("%08lX\n", (unsigned long)result);
  return 0;
}
