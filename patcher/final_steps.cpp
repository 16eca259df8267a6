#include <cstring>

#include "patcher/patcher_state.h"

namespace {

bool EndsInBackslash(const char* path) {
  const size_t length = std::strlen(path);
  return length > 0 && path[length - 1] == '\\';
}

// A shortcut name is one file name: no separators, no drive, no parent folder.
bool IsPlainFileName(const char* name) {
  if (std::strpbrk(name, "\\/:")) return false;
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strstr(name, "..") == nullptr;
}

}  // namespace

void WriteGameVersion() {
  const u32 version = ParseVersionText(GetPatchText("ver"));
  PlatformKey key = g_platform.RegOpen(kGameKey, 1);
  if (!key) return;
  g_platform.RegSetDword(key, "GameVersion", version);
  g_platform.RegClose(key);
}

void CreateClientShortcut(const char* folder) {
  char name[kPathSize];
  std::strncpy(name, GetPatchText("pwt_name"), sizeof name - 1);
  name[sizeof name - 1] = '\0';
  if (!IsPlainFileName(name)) return;

  char link[kPathSize] = "";
  char workingFolder[kPathSize] = "";
  char client[kPathSize] = "";
  if (!AppendText(link, kPathSize, folder) ||
      (!EndsInBackslash(link) && !AppendText(link, kPathSize, "\\")) ||
      !AppendText(link, kPathSize, name) || !AppendText(link, kPathSize, ".lnk")) {
    return;  // the shortcut's path would not fit
  }
  if (!AppendText(workingFolder, kPathSize, InstallPath) ||
      !AppendText(workingFolder, kPathSize, "pwt")) {
    return;
  }
  std::strcpy(client, workingFolder);
  if (!AppendText(client, kPathSize, "\\pwtclient.exe")) return;

  if (g_platform.CreateLink(link, client, workingFolder, client, name)) ++ShortcutsMade;
}

void FindGameMenuFolders(const char* folder) {
  char prefix[kPathSize] = "";
  if (!AppendText(prefix, kPathSize, folder)) return;
  if (!EndsInBackslash(prefix) && !AppendText(prefix, kPathSize, "\\")) return;
  char pattern[kPathSize];
  std::strcpy(pattern, prefix);
  if (!AppendText(pattern, kPathSize, "*.*")) return;

  PlatformFindEntry entry;
  PlatformFind find = g_platform.FindFirst(pattern, &entry);
  if (!find) return;
  do {
    char path[kPathSize];
    std::strcpy(path, prefix);
    if (!AppendText(path, kPathSize, entry.name) || !entry.isDirectory) continue;
    if (SameText(entry.name, "vorn")) CreateClientShortcut(path);
    if (entry.name[0] != '.') FindGameMenuFolders(path);
  } while (g_platform.FindNext(find, &entry));
  g_platform.FindClose(find);
}

void InstallClientShortcut() {
  if (std::strcmp(GetPatchText("pwt_shortcut"), "1") != 0) return;
  char programs[kPathSize];
  if (!g_platform.ProgramsFolder(programs)) return;
  programs[kPathSize - 1] = '\0';
  ShortcutsMade = 0;
  FindGameMenuFolders(programs);
  if (ShortcutsMade == 0) CreateClientShortcut(programs);
}

void OfferGameSpyInstall() {
  if (GetPatchText("gamespy")[0] == '\0') return;
  if (ShowPatchMessage("gamespy", MB_TYPE_YESNO, 0) != ANSWER_YES) return;
  // Quoted, so that a game folder with blanks names the installer and nothing else.
  char command[260] = "\"";
  if (!AppendText(command, sizeof command, InstallPath) ||
      !AppendText(command, sizeof command, "GameSpy Arcade\\ArcadeInstallFull101b.EXE") ||
      !AppendText(command, sizeof command, "\"")) {
    return;
  }
  g_platform.StartProgram(command, 5);
}
