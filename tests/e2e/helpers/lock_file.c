/* Holds a file open without sharing until the file named by its second argument exists, so
   that nothing else can open it meanwhile. Usage: lock_file.exe FILE STOP_FILE */
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE file;
  if (argc < 3) return 2;
  file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  CloseHandle(file);
  return 0;
}
