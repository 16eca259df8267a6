#include "patcher_world.h"

#include <cstring>
#include <set>

#include "archive/ini_table.h"
#include "archive/lzss_file.h"
#include "archive/pack_fs.h"
#include "archive/payload_seal.h"
#include "archive/tarn_encode.h"
#include "core/crc32.h"
#include "core/pools.h"
#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/file_service.h"
#include "patcher/patcher_state.h"
#include "support/memory_file.h"

World* g_world;
SimDisk* g_disk;
// The patcher's platform table: the real one exists only in the Windows program.
PatcherPlatform g_platform;

const std::string kShippedIni =
    "[str]\ntitle=VORN Patch\n"
    "welcome=This will upgrade VORN to version 1.01A (English version only!).|Continue?\n"
    "vornrun=You are running VORN.\nnotvorn=VORN is not installed!\nver=10001\nvermin=10000\n"
    "errvermin=Too old.\nnoneed=You have a more recent version!\nlang=English\n"
    "wronglang=English version only!\ncopy=Updating VORN...\nerrcopy=Error copying %s\n"
    "errnotcomplete=NOT completed!\ndone=VORN was updated!\n";

namespace {

struct ProcessExit {
  int code;
};

int FakeMessageBox(PlatformWindow owner, const char* text, const char* caption, u32 type) {
  EXPECT_EQ(owner, 0u) << text;  // every box stands alone, also those asked during the copy
  const char kind = type == MB_TYPE_QUESTION_YESNO       ? 'Q'
                    : type == MB_TYPE_YESNO              ? 'Y'
                    : type == MB_TYPE_ERROR              ? 'E'
                    : type == MB_TYPE_ABORT_RETRY_IGNORE ? 'A'
                                                         : 'O';
  const bool titled = g_world->ini.find("title=VORN Patch") != std::string::npos;
  if (g_world->titled) {
    EXPECT_STREQ(caption, kind == 'A' ? "Error" : titled ? "VORN Patch" : "") << text;
  }
  g_world->boxes.push_back(std::string(1, kind) + ":" + text);
  if (g_world->onBox) g_world->onBox(type);
  const size_t index = g_world->boxes.size() - 1;
  const char answer = index < g_world->answers.size() ? g_world->answers[index] : 'd';
  const std::string letters = "nriao";  // No is the answer after Yes
  const int codes[] = {ANSWER_YES + 1, ANSWER_RETRY, ANSWER_IGNORE, ANSWER_ABORT, ANSWER_OK};
  if (letters.find(answer) != std::string::npos) return codes[letters.find(answer)];
  return type == MB_TYPE_QUESTION_YESNO || type == MB_TYPE_YESNO ? ANSWER_YES : ANSWER_OK;
}

PlatformKey FakeRegOpen(const char* subKey, u32) {
  if (std::strcmp(subKey, "SOFTWARE\\Kavelunde\\Vorn") != 0 || !g_world->keyExists) return 0;
  ++g_world->openKeys;
  return 7;
}

u32 FakeRegQueryString(PlatformKey, const char* name, char* buffer, u32 size) {
  auto it = g_world->strings.find(name);
  if (it == g_world->strings.end() || it->second.size() > size) return 0;
  // Like the registry, a text that fills the buffer exactly arrives without its NUL.
  std::memcpy(buffer, it->second.data(), it->second.size());
  if (it->second.size() < size) buffer[it->second.size()] = '\0';
  return 1;
}

u32 FakeRegQueryDword(PlatformKey, const char* name, u32* value) {
  auto it = g_world->dwords.find(name);
  if (it == g_world->dwords.end()) return 0;
  *value = it->second;
  return 1;
}

u32 FakeRegSetDword(PlatformKey, const char* name, u32 value) {
  if (g_world->setDword) return g_world->setDword(name, value);
  g_world->dwords[name] = value;
  return 1;
}

u32 FakeCreateNamedMutex(const char* name, u32* existed) {
  *existed = g_world->gameRunning && std::strcmp(name, "Vorn_Ashen_Banner_Ver_01") == 0;
  return 1;
}

uintptr_t FakeDialogBox(uintptr_t, u32 resourceId, PlatformDialogProc procedure) {
  EXPECT_EQ(resourceId, 101u);
  procedure(0xD1A106, kDialogInit, 0, 0);
  return 1;
}

void FakeEndDialog(PlatformWindow dialog, uintptr_t result) {
  g_world->effects.push_back(dialog == 0xD1A106 && result == 1 ? "dialog ended"
                                                               : "another window ended");
}

void FakeSetText(PlatformWindow, const char* text) {
  g_world->effects.push_back(std::string("title ") + text);
}

void FakeSetDlgItemText(PlatformWindow, u32 item, const char* text) {
  g_world->effects.push_back("item " + std::to_string(item) + " " + text);
}

// The worker runs at once, on this thread: the dialog's modal loop has nothing else to do.
u32 FakeCreateThread(PlatformThreadProc procedure, void* parameter) {
  procedure(parameter);
  return 1;
}

u32 FakeProgramsFolder(char* path) {
  std::strcpy(path, kMenu.c_str());
  return 1;
}

// A folder listing of the simulated disk: ".", "..", then the entries right below the folder.
struct Listing {
  std::vector<std::pair<std::string, bool>> entries{{".", true}, {"..", true}};
  size_t next = 0;
};

u32 FakeFindNext(PlatformFind find, PlatformFindEntry* entry) {
  Listing* listing = reinterpret_cast<Listing*>(find);
  if (listing->next == listing->entries.size()) return 0;
  const auto& item = listing->entries[listing->next++];
  std::strcpy(entry->name, item.first.c_str());
  entry->isDirectory = item.second;
  return 1;
}

PlatformFind FakeFindFirst(const char* pattern, PlatformFindEntry* entry) {
  std::string folder = pattern;
  EXPECT_EQ(folder.substr(folder.size() - 3), "*.*");
  folder.resize(folder.size() - 3);
  const SimDisk::Image image = g_disk->Killed();
  auto self = image.find(folder.substr(0, folder.size() - 1));
  if (self == image.end() || !self->second.folder) return 0;
  Listing* listing = new Listing;
  for (const auto& [path, node] : image) {
    if (path.compare(0, folder.size(), folder) == 0 &&
        path.find('\\', folder.size()) == path.npos) {
      listing->entries.push_back({path.substr(folder.size()), node.folder});
    }
  }
  FakeFindNext(reinterpret_cast<PlatformFind>(listing), entry);
  return reinterpret_cast<PlatformFind>(listing);
}

void FakeFindClose(PlatformFind find) { delete reinterpret_cast<Listing*>(find); }

u32 FakeCreateLink(const char* link, const char* target, const char* folder, const char* icon,
                   const char* description) {
  g_world->effects.push_back(std::string("link ") + link + " -> " + target + " in " + folder +
                             " icon " + icon + " named " + description);
  return 1;
}

u32 FakeStartProgram(const char* commandLine, u32 show) {
  g_world->effects.push_back("start " + std::to_string(show) + " " + commandLine);
  return 33;
}

u32 FakeGetAttributes(const char* path) { return g_disk->Attributes(path); }
u32 FakeSetAttributes(const char* path, u32 value) { return g_disk->SetAttributes(path, value); }
u32 FakeFileOpens(const char* path) { return g_disk->Step() && g_disk->Exists(path); }
const char* FakeCommandLine() { return g_world->commandLine.c_str(); }

u32 FakeModuleFileName(char* buffer, u32 size) {
  const std::string& name = g_world->moduleName;
  if (name.size() >= size) return size;
  std::strcpy(buffer, name.c_str());
  return static_cast<u32>(name.size());
}

void FakeExitProcess(int code) { throw ProcessExit{code}; }

const PatcherPlatform kFakePlatform = {
    StartDiskService,     ExitDiskService,
    FakeMessageBox,       FakeRegOpen,
    FakeRegQueryString,   FakeRegQueryDword,
    FakeRegSetDword,      [](PlatformKey) { --g_world->openKeys; },
    FakeCreateNamedMutex, FakeDialogBox,
    FakeEndDialog,        FakeSetText,
    FakeSetDlgItemText,   FakeCreateThread,
    FakeProgramsFolder,   FakeFindFirst,
    FakeFindNext,         FakeFindClose,
    FakeCreateLink,       FakeStartProgram,
    FakeGetAttributes,    FakeSetAttributes,
    FakeFileOpens,        FakeCommandLine,
    FakeModuleFileName,   FakeExitProcess,
};

// The heap pointer pool, keeping its live blocks: a process exit gives back what the code still
// held (the copy walk's open folder listings, when an answer ends the process inside it).
struct ExitReleasedPool : CHeapPtrPool {
  std::set<void*> live;
  void* Kept(void* block) {
    if (block) live.insert(block);
    return block;
  }
  void* Alloc(u32 size) override { return Kept(CHeapPtrPool::Alloc(size)); }
  void* Realloc(void* block, u32 size) override {
    void* moved = CHeapPtrPool::Realloc(block, size);
    if (moved) live.erase(block);
    return moved ? Kept(moved) : nullptr;
  }
  void Free(void* block) override {
    live.erase(block);
    CHeapPtrPool::Free(block);
  }
  void ReleaseAll() {
    for (void* block : live) CHeapPtrPool::Free(block);
    live.clear();
  }
};

// The scripted platform and that pool in place of the real ones for the length of one run.
struct FakeRun {
  const PatcherPlatform saved = g_platform;
  CPtrPool* const savedPool = g_ptrPool;
  ExitReleasedPool pool;
  FakeRun(World& world, SimDisk& disk) {
    g_world = &world;
    g_disk = &disk;
    g_platform = kFakePlatform;
    g_ptrPool = &pool;
    world.boxes.clear();
    world.effects.clear();
  }
  ~FakeRun() {
    g_platform = saved;
    g_ptrPool = savedPool;
  }
};

// A Tarn stream that makes `fresh`, as a delta against `old` (none when empty).
std::string TarnStream(const std::string& old, const std::string& fresh) {
  const std::string all = old + fresh;
  TarnEncodeOptions options;
  options.windowLog = 16;
  u8* coded = nullptr;
  u32 size = 0;
  EXPECT_EQ(TarnEncode(reinterpret_cast<const u8*>(all.data()), static_cast<u32>(old.size()),
                       static_cast<u32>(fresh.size()), options, &coded, &size),
            nullptr);
  const std::string stream(coded, coded + size);
  g_ptrPool->Free(coded);
  return stream;
}

// The game path of a member ("Files/...", "CODED/..." names).
std::string GamePath(const std::string& member) {
  std::string path = kGame + member.substr(member.find('/') + 1);
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// Adds the member CODED\<name> ('/' between folders) that makes `fresh`, as a delta against
// `old`, which the game folder then holds (coded alone when empty).
void AddCoded(World& world, const std::string& name, const std::string& fresh,
              const std::string& old = "") {
  world.members["CODED/" + name] = TarnStream(old, fresh);
  world.decoded["Files/" + name] = fresh;
  if (!old.empty()) world.image[GamePath("CODED/" + name)] = {false, false, old};
}

// Every new file of the patch, its FILES members and what its coded members make.
PackMembers NewFiles(const World& world) {
  PackMembers files = world.decoded;
  for (const auto& [name, content] : world.members)
    if (name.compare(0, 6, "Files/") == 0) files[name] = content;
  return files;
}

}  // namespace

World DefaultWorld() {
  World world;
  for (const char* folder : {"C:", "C:\\Games", "C:\\Games\\Vorn", "C:\\Games\\Vorn\\packs",
                             "C:\\Patch", "C:\\Menu", "C:\\Menu\\Programs"}) {
    world.image[folder].folder = true;
  }
  world.image[kGame + "Vorn.exe"].bytes = "MZ";
  world.image[kGame + "README.TXT"] = {false, true, "old read-only text, longer than the new"};
  world.ini = kShippedIni;
  world.members = {{"Files/README.TXT", "read me\r\n"},
                   {"Files/EMPTY.DAT", ""},
                   {"Files/DATA/MAPS/ONE.MAP", std::string(70000, 'm')},
                   {"Files/DATA/UNITS.INI", "[units]\n"}};
  world.strings = {{"Path", "C:\\Games\\Vorn"}, {"Language", "English"}};
  world.dwords = {{"GameVersion", 0x10000}};
  return world;
}

std::string Container(const std::string& content) {
  MemoryFile base;
  EXPECT_EQ(CLzssFile::CreateContainer(&base, 32768, 0xA1), nullptr);
  {
    CLzssFile stream(&base, 0);
    stream.SetEncoder(LzssEncodeBlock);
    u32 done = 0;
    EXPECT_EQ(stream.Write(content.data(), static_cast<u32>(content.size()), &done), nullptr);
    EXPECT_EQ(stream.Flush(), nullptr);
  }
  return std::string(base.bytes.begin(), base.bytes.end());
}

std::vector<u8> WorldPack(const World& world) {
  PackMembers members = world.members;
  if (!world.ini.empty()) members["Patch.ini"] = world.ini;
  return BuildPack(members);
}

std::string PatchOfPack(const std::vector<u8>& pack, bool sealed) {
  // The image names the signature in its text, at an offset that is no multiple of the scan step.
  std::string image(20000, '\x90');
  std::memcpy(&image[4000], "LZSS", 4);
  std::string container = Container(std::string(pack.begin(), pack.end()));
  if (!sealed) return image + container;
  container[kSpareByteOffset] = static_cast<char>(kSealedSpare);
  u8 record[kSealSize];
  WriteSeal(record, {static_cast<u32>(container.size()),
                     Crc32Update(0, container.data(), container.size())});
  return image + std::string(record, record + kSealSize) + container;
}

void AddSolid(World& world, const std::string& group, const PackMembers& files, u32 crcFlip) {
  const auto le = [](u32 value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
  };
  std::string table = le(static_cast<u32>(files.size()), 4), bytes;
  for (const auto& [name, content] : files) {
    const std::string path = GamePath(name).substr(kGame.size());
    const u32 flip = name == files.rbegin()->first ? crcFlip : 0;
    table += le(static_cast<u32>(content.size()), 4) +
             le(Crc32Update(0, content.data(), content.size()) ^ flip, 4) +
             le(static_cast<u32>(path.size()), 2) + path;
    bytes += content;
    world.decoded[name] = content;
  }
  world.members["SOLID/" + group] = TarnStream("", table + bytes);
}

std::string Rules(bool fresh) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
  if (fresh) text.replace(1000, 3, "NEW").append("appended");
  return text;
}

