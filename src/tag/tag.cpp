// Finding the download tag in the launcher's own certificate table, with no heap and no
// static buffer: the table's place comes from the headers mapped at the instance handle, its
// bytes from the file, into a bounded local buffer.
#include "tag.h"

#include <string.h>

#include "../address/address.h"
#include "tag_field.h"

constexpr size_t kNtHeadersField = 0x3C, kSecurityEntry = 24 + 144;  // from the NT headers

// The certificate table is not mapped with the image, so it is read from the file. This is
// the launcher's one use of the wide calls: saved in a Downloads folder whose name lies
// outside the code page, it would get '?' from GetModuleFileNameA and never open itself.
static DWORD ReadCertificateTable(HINSTANCE instance, char* table, DWORD tableSize) {
  const unsigned char* headers = reinterpret_cast<const unsigned char*>(instance);
  DWORD ntHeaders = 0, entry[2] = {};
  memcpy(&ntHeaders, headers + kNtHeadersField, sizeof ntHeaders);
  memcpy(entry, headers + ntHeaders + kSecurityEntry, sizeof entry);
  DWORD offset = entry[0], size = entry[1] < tableSize ? entry[1] : tableSize;
  if (size == 0) return 0;
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD read = 0;
  bool whole = SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset &&
               ReadFile(file, table, size, &read, nullptr) && read == size;
  CloseHandle(file);
  return whole ? read : 0;
}

void AppendDownloadTag(HINSTANCE instance) {
  if (!TakesTag(g_address)) return;
  char table[kTagWindow];
  size_t field = 0;
  int tagLength = FindTag(table, ReadCertificateTable(instance, table, sizeof table), &field);
  size_t addressLength = strlen(g_address);
  if (tagLength == 0 || addressLength + tagLength > kAddressLength) return;
  memcpy(g_address + addressLength, table + field, tagLength);
  g_address[addressLength + tagLength] = '\0';
}
