#include "fake_platform.h"

#include <gtest/gtest.h>

#include <cstring>

#include "file/file_service.h"

FakeSystem* g_fake;
// The patcher's platform table: the real one exists only in the Windows program.
PatcherPlatform g_platform;

namespace {

int FakeMessageBox(PlatformWindow, const char* text, const char* caption, u32 type) {
  g_fake->messages.push_back({text, caption, type});
  if (g_fake->answers.empty()) {
    return type == MB_TYPE_QUESTION_YESNO || type == MB_TYPE_YESNO ? ANSWER_YES : ANSWER_OK;
  }
  int answer = g_fake->answers.front();
  g_fake->answers.pop_front();
  return answer;
}

ErrorCode FakeMountRoot() {
  MountService("", new MemoryService(g_fake->disk));
  if (g_fake->data) MountService("DATA\\", new MemoryService(g_fake->data));
  return nullptr;
}

ErrorCode FakeUnmountRoot() {
  delete UnmountService("");
  return nullptr;
}

PlatformKey FakeRegOpen(const char* subKey, u32 forWriting) {
  if (std::strcmp(subKey, "SOFTWARE\\Kavelunde\\Vorn") != 0 || !g_fake->keyExists) return 0;
  if (forWriting && !g_fake->keyWritable) return 0;
  ++g_fake->openKeys;
  return 0x1234;
}

u32 FakeRegQueryString(PlatformKey key, const char* name, char* buffer, u32 size) {
  EXPECT_EQ(key, 0x1234u);
  auto it = g_fake->regStrings.find(name);
  if (it == g_fake->regStrings.end() || it->second.size() > size) return 0;
  // Like the registry, a text that fills the buffer exactly arrives without its NUL.
  std::memcpy(buffer, it->second.data(), it->second.size());
  if (it->second.size() < size) buffer[it->second.size()] = '\0';
  return 1;
}

u32 FakeRegQueryDword(PlatformKey, const char* name, u32* value) {
  auto it = g_fake->regDwords.find(name);
  if (it == g_fake->regDwords.end()) return 0;
  *value = it->second;
  return 1;
}

u32 FakeRegSetDword(PlatformKey, const char* name, u32 value) {
  g_fake->regDwords[name] = value;
  return 1;
}

void FakeRegClose(PlatformKey) { --g_fake->openKeys; }

u32 FakeCreateNamedMutex(const char* name, u32* existed) {
  EXPECT_STREQ(name, "Vorn_Ashen_Banner_Ver_01");
  g_fake->mutexCreated = true;
  *existed = g_fake->gameRunning ? 1 : 0;
  return 1;
}

uintptr_t FakeDialogBox(uintptr_t, u32 resourceId, PlatformDialogProc procedure) {
  EXPECT_EQ(resourceId, 101u);
  procedure(0xD1A106, kDialogInit, 0, 0);
  return 1;
}

void FakeEndDialog(PlatformWindow dialog, uintptr_t result) {
  EXPECT_EQ(dialog, 0xD1A106u);
  EXPECT_EQ(result, 1u);
  ++g_fake->dialogsEnded;
}

void FakeSetWindowText(PlatformWindow, const char* text) { g_fake->windowTitle = text; }

void FakeSetDlgItemText(PlatformWindow, u32 item, const char* text) {
  EXPECT_EQ(item, 1000u);
  g_fake->dialogText = text;
}

// The worker runs at once, on this thread: the dialog's modal loop has nothing else to do.
u32 FakeCreateThread(PlatformThreadProc procedure, void* parameter) {
  procedure(parameter);
  return 1;
}

u32 FakeProgramsFolder(char* path) {
  if (g_fake->programsFolder.empty()) return 0;
  std::strcpy(path, g_fake->programsFolder.c_str());
  return 1;
}

struct FakeFind {
  std::vector<std::pair<std::string, bool>> entries;
  size_t next = 0;
};

void FillEntry(FakeFind* find, PlatformFindEntry* entry) {
  auto& item = find->entries[find->next++];
  std::strcpy(entry->name, item.first.c_str());
  entry->isDirectory = item.second;
}

PlatformFind FakeFindFirst(const char* pattern, PlatformFindEntry* entry) {
  std::string folder = pattern;
  EXPECT_EQ(folder.substr(folder.size() - 4), "\\*.*");
  folder.resize(folder.size() - 4);
  if (folder != g_fake->programsFolder && !g_fake->menuFolders.count(folder)) return 0;
  FakeFind* find = new FakeFind;
  find->entries.push_back({".", true});
  find->entries.push_back({"..", true});
  for (const auto* set : {&g_fake->menuFolders, &g_fake->menuFiles}) {
    for (const std::string& path : *set) {
      if (path.size() > folder.size() + 1 &&
          path.compare(0, folder.size() + 1, folder + "\\") == 0 &&
          path.find('\\', folder.size() + 1) == std::string::npos) {
        find->entries.push_back({path.substr(folder.size() + 1), set == &g_fake->menuFolders});
      }
    }
  }
  FillEntry(find, entry);
  return reinterpret_cast<PlatformFind>(find);
}

u32 FakeFindNext(PlatformFind handle, PlatformFindEntry* entry) {
  FakeFind* find = reinterpret_cast<FakeFind*>(handle);
  if (find->next >= find->entries.size()) return 0;
  FillEntry(find, entry);
  return 1;
}

void FakeFindClose(PlatformFind handle) { delete reinterpret_cast<FakeFind*>(handle); }

u32 FakeCreateLink(const char* linkPath, const char* target, const char* workingFolder,
                   const char* icon, const char* description) {
  if (g_fake->linkObjectMissing) return 0;
  g_fake->links.push_back({linkPath, target, workingFolder, icon, description});
  return 1;
}

u32 FakeStartProgram(const char* commandLine, u32 show) {
  EXPECT_EQ(show, 5u);
  g_fake->started.push_back(commandLine);
  return 33;
}

u32 FakeGetFileAttributes(const char* path) {
  if (!g_fake->disk->entries.count(path)) return kInvalidAttributes;
  return g_fake->disk->readOnly.count(path) ? 0x21u : 0x20u;
}

u32 FakeSetFileAttributes(const char* path, u32 attributes) {
  if (attributes & 1) {
    g_fake->disk->readOnly.insert(path);
  } else {
    g_fake->disk->readOnly.erase(path);
  }
  return 1;
}

u32 FakeFileOpens(const char* path) { return g_fake->disk->HasFile(path) ? 1 : 0; }

const char* FakeCommandLine() { return g_fake->commandLine.c_str(); }

u32 FakeModuleFileName(char* buffer, u32 size) {
  const std::string& name = g_fake->moduleName;
  if (name.size() >= size) return size;
  std::strcpy(buffer, name.c_str());
  return static_cast<u32>(name.size());
}

void FakeExitProcess(int code) { throw ProcessExit{code}; }

const PatcherPlatform kFakePlatform = {
    FakeMountRoot,         FakeUnmountRoot,       FakeMessageBox,     FakeRegOpen,
    FakeRegQueryString,    FakeRegQueryDword,     FakeRegSetDword,    FakeRegClose,
    FakeCreateNamedMutex,  FakeDialogBox,         FakeEndDialog,      FakeSetWindowText,
    FakeSetDlgItemText,    FakeCreateThread,      FakeProgramsFolder, FakeFindFirst,
    FakeFindNext,          FakeFindClose,         FakeCreateLink,     FakeStartProgram,
    FakeGetFileAttributes, FakeSetFileAttributes, FakeFileOpens,      FakeCommandLine,
    FakeModuleFileName,    FakeExitProcess,
};

}  // namespace

FakePlatformScope::FakePlatformScope(FakeSystem* system) : saved(g_platform) {
  g_fake = system;
  g_platform = kFakePlatform;
}

FakePlatformScope::~FakePlatformScope() {
  g_platform = saved;
  g_fake = nullptr;
}
