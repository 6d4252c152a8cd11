/* Prints the edit field's text of every prompt window (class "Tarvo"), a line each, so that
   a test can wait until a paste has arrived instead of guessing how long it takes. The field
   belongs to another process, where GetWindowTextA gives only a caption the system keeps, an
   empty one for an edit control; WM_GETTEXT asks the control itself. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static BOOL CALLBACK PrintField(HWND window, LPARAM unused) {
  char name[16], text[1024];
  HWND field;
  (void)unused;
  if (GetClassNameA(window, name, sizeof name) == 0 || strcmp(name, "Tarvo") != 0) return TRUE;
  field = FindWindowExA(window, NULL, "EDIT", NULL);
  text[0] = '\0';
  if (field != NULL) {
    SendMessageA(field, WM_GETTEXT, sizeof text, (LPARAM)text);
    printf("%s\n", text);
  }
  return TRUE;
}

int main(void) {
  EnumWindows(PrintField, 0);
  return 0;
}
