/* Starts a program the way the shell does (its quoted path first on the command line, then the
   given arguments), waits for it and prints its full 32-bit exit code: Wine's own exit status
   keeps only 8 bits, so -1 would read 255. Usage: launch.exe PROGRAM [ARGS...] */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  char line[4096];
  size_t used = 0;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  DWORD code = 0;
  int i;
  if (argc < 2) return 2;
  used = (size_t)snprintf(line, sizeof line, "\"%s\"", argv[1]);
  for (i = 2; i < argc && used < sizeof line; ++i)
    used += (size_t)snprintf(line + used, sizeof line - used, " \"%s\"", argv[i]);
  if (used >= sizeof line) {
    fprintf(stderr, "launch: command line too long\n");
    return 2;
  }
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(argv[1], line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "launch: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  printf("exit-code %ld\n", (long)(LONG)code);
  fflush(stdout);
  return 0;
}
