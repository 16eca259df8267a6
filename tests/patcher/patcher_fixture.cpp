#include "patcher_fixture.h"

#include <cstring>

#include "archive/ini_table.h"
#include "archive/lzss_file.h"
#include "file/file_service.h"
#include "patcher/patcher_state.h"
#include "support/memory_file.h"

namespace {

const char kShippedTexts[] =
    "[str]\n"
    "title=VORN Patch\n"
    "welcome=This will upgrade VORN to version 1.01A (English version only!).|Do you want to "
    "continue?\n"
    "vornrun=You are running VORN. Please quit the game and restart the patch!\n"
    "notvorn=VORN is not installed!\n"
    "ver=10001\n"
    "vermin=10000\n"
    "errvermin=Your copy of VORN is too old for this patch!\n"
    "noneed=You can't update your copy of VORN because you have a more recent version!\n"
    "lang=English\n"
    "wronglang=This patch is for the english version of VORN only!\n"
    "copy=Updating VORN. Please, wait...\n"
    "errcopy=Error while trying to copy %s\n"
    "errnotcomplete=VORN update was NOT completed successfuly!\n"
    "done=VORN was updated to version 1.01A successfuly!\n";

}  // namespace

std::string Container(const std::string& content) {
  MemoryFile base;
  EXPECT_EQ(CLzssFile::CreateContainer(&base, 32768, 0xA1), nullptr);
  {
    CLzssFile stream(&base, 0);
    EXPECT_TRUE(stream.isOpen);
    u32 done = 0;
    EXPECT_EQ(stream.Write(content.data(), static_cast<u32>(content.size()), &done), nullptr);
    EXPECT_EQ(stream.Flush(), nullptr);
  }
  return std::string(base.bytes.begin(), base.bytes.end());
}

std::string PatchFile(const PackMembers& members) {
  std::string image(20000, '\x90');
  std::memcpy(&image[4000], "LZSS", 4);
  const std::vector<u8> pack = BuildPack(members);
  return image + Container(std::string(pack.begin(), pack.end()));
}

PatcherRun::PatcherRun() {
  fake.data = std::make_shared<MemoryStorage>();
  WritePatchIni();
  fake.data->AddFile("Files\\README.TXT", "read me\r\n");
  fake.data->AddFile("Files\\EMPTY.DAT", "");
  fake.data->AddFile("Files\\DATA\\MAPS\\ONE.MAP", std::string("\0\1\2\3\377", 5));
  fake.data->AddFile("Files\\DATA\\UNITS.INI", "[units]\n");

  fake.disk->AddFile(std::string(kGame) + "Vorn.exe", "MZ");
  // An image that names the signature in its text, then a container header over no pack.
  std::string own = "MZ image LZSS text";
  own += std::string("LZSS\0\0\0\0\0\x80\0\0", 12) + "not a pack";
  fake.disk->AddFile("C:\\Patch\\patch.exe", own);
  fake.commandLine = "\"C:\\Patch\\patch.exe\" ";
  fake.moduleName = "C:\\Patch\\patch.exe";
  fake.regStrings["Path"] = "C:\\Games\\Vorn";
  fake.regStrings["Language"] = "English";
  fake.regDwords["GameVersion"] = 0x10000;
}

PatcherRun::~PatcherRun() { EXPECT_EQ(fake.openKeys, 0) << "registry keys left open"; }

void PatcherRun::WritePatchIni(const std::string& extra) {
  fake.data->AddFile("Patch.ini", kShippedTexts + extra);
}

int PatcherRun::Run() {
  Instance = 0;
  InstallPath[0] = '\0';
  CopyIncomplete = 0;
  ProgressWindow = 0;
  ShortcutsMade = 0;
  int code;
  try {
    code = RunPatcher(0x400000);
  } catch (const ProcessExit& exit) {
    code = exit.code;
    ShutdownMountTable();  // what the process exit would have released
    delete OwnFile;
    OwnFile = nullptr;
  }
  delete PatchIni;
  PatchIni = nullptr;
  EXPECT_EQ(fake.disk->openFiles, 0) << "files left open";
  if (fake.data) {
    EXPECT_EQ(fake.data->openFiles, 0) << "payload files left open";
  }
  return code;
}

std::vector<std::string> PatcherRun::Texts() const {
  std::vector<std::string> texts;
  for (const ShownMessage& message : fake.messages) texts.push_back(message.text);
  return texts;
}

bool PatcherRun::SystemUnchanged() const {
  return fake.disk->opened.empty() && fake.regDwords.at("GameVersion") == 0x10000 &&
         fake.links.empty() && fake.started.empty();
}
