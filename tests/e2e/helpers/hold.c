/* Stands in for the running game or for another program holding a game file: holds the named
   mutex, or the file open without sharing, until the stop file exists. Started without
   arguments, as the installer the patcher offers to start, it records its command line in
   started.txt beside itself. Usage: hold.exe [mutex|file NAME STOP_FILE] */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  char path[MAX_PATH];
  HANDLE held;
  FILE* out;
  if (argc < 4) {
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path - 16);
    if (length == 0 || length >= sizeof path - 16 || !strrchr(path, '\\')) return 1;
    strcpy(strrchr(path, '\\') + 1, "started.txt");
    if (!(out = fopen(path, "w"))) return 1;
    fprintf(out, "%s\n", GetCommandLineA());
    return fclose(out) != 0;
  }
  held = strcmp(argv[1], "mutex") == 0 ? CreateMutexA(NULL, FALSE, argv[2])
                                       : CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (!held || held == INVALID_HANDLE_VALUE) return 1;
  while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  CloseHandle(held);
  return 0;
}
