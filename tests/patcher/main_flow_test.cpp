// The main sequence end to end against the fake system: what the user sees, what changes, and
// the exit code of each way through.
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"

using TextList = std::vector<std::string>;

TEST_F(PatcherRun, CompleteRunCopiesTheTreeRecordsTheVersionAndSaysDone) {
  fake.disk->AddFile(std::string(kGame) + "README.TXT", "old text that is longer than the new");
  fake.disk->readOnly.insert(std::string(kGame) + "README.TXT");

  ASSERT_EQ(Run(), 0);
  const TextList expected = {
      "This will upgrade VORN to version 1.01A (English version only!).\nDo you want to continue?",
      "VORN was updated to version 1.01A successfuly!"};
  EXPECT_EQ(Texts(), expected);
  EXPECT_EQ(fake.messages[0].caption, "VORN Patch");
  EXPECT_EQ(fake.messages[0].type, 68u);
  EXPECT_EQ(fake.messages[1].type, 0u);

  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "README.TXT"), "read me\r\n");
  EXPECT_EQ(fake.disk->readOnly.count(std::string(kGame) + "README.TXT"), 0u);
  EXPECT_TRUE(fake.disk->HasFile(std::string(kGame) + "EMPTY.DAT"));
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "EMPTY.DAT"), "");
  EXPECT_TRUE(fake.disk->HasFolder(std::string(kGame) + "DATA\\MAPS"));
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "DATA\\MAPS\\ONE.MAP"),
            std::string("\0\1\2\3\377", 5));
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "DATA\\UNITS.INI"), "[units]\n");

  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10001u);
  EXPECT_TRUE(fake.mutexCreated);
  EXPECT_EQ(fake.windowTitle, "VORN Patch");
  EXPECT_EQ(fake.dialogText, "Updating VORN. Please, wait...");
  EXPECT_EQ(fake.dialogsEnded, 1);
  EXPECT_TRUE(fake.links.empty());
  EXPECT_TRUE(fake.started.empty());
}

TEST_F(PatcherRun, SilentEndsLeaveEverythingAsItWas) {
  // Answering No ends the run before the game-running test.
  fake.answers = {ANSWER_OK + 1};  // anything but Yes
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(fake.messages.size(), 1u);
  EXPECT_FALSE(fake.mutexCreated);
  EXPECT_TRUE(SystemUnchanged());

  // A payload without Patch.ini: no message at all.
  fake.messages.clear();
  fake.data->entries.erase("Patch.ini");
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_TRUE(SystemUnchanged());
}

TEST_F(PatcherRun, EachRefusalShowsItsTextAndEndsWithMinusOne) {
  struct Case {
    const char* name;
    void (*arrange)(FakeSystem&);
    const char* text;
  };
  const Case cases[] = {
      {"game running", [](FakeSystem& f) { f.gameRunning = true; },
       "You are running VORN. Please quit the game and restart the patch!"},
      {"no registry key", [](FakeSystem& f) { f.keyExists = false; }, "VORN is not installed!"},
      {"no Path value", [](FakeSystem& f) { f.regStrings.erase("Path"); },
       "VORN is not installed!"},
      {"no Vorn.exe", [](FakeSystem& f) { f.disk->entries.erase("C:\\Games\\Vorn\\Vorn.exe"); },
       "VORN is not installed!"},
      {"newer version", [](FakeSystem& f) { f.regDwords["GameVersion"] = 0x10002; },
       "You can't update your copy of VORN because you have a more recent version!"},
      {"registry language", [](FakeSystem& f) { f.regStrings["Language"] = "German"; },
       "This patch is for the english version of VORN only!"},
  };
  const FakeSystem pristine = fake;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake = pristine;
    fake.disk = std::make_shared<MemoryStorage>(*pristine.disk);
    c.arrange(fake);
    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].text, c.text);
    EXPECT_EQ(fake.messages[1].type, 16u);
    EXPECT_EQ(fake.messages[1].caption, "VORN Patch");
    EXPECT_TRUE(fake.disk->opened.empty());
    EXPECT_EQ(fake.dialogsEnded, 0);
    EXPECT_TRUE(fake.regDwords.count("GameVersion") == 0 ||
                fake.regDwords["GameVersion"] != 0x10001u);
  }
}

