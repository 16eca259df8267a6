// Runs with a real payload (a pack inside an LZSS container behind the image): the game's
// localisation pack in its plain, LZSS-wrapped and HPFS forms. The copy from a real payload is
// walked in crash_walk_test.cpp.
#include <utility>
#include <vector>

#include "archive/hpfs.h"
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"
#include "support/hpfs_store.h"
#include "support/memory_file.h"
#include "support/pack_builder.h"

namespace {

std::string PackBytes(const PackMembers& members) {
  const std::vector<u8> pack = BuildPack(members);
  return std::string(pack.begin(), pack.end());
}

// The game pack as an HPFS block file with the two INI members under LOCAL.
std::string HpfsBytes(const std::string& strings3, const std::string& strings) {
  MemoryFile* file = nullptr;
  std::unique_ptr<CBFHP> pool = AttachHpfs(EmptyHpfsBytes(512, 16, 4096), &file);
  CHPFS* files = new CHPFS(pool.release());
  EXPECT_EQ(files->CreateDir("", "LOCAL"), nullptr);
  for (const auto& [name, text] : {std::make_pair("LOCAL\\strings3.ini", strings3),
                                   std::make_pair("LOCAL\\strings.ini", strings)}) {
    ErrorCode error = nullptr;
    CFile* member = files->Open(name, OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
    EXPECT_NE(member, nullptr) << ErrorText(error);
    if (!member) continue;
    u32 done = 0;
    EXPECT_EQ(member->Write(text.data(), static_cast<u32>(text.size()), &done), nullptr);
    delete member;
  }
  EXPECT_EQ(files->Pool()->Flush(), nullptr);
  std::string bytes(file->bytes.begin(), file->bytes.end());
  delete files;
  return bytes;
}

class RealPayload : public PatcherRun {
 protected:
  RealPayload() {
    const std::string ini = fake.data->Content("Patch.ini");
    fake.data = nullptr;
    fake.disk->AddFile("C:\\Patch\\patch.exe",
                       PatchFile({{"Patch.ini", ini},
                                  {"Files/ReadMe.txt", "read me\r\n"},
                                  {"Files/Data/Maps/One.map", std::string(70000, 'm')},
                                  {"Files/Data/Empty.dat", ""}}));
  }
};

}  // namespace

TEST_F(RealPayload, GameLanguageIsReadFromThePackInEitherForm) {
  const std::string wdt = std::string(kGame) + "packs\\local.wdt";
  struct Case {
    const char* language;
    const char* peon;
    bool wrapped;
    int exitCode;
  };
  for (const Case& c : {Case{"English", "peasant", false, 0}, Case{"english", "PEASANT", true, 0},
                        Case{"German", "peasant", false, -1}, Case{"English", "Bauer", true, -1},
                        Case{"German", "peasant", true, -1}}) {
    SCOPED_TRACE(std::string(c.language) + " " + c.peon + (c.wrapped ? " wrapped" : " plain"));
    const std::string pack =
        PackBytes({{"LOCAL/strings3.ini", std::string("[system]\nlanguage=") + c.language + "\n"},
                   {"LOCAL/strings.ini", std::string("[objects]\npeon=") + c.peon + "\n"}});
    fake.disk->AddFile(wdt, c.wrapped ? Container(pack) : pack);
    fake.messages.clear();
    EXPECT_EQ(Run(), c.exitCode);
    if (c.exitCode) {
      EXPECT_EQ(fake.messages.back().text, "This patch is for the english version of VORN only!");
    }
  }
  // An HPFS block file is read as a store.
  fake.disk->AddFile(wdt, HpfsBytes("[system]\nlanguage=English\n", "[objects]\npeon=Peasant\n"));
  EXPECT_EQ(Run(), 0);
  fake.disk->AddFile(wdt, HpfsBytes("[system]\nlanguage=French\n", "[objects]\npeon=Peasant\n"));
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(fake.messages.back().text, "This patch is for the english version of VORN only!");
  // A pack of neither kind passes the language tests.
  fake.disk->AddFile(wdt, "neither a pack nor a store");
  EXPECT_EQ(Run(), 0);
}