void AddCodedMembers(World& w) {
  AddCoded(w, "RULES.DAT", Rules(true), Rules(false));
  AddCoded(w, "MOVIES/INTRO.VID", std::string(50000, 'v') + "end");
  AddSolid(w, "0001",
           {{"Files/NOTES.TXT", "notes"},
            {"Files/SOUNDS/EMPTY.WAV", ""},
            {"Files/SOUNDS/HIT.WAV", std::string(3000, 'h')}});
  w.image[kGame + "NOTES.TXT"].bytes = "old notes";
}

std::string OldTargets(const World& world, SimDisk::Image before, SimDisk::Image after,
                       bool afterStop, bool powerCut) {
  std::string old;
  for (const auto& [member, fresh] : NewFiles(world)) {
    const std::string path = GamePath(member);
    auto now = after.find(path), then = before.find(path);
    const bool present = now != after.end();
    const bool unflushed = powerCut && then == before.end();
    const bool isNew =
        present && now->second == SimDisk::Node({false, false, unflushed ? "" : fresh});
    const bool isOld = then == before.end()
                           ? !present
                           : present && (afterStop ? now->second.bytes == then->second.bytes
                                                   : now->second == then->second);
    EXPECT_TRUE(isNew || isOld) << path << (unflushed ? " was flushed" : " is torn");
    if (!isNew && !unflushed) old += path.substr(kGame.size()) + ",";
    after.erase(path);
    if (then != before.end()) after[path] = then->second;
    for (size_t cut = path.rfind('\\'); cut > kGame.size(); cut = path.rfind('\\', cut - 1)) {
      auto folder = after.find(path.substr(0, cut));  // made for the new file
      if (folder != after.end() && folder->second.folder && !before.count(folder->first))
        after.erase(folder);
    }
  }
  // The staging folder: after a stop anything in it may be left, else at most its folders.
  const std::string staging = kGame + kStagingFolder;
  for (auto it = after.lower_bound(staging); it != after.end() && !it->first.rfind(staging, 0);) {
    it = afterStop || it->second.folder ? after.erase(it) : std::next(it);
  }
  before.erase(kPatch);
  after.erase(kPatch);
  EXPECT_EQ(after, before) << "files other than the targets changed";
  return old;
}

