// The real platform table and the entry point.
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cstring>

#include "file/disk_file.h"
#include "file/win32_api.h"
#include "patcher/patcher_state.h"
#include "patcher/platform.h"

namespace {

// The three identifiers of the shell link object, here rather than from libuuid, whose one
// object file holds every identifier of the platform (some 85 KB).
const GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

int Win32MessageBox(PlatformWindow owner, const char* text, const char* caption, u32 type) {
  return MessageBoxA(reinterpret_cast<HWND>(owner), text, caption, type);
}

PlatformKey Win32RegOpen(const char* subKey, u32 forWriting) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, forWriting ? KEY_SET_VALUE : KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  return reinterpret_cast<PlatformKey>(key);
}

u32 Win32RegQueryString(PlatformKey key, const char* name, char* buffer, u32 size) {
  if (size == 0) return 0;
  DWORD length = size;
  if (RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer), &length) != ERROR_SUCCESS) {
    return 0;
  }
  // The registry does not promise a terminating NUL.
  if (length >= size) length = size - 1;
  buffer[length] = '\0';
  return 1;
}

u32 Win32RegQueryDword(PlatformKey key, const char* name, u32* value) {
  DWORD data = 0;
  DWORD length = sizeof data;
  if (RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&data), &length) != ERROR_SUCCESS ||
      length != sizeof data) {
    return 0;
  }
  *value = data;
  return 1;
}

u32 Win32RegSetDword(PlatformKey key, const char* name, u32 value) {
  DWORD data = value;
  return RegSetValueExA(reinterpret_cast<HKEY>(key), name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

void Win32RegClose(PlatformKey key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

u32 Win32CreateNamedMutex(const char* name, u32* existed) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  *existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return mutex != nullptr;  // the handle stays open until the process ends
}

PlatformDialogProc g_dialogProcedure;

INT_PTR CALLBACK Win32DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return static_cast<INT_PTR>(g_dialogProcedure(reinterpret_cast<PlatformWindow>(window), message,
                                                static_cast<uintptr_t>(wParam),
                                                static_cast<uintptr_t>(lParam)));
}

uintptr_t Win32DialogBox(uintptr_t instance, u32 resourceId, PlatformDialogProc procedure) {
  g_dialogProcedure = procedure;
  return static_cast<uintptr_t>(DialogBoxParamA(reinterpret_cast<HINSTANCE>(instance),
                                                MAKEINTRESOURCEA(resourceId), nullptr,
                                                Win32DialogProc, 0));
}

void Win32EndDialog(PlatformWindow dialog, uintptr_t result) {
  EndDialog(reinterpret_cast<HWND>(dialog), static_cast<INT_PTR>(result));
}

void Win32SetWindowText(PlatformWindow window, const char* text) {
  SetWindowTextA(reinterpret_cast<HWND>(window), text);
}

void Win32SetDlgItemText(PlatformWindow dialog, u32 item, const char* text) {
  SetDlgItemTextA(reinterpret_cast<HWND>(dialog), static_cast<int>(item), text);
}

struct ThreadStart {
  PlatformThreadProc procedure;
  void* parameter;
};
ThreadStart g_threadStart;

DWORD WINAPI Win32ThreadProc(LPVOID) { return g_threadStart.procedure(g_threadStart.parameter); }

u32 Win32CreateThread(PlatformThreadProc procedure, void* parameter) {
  g_threadStart.procedure = procedure;
  g_threadStart.parameter = parameter;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, Win32ThreadProc, nullptr, 0, &id);
  return thread != nullptr;
}

u32 Win32ProgramsFolder(char* path) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &list)) || !list) return 0;
  const BOOL found = SHGetPathFromIDListA(list, path);
  CoTaskMemFree(list);
  return found ? 1 : 0;
}

void FillEntry(const WIN32_FIND_DATAA& data, PlatformFindEntry* entry) {
  std::strncpy(entry->name, data.cFileName, sizeof entry->name - 1);
  entry->name[sizeof entry->name - 1] = '\0';
  entry->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PlatformFind Win32FindFirst(const char* pattern, PlatformFindEntry* entry) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FillEntry(data, entry);
  return reinterpret_cast<PlatformFind>(find);
}

u32 Win32FindNext(PlatformFind find, PlatformFindEntry* entry) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(find), &data)) return 0;
  FillEntry(data, entry);
  return 1;
}

void Win32FindClose(PlatformFind find) { FindClose(reinterpret_cast<HANDLE>(find)); }

u32 Win32CreateLink(const char* linkPath, const char* target, const char* workingFolder,
                    const char* icon, const char* description) {
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    CoUninitialize();
    return 0;
  }
  IPersistFile* file = nullptr;
  if (FAILED(link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&file)))) {
    link->Release();
    CoUninitialize();
    return 0;
  }
  WCHAR widePath[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH)) widePath[0] = 0;
  link->SetWorkingDirectory(workingFolder);
  link->SetPath(target);
  link->SetIconLocation(icon, 0);
  link->SetDescription(description);
  file->Save(widePath, TRUE);
  file->Release();
  link->Release();
  CoUninitialize();
  return 1;
}

u32 Win32StartProgram(const char* commandLine, u32 show) { return WinExec(commandLine, show); }

u32 Win32GetFileAttributes(const char* path) { return GetFileAttributesA(path); }

u32 Win32SetFileAttributes(const char* path, u32 attributes) {
  return SetFileAttributesA(path, attributes) ? 1 : 0;
}

u32 Win32FileOpens(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(file);
  return 1;
}

const char* Win32CommandLine() { return GetCommandLineA(); }

u32 Win32ModuleFileName(char* buffer, u32 size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

void Win32ExitProcess(int code) { std::exit(code); }

}  // namespace

PatcherPlatform g_platform = {
    StartDiskService,       ExitDiskService,        Win32MessageBox,     Win32RegOpen,
    Win32RegQueryString,    Win32RegQueryDword,     Win32RegSetDword,    Win32RegClose,
    Win32CreateNamedMutex,  Win32DialogBox,         Win32EndDialog,      Win32SetWindowText,
    Win32SetDlgItemText,    Win32CreateThread,      Win32ProgramsFolder, Win32FindFirst,
    Win32FindNext,          Win32FindClose,         Win32CreateLink,     Win32StartProgram,
    Win32GetFileAttributes, Win32SetFileAttributes, Win32FileOpens,      Win32CommandLine,
    Win32ModuleFileName,    Win32ExitProcess,
};

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return RunPatcher(reinterpret_cast<uintptr_t>(instance));
}
