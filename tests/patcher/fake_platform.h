// A scripted stand-in for the operating system: records every message box, answers from a
// script, keeps a registry and a programs menu in memory, and turns the process exit into an
// exception that the test catches. Files live in MemoryStorage (memory_service.h).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "memory_service.h"
#include "patcher/platform.h"

struct ProcessExit {
  int code;
};

struct ShownMessage {
  std::string text, caption;
  u32 type;
};

struct MadeLink {
  std::string path, target, workingFolder, icon, description;
};

struct FakeSystem {
  // Files: the disk (mounted under the empty prefix) and, when set, a service mounted under
  // "DATA\" in place of a payload.
  std::shared_ptr<MemoryStorage> disk = std::make_shared<MemoryStorage>();
  std::shared_ptr<MemoryStorage> data;

  std::deque<int> answers;  // popped by each message box; an empty script answers OK/Yes
  std::vector<ShownMessage> messages;

  bool keyExists = true;
  bool keyWritable = true;
  std::map<std::string, std::string> regStrings;
  std::map<std::string, u32> regDwords;
  int openKeys = 0;

  bool gameRunning = false;
  bool mutexCreated = false;

  std::string windowTitle, dialogText;
  int dialogsEnded = 0;

  std::string programsFolder = "C:\\Menu\\Programs";
  std::set<std::string> menuFolders, menuFiles;
  bool linkObjectMissing = false;
  std::vector<MadeLink> links;
  std::vector<std::string> started;

  std::string commandLine;
  std::string moduleName;
};

// Points g_platform at the fake (and back at the saved table on destruction).
class FakePlatformScope {
 public:
  explicit FakePlatformScope(FakeSystem* system);
  ~FakePlatformScope();

 private:
  PatcherPlatform saved;
};

extern FakeSystem* g_fake;
