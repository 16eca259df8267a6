#include <cstring>
#include <new>

#include "archive/ini_table.h"
#include "core/pools.h"
#include "file/file_service.h"
#include "patcher/game_pack.h"
#include "patcher/patch_text_format.h"
#include "patcher/patcher_state.h"

namespace {

// Reads section/key of an INI member of the game pack into value (kPathSize bytes).
bool ReadGameText(CFileService* files, const char* member, const char* section, const char* key,
                  char* value, bool* opened) {
  *opened = false;
  ErrorCode error = nullptr;
  CFile* file = files->Open(member, OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, &error);
  if (!file) return false;
  *opened = true;
  bool found = false;
  CPtrPool* nodes = new (std::nothrow) CSizedPtrPool;
  CIniTable* table = nodes ? new (std::nothrow) CIniTable(20, 500, nodes, 1) : nullptr;
  if (!table) delete nodes;
  if (table && !table->Load(file)) {
    found = table->GetString(section, key, value, kPathSize) == nullptr;
  }
  delete table;
  delete file;
  return found;
}

}  // namespace

bool ConfirmStart() {
  char path[kPathSize] = "";
  u32 major = 1, minor = 0;
  PlatformKey key = g_platform.RegOpen(kGameKey, 0);
  if (key) {
    u32 version = 0;
    if (g_platform.RegQueryDword(key, "GameVersion", &version)) {
      major = version >> 16;
      minor = version & 0xFFFF;
    }
    if (!g_platform.RegQueryString(key, "Path", path, kPathSize)) path[0] = '\0';
    path[kPathSize - 1] = '\0';  // a value that fills the buffer comes without its NUL
    g_platform.RegClose(key);

    char message[kPathSize];
    const FormatArgument args[3] = {
        {nullptr, static_cast<i32>(major)}, {nullptr, static_cast<i32>(minor)}, {path, 0}};
    FormatPatchText(message, sizeof message, GetPatchText("welcome2"), args, 3);
    char executable[kPathSize];
    std::strcpy(executable, path);
    if (AppendText(executable, kPathSize, "vorn.exe") && FileServiceTable.Exists(executable) &&
        GetPatchText("welcome2")[0] != '\0') {
      char caption[kPathSize];
      std::strncpy(caption, GetPatchText("title"), sizeof caption - 1);
      caption[sizeof caption - 1] = '\0';
      return g_platform.MessageBox(0, message, caption, MB_TYPE_QUESTION_YESNO) == ANSWER_YES;
    }
  }
  return ShowPatchMessage("welcome", MB_TYPE_QUESTION_YESNO, 0) == ANSWER_YES;
}

u32 ReadInstallPath() {
  PlatformKey key = g_platform.RegOpen(kGameKey, 0);
  if (!key) return 0;
  char path[kPathSize];
  const u32 read = g_platform.RegQueryString(key, "Path", path, kPathSize);
  g_platform.RegClose(key);
  if (!read) return 0;
  path[kPathSize - 1] = '\0';
  const size_t length = std::strlen(path);
  if (length == 0 || path[length - 1] != '\\') {
    // A folder of 255 characters leaves no room for the backslash: refused like a missing one.
    if (length + 1 >= kPathSize) return 0;
    path[length] = '\\';
    path[length + 1] = '\0';
  }
  std::strcpy(InstallPath, path);
  return 1;
}

u32 CheckInstallation() {
  char path[kPathSize];
  std::strcpy(path, InstallPath);
  if (!AppendText(path, kPathSize, "Vorn.exe") || !g_platform.FileOpens(path)) {
    FailWithMessage("notvorn", 0);
  }

  const u32 patchVersion = ParseVersionText(GetPatchText("ver"));
  const u32 lowestVersion = ParseVersionText(GetPatchText("vermin"));
  const bool hasLowest = GetPatchText("vermin")[0] != '\0';
  PlatformKey key = g_platform.RegOpen(kGameKey, 0);
  if (key) {
    u32 installed = 0;
    const bool known = g_platform.RegQueryDword(key, "GameVersion", &installed) != 0;
    g_platform.RegClose(key);
    if (known && installed > patchVersion) FailWithMessage("noneed", 0);
    // The patch only applies over the versions it was made for.
    if (known && hasLowest && installed < lowestVersion) FailWithMessage("errvermin", 0);
  }

  char language[kPathSize];
  std::strncpy(language, GetPatchText("lang"), sizeof language - 1);
  language[sizeof language - 1] = '\0';
  if (language[0] == '\0') return 1;

  key = g_platform.RegOpen(kGameKey, 0);
  if (key) {
    char installed[kPathSize];
    const bool known = g_platform.RegQueryString(key, "Language", installed, kPathSize) != 0;
    g_platform.RegClose(key);
    installed[kPathSize - 1] = '\0';
    if (known && !SameText(installed, language)) FailWithMessage("wronglang", 0);
  }

  std::strcpy(path, InstallPath);
  if (!AppendText(path, kPathSize, "packs\\local.wdt")) return 1;
  CFileService* files = MountGamePack(path);
  if (!files) return 1;

  char value[kPathSize];
  bool opened = false;
  if (ReadGameText(files, "LOCAL\\strings3.ini", "system", "language", value, &opened) &&
      !SameText(value, language)) {
    delete files;
    FailWithMessage("wronglang", 0);
  }
  if (ReadGameText(files, "LOCAL\\strings.ini", "objects", "peon", value, &opened) &&
      !SameText(value, "peasant")) {
    delete files;
    FailWithMessage("wronglang", 0);
  }
  delete files;
  return 1;
}
