// Everything the patcher asks of the operating system, as one table of functions (the real
// calls in platform_win32.cpp). Tests replace the table to script the user's answers, fake the
// registry and the shell, and stop the process without ending the test program.
#pragma once

#include "core/errors.h"

typedef uintptr_t PlatformKey;     // an open registry key; 0 = none
typedef uintptr_t PlatformWindow;  // a window handle; 0 = none
typedef uintptr_t PlatformFind;    // a directory search; 0 = none

// Message box types and answers used by the patcher.
constexpr u32 MB_TYPE_OK = 0;
constexpr u32 MB_TYPE_ERROR = 16;
constexpr u32 MB_TYPE_YESNO = 4;
constexpr u32 MB_TYPE_QUESTION_YESNO = 68;
constexpr u32 MB_TYPE_ABORT_RETRY_IGNORE = 34;
constexpr int ANSWER_OK = 1;
constexpr int ANSWER_ABORT = 3;
constexpr int ANSWER_RETRY = 4;
constexpr int ANSWER_IGNORE = 5;
constexpr int ANSWER_YES = 6;

constexpr u32 kDialogInit = 272;  // the dialog-initialisation message
constexpr u32 kInvalidAttributes = 0xFFFFFFFFu;

typedef uintptr_t (*PlatformDialogProc)(PlatformWindow window, u32 message, uintptr_t wParam,
                                        uintptr_t lParam);
typedef u32 (*PlatformThreadProc)(void* parameter);

struct PlatformFindEntry {
  char name[260];
  u32 isDirectory;
};

struct PatcherPlatform {
  // The file service for every path that nothing else claims (the disk), mounted under the empty
  // prefix of the mount table, and removed again.
  ErrorCode (*MountRootService)();
  ErrorCode (*UnmountRootService)();

  int (*MessageBox)(PlatformWindow owner, const char* text, const char* caption, u32 type);

  // Registry, under HKEY_LOCAL_MACHINE. Queries fail for missing values and values that do not
  // fit; a text value arrives NUL-terminated within size bytes.
  PlatformKey (*RegOpen)(const char* subKey, u32 forWriting);
  u32 (*RegQueryString)(PlatformKey key, const char* name, char* buffer, u32 size);
  u32 (*RegQueryDword)(PlatformKey key, const char* name, u32* value);
  u32 (*RegSetDword)(PlatformKey key, const char* name, u32 value);
  void (*RegClose)(PlatformKey key);

  // Creates the named mutex without taking it; *existed tells whether it was there already.
  u32 (*CreateNamedMutex)(const char* name, u32* existed);

  // The modal progress dialog and its worker.
  uintptr_t (*DialogBox)(uintptr_t instance, u32 resourceId, PlatformDialogProc procedure);
  void (*EndDialog)(PlatformWindow dialog, uintptr_t result);
  void (*SetWindowText)(PlatformWindow window, const char* text);
  void (*SetDlgItemText)(PlatformWindow dialog, u32 item, const char* text);
  u32 (*CreateThread)(PlatformThreadProc procedure, void* parameter);

  // The shell: the programs menu folder (256 bytes), the folder walk, and shell links. CreateLink
  // returns nonzero once the link object was made and asked to save (whether or not it saved).
  u32 (*ProgramsFolder)(char* path);
  PlatformFind (*FindFirst)(const char* pattern, PlatformFindEntry* entry);
  u32 (*FindNext)(PlatformFind find, PlatformFindEntry* entry);
  void (*FindClose)(PlatformFind find);
  u32 (*CreateLink)(const char* linkPath, const char* target, const char* workingFolder,
                    const char* icon, const char* description);
  u32 (*StartProgram)(const char* commandLine, u32 show);

  u32 (*GetFileAttributes)(const char* path);
  u32 (*SetFileAttributes)(const char* path, u32 attributes);
  // Opens an existing file for reading (shared) and closes it again: does it open?
  u32 (*FileOpens)(const char* path);

  const char* (*CommandLine)();
  u32 (*ModuleFileName)(char* buffer, u32 size);
  // Ends the process through the runtime's normal exit path. Never returns.
  void (*ExitProcess)(int code);
};

extern PatcherPlatform g_platform;