TEST_F(PatcherRun, VersionAndLanguageChecksPassWhereTheyShould) {
  // Equal version (a patch applied again), absent version, language in other letter case.
  fake.regDwords["GameVersion"] = 0x10001;
  fake.regStrings["Language"] = "eNGLISH";
  EXPECT_EQ(Run(), 0);
  fake.regDwords.erase("GameVersion");
  fake.regStrings.erase("Language");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10001u);
  // An empty "lang" skips the language test even when it would fail.
  WritePatchIni("lang=\n");
  fake.regStrings["Language"] = "German";
  EXPECT_EQ(Run(), 0);
}

// "vermin" and "errvermin" were carried but never used, so a patch was applied over any older
// version it was not made for.
TEST_F(PatcherRun, InstalledVersionBelowVerminIsRefused) {
  fake.regDwords["GameVersion"] = 0xFFFF;
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, "Your copy of VORN is too old for this patch!");
  EXPECT_TRUE(fake.disk->opened.empty());
  // Without "vermin" any older version is taken.
  fake.messages.clear();
  fake.regDwords["GameVersion"] = 0;
  fake.data->AddFile("Patch.ini", "[str]\nver=10001\ndone=ok\n");
  EXPECT_EQ(Run(), 0);
}

TEST_F(PatcherRun, StartQuestionNamesTheInstalledVersionWhenTheGameIsFound) {
  WritePatchIni("welcome2=Update version %d.%02d in %s?\n");
  fake.regStrings["Path"] = "C:\\Games\\Vorn\\";
  fake.disk->AddFile("C:\\Games\\Vorn\\vorn.exe", "MZ");
  fake.regDwords["GameVersion"] = 0x10000;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages[0].text, "Update version 1.00 in C:\\Games\\Vorn\\?");
  EXPECT_EQ(fake.messages[0].type, 68u);

  // Without a version value the question says 1.0; a Path without its backslash finds no
  // executable and the plain question is asked.
  fake.messages.clear();
  fake.regDwords.erase("GameVersion");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages[0].text, "Update version 1.00 in C:\\Games\\Vorn\\?");
  fake.messages.clear();
  fake.regStrings["Path"] = "C:\\Games\\Vorn";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages[0].text.substr(0, 30), "This will upgrade VORN to vers");
}

// "welcome2" comes from the payload and was used as a print format for three arguments: a %n
// wrote to memory, and extra conversions read what was never passed.
TEST_F(PatcherRun, StartQuestionFormatFromThePayloadCannotReachMemory) {
  fake.regStrings["Path"] = "C:\\Games\\Vorn\\";
  fake.disk->AddFile("C:\\Games\\Vorn\\vorn.exe", "MZ");
  for (const char* format :
       {"Bad %n here", "Four %d %d %s %s", "Text first %s %d %d", "Pointer %p", "Star %*d"}) {
    fake.messages.clear();
    WritePatchIni(std::string("welcome2=") + format + "\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake.messages[0].text, format);
  }
}

// The registry hands back a text that fills its buffer without a NUL; the folder was then read
// past its end, and a 255-character folder got its backslash written outside the buffer.
TEST_F(PatcherRun, OverlongRegistryPathIsRefusedAsNotInstalled) {
  for (size_t length : {255u, 256u}) {
    fake.messages.clear();
    fake.regStrings["Path"] = "C:\\" + std::string(length - 3, 'x');
    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].text, "VORN is not installed!");
  }
}

TEST_F(PatcherRun, MissingTextsGiveEmptyMessagesNotFailures) {
  fake.data->AddFile("Patch.ini", "[str]\nver=10001\n");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, "");
  EXPECT_EQ(fake.messages[1].caption, "");
}
