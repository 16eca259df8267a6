/* Stands in for the running game: holds the game's named mutex until the file named by its
   argument exists, then exits. Usage: hold_mutex.exe MUTEX_NAME STOP_FILE */
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE mutex;
  if (argc < 3) return 2;
  mutex = CreateMutexA(NULL, FALSE, argv[1]);
  if (!mutex) return 1;
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  CloseHandle(mutex);
  return 0;
}
