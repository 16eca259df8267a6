/* Stands in for the extra installer the patcher offers to start: records its command line in a
   file next to itself and exits. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
  char path[MAX_PATH];
  char* slash;
  FILE* out;
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path - 16);
  if (length == 0 || length >= sizeof path - 16) return 1;
  slash = strrchr(path, '\\');
  if (!slash) return 1;
  strcpy(slash + 1, "started.txt");
  out = fopen(path, "w");
  if (!out) return 1;
  fprintf(out, "%s\n", GetCommandLineA());
  fclose(out);
  return 0;
}
