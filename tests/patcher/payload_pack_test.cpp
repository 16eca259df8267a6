// Runs with a real payload: a pack inside an LZSS container behind the image, and the game's
// localisation pack in its plain and LZSS-wrapped forms.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "archive/hpfs.h"
#include "archive/lzss_file.h"
#include "archive/pack_writer.h"
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"
#include "support/hpfs_store.h"
#include "support/memory_file.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

std::string PackBytes(Members members) {
  for (auto& member : members) PackNormalizeName(&member.first[0]);
  std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
    return PackCompareNames(a.first.c_str(), b.first.c_str()) < 0;
  });
  std::vector<const char*> names;
  std::vector<u32> sizes;
  for (const auto& member : members) {
    names.push_back(member.first.c_str());
    sizes.push_back(static_cast<u32>(member.second.size()));
  }
  MemoryFile pack;
  CPackWriter writer(&pack);
  EXPECT_EQ(writer.Begin(static_cast<u32>(names.size()), names.data(), sizes.data()), nullptr);
  for (const auto& member : members) {
    EXPECT_EQ(writer.Write(member.second.data(), static_cast<u32>(member.second.size())), nullptr);
  }
  EXPECT_EQ(writer.Finish(), nullptr);
  return std::string(pack.bytes.begin(), pack.bytes.end());
}

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
    // An image of 20000 bytes that holds the letters of the signature, then the payload at an
    // offset that is no multiple of the scan step.
    std::string image(20000, '\x90');
    std::memcpy(&image[4000], "LZSS", 4);
    const Members members = {{"Patch.ini", ini},
                             {"Files/ReadMe.txt", "read me\r\n"},
                             {"Files/Data/Maps/One.map", std::string(70000, 'm')},
                             {"Files/Data/Empty.dat", ""}};
    fake.disk->AddFile("C:\\Patch\\patch.exe", image + Container(PackBytes(members)));
  }
};

}  // namespace

TEST_F(RealPayload, CopiesThePackTreeIntoTheGameFolder) {
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages.back().text, "VORN was updated to version 1.01A successfuly!");
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "README.TXT"), "read me\r\n");
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "DATA\\MAPS\\ONE.MAP"),
            std::string(70000, 'm'));
  EXPECT_TRUE(fake.disk->HasFile(std::string(kGame) + "DATA\\EMPTY.DAT"));
  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10001u);
}

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