int RunPatch(World& world, SimDisk& disk) {
  FakeRun run(world, disk);
  SimDisk::Image image = world.image;
  image[kPatch].bytes = world.patchBytes.empty() ? PatchOfPack(WorldPack(world)) : world.patchBytes;
  disk.Load(image);
  if (world.fault != SimDisk::Fault::kNone) disk.Arm(world.fault, world.faultAt, world.faultPath);
  const OsHandle held =
      world.heldOpen.empty()
          ? kInvalidOsHandle
          : g_diskOs.Open(world.heldOpen.c_str(), OS_ACCESS_READ, 0, OS_OPEN_EXISTING, 0);
  InstallPath[0] = '\0';
  CopyIncomplete = 0;
  int code;
  bool exited = false;
  try {
    code = RunPatcher(0x400000);
  } catch (const ProcessExit& exit) {
    code = exit.code;
    exited = true;
    ShutdownMountTable();  // what the process exit would have released
    delete OwnFile;
    OwnFile = nullptr;
  }
  delete PatchIni;
  PatchIni = nullptr;
  if (exited) run.pool.ReleaseAll();
  if (held != kInvalidOsHandle) g_diskOs.Close(held);
  return code;
}

int RunCopy(World& world, SimDisk& disk, CFile* pack) {
  const FakeRun run(world, disk);
  disk.Load(world.image);
  InitMountTable(8);
  g_platform.MountRootService();
  CPackFS* service = new CPackFS();
  if (!service->Mount(pack) && !MountService("DATA\\", service)) {
    std::strcpy(InstallPath, kGame.c_str());
    CopyIncomplete = 0;
    CopyPayload();
  } else {
    delete service;
  }
  g_platform.UnmountRootService();
  ShutdownMountTable();
  return CopyIncomplete;
}
