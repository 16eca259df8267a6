// The steps after a complete copy: the client shortcut in the programs menu and the installer.
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"

namespace {

const char kMenu[] = "C:\\Menu\\Programs";

}  // namespace

TEST_F(PatcherRun, ShortcutGoesIntoEveryVornFolderOfTheMenu) {
  WritePatchIni("pwt_shortcut=1\npwt_name=Vorn Network\n");
  fake.menuFolders = {std::string(kMenu) + "\\Games", std::string(kMenu) + "\\Games\\VORN",
                      std::string(kMenu) + "\\vorn", std::string(kMenu) + "\\vorn\\Vorn",
                      std::string(kMenu) + "\\Other"};
  fake.menuFiles = {std::string(kMenu) + "\\Other\\vorn"};
  EXPECT_EQ(Run(), 0);
  std::set<std::string> paths;
  for (const MadeLink& link : fake.links) paths.insert(link.path);
  const std::set<std::string> expected = {std::string(kMenu) + "\\Games\\VORN\\Vorn Network.lnk",
                                          std::string(kMenu) + "\\vorn\\Vorn Network.lnk",
                                          std::string(kMenu) + "\\vorn\\Vorn\\Vorn Network.lnk"};
  EXPECT_EQ(paths, expected);
  ASSERT_FALSE(fake.links.empty());
  EXPECT_EQ(fake.links[0].target, "C:\\Games\\Vorn\\pwt\\pwtclient.exe");
  EXPECT_EQ(fake.links[0].icon, fake.links[0].target);
  EXPECT_EQ(fake.links[0].workingFolder, "C:\\Games\\Vorn\\pwt");
  EXPECT_EQ(fake.links[0].description, "Vorn Network");
}

TEST_F(PatcherRun, ShortcutFallsBackToTheProgramsFolder) {
  // No "vorn" folder (a file of that name does not count).
  WritePatchIni("pwt_shortcut=1\npwt_name=Client\n");
  fake.menuFolders = {std::string(kMenu) + "\\Games"};
  fake.menuFiles = {std::string(kMenu) + "\\Games\\Vorn"};
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.links.size(), 1u);
  EXPECT_EQ(fake.links[0].path, std::string(kMenu) + "\\Client.lnk");

  // Any other way of asking, or none, makes no shortcut.
  for (const char* value : {"01", "yes", " 1x", ""}) {
    fake.links.clear();
    WritePatchIni(std::string("pwt_shortcut=") + value + "\npwt_name=Client\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fake.links.empty()) << value;
  }
}

// "pwt_name" comes from the payload and became part of a path: "..\" or a separator placed the
// shortcut file anywhere on the disk.
TEST_F(PatcherRun, ShortcutNameCannotLeaveItsFolder) {
  for (const char* name : {"..\\..\\Startup\\evil", "sub\\name", "C:evil", "..", "a/b"}) {
    fake.links.clear();
    WritePatchIni(std::string("pwt_shortcut=1\npwt_name=") + name + "\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fake.links.empty()) << name;
  }
}

TEST_F(PatcherRun, InstallerIsOfferedOnlyWhenAskedAndStartedQuoted) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages.size(), 2u);  // no question without "gamespy"

  WritePatchIni("gamespy=Install GameSpy Arcade?\n");
  fake.messages.clear();
  fake.answers = {ANSWER_YES, ANSWER_OK + 6};  // No
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.messages.size(), 3u);
  EXPECT_EQ(fake.messages[1].type, 4u);
  EXPECT_TRUE(fake.started.empty());
  EXPECT_EQ(fake.messages[2].text, "VORN was updated to version 1.01A successfuly!");

  // A game folder with blanks: the command names the installer and nothing else.
  fake.regStrings["Path"] = "C:\\Program Files\\Vorn";
  fake.disk->AddFile("C:\\Program Files\\Vorn\\Vorn.exe", "MZ");
  fake.answers.clear();
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.started.size(), 1u);
  EXPECT_EQ(fake.started[0],
            "\"C:\\Program Files\\Vorn\\GameSpy Arcade\\ArcadeInstallFull101b.EXE\"");
}
