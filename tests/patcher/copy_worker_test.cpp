// The copy stage: failed files and the Abort/Retry/Ignore question, and member paths that try
// to leave the game folder.
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"

namespace {

const std::string kReadme = std::string(PatcherRun::kGame) + "README.TXT";

}  // namespace

TEST_F(PatcherRun, RetryAfterTheCauseIsGoneCopiesAndFinishes) {
  fake.disk->failOpens[kReadme] = 1;  // held open by another program, once
  fake.answers = {ANSWER_YES, ANSWER_RETRY};
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.messages.size(), 3u);
  EXPECT_EQ(fake.messages[1].text, "Error while trying to copy README.TXT");
  EXPECT_EQ(fake.messages[1].caption, "Error");
  EXPECT_EQ(fake.messages[1].type, 34u);
  EXPECT_EQ(fake.messages[2].text, "VORN was updated to version 1.01A successfuly!");
  EXPECT_EQ(fake.disk->Content(kReadme), "read me\r\n");
  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10001u);
}

TEST_F(PatcherRun, IgnoreCopiesTheRestAndSkipsTheFinalSteps) {
  const std::string map = std::string(kGame) + "DATA\\MAPS\\ONE.MAP";
  fake.disk->AddFile(map, "old map");
  fake.disk->readOnly.insert(map);
  fake.disk->failOpens[map] = 5;
  fake.answers = {ANSWER_YES, ANSWER_RETRY, ANSWER_IGNORE};
  WritePatchIni("pwt_shortcut=1\ngamespy=Install GameSpy?\n");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.messages.size(), 4u);
  // Named relative to the game folder, by subfolders and the member's own name.
  EXPECT_EQ(fake.messages[1].text, "Error while trying to copy DATA\\MAPS\\ONE.MAP");
  EXPECT_EQ(fake.messages[2].text, fake.messages[1].text);
  EXPECT_EQ(fake.messages[3].text, "VORN update was NOT completed successfuly!");
  EXPECT_EQ(fake.messages[3].type, 0u);
  EXPECT_EQ(fake.disk->Content(std::string(kGame) + "DATA\\UNITS.INI"), "[units]\n");
  EXPECT_EQ(fake.disk->Content(kReadme), "read me\r\n");
  // The file that could not be replaced is as it was, read-only included, without temporary.
  EXPECT_EQ(fake.disk->Content(map), "old map");
  EXPECT_EQ(fake.disk->readOnly.count(map), 1u);
  EXPECT_FALSE(fake.disk->HasFile(map + ".vp~"));
  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10000u);
  EXPECT_TRUE(fake.links.empty());
  EXPECT_TRUE(fake.started.empty());
}

TEST_F(PatcherRun, AbortEndsAtOnceKeepingWhatWasCopied) {
  // Members come in name order: DATA\..., EMPTY.DAT, README.TXT.
  fake.disk->failOpens[std::string(kGame) + "EMPTY.DAT"] = 1;
  fake.answers = {ANSWER_YES, ANSWER_ABORT};
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(fake.messages.size(), 3u);
  EXPECT_EQ(fake.messages[2].text, "VORN update was NOT completed successfuly!");
  EXPECT_EQ(fake.messages[2].type, 16u);
  EXPECT_TRUE(fake.disk->HasFile(std::string(kGame) + "DATA\\UNITS.INI"));
  EXPECT_FALSE(fake.disk->HasFile(kReadme));
  EXPECT_FALSE(fake.disk->HasFile(std::string(kGame) + "EMPTY.DAT.vp~")) << "temporary left";
  EXPECT_EQ(fake.dialogsEnded, 0);
  EXPECT_EQ(fake.regDwords["GameVersion"], 0x10000u);
}

// Member names come from the payload; a name with "..", a drive or a leading backslash wrote
// outside the game folder.
TEST_F(PatcherRun, MemberPathsCannotLeaveTheGameFolder) {
  fake.data->AddFile("Files\\..\\..\\EVIL.TXT", "x");
  fake.data->AddFile("Files\\.\\DOT.TXT", "x");
  fake.data->AddFile("Files\\C:EVIL.TXT", "x");
  fake.data->AddFile("Files\\SUB\\..\\..\\UP.TXT", "x");
  fake.answers = {ANSWER_YES};
  for (int i = 0; i < 8; ++i) fake.answers.push_back(ANSWER_IGNORE);
  EXPECT_EQ(Run(), 0);
  int refused = 0;
  for (const ShownMessage& message : fake.messages) {
    if (message.caption == "Error") ++refused;
  }
  EXPECT_EQ(refused, 4);
  EXPECT_EQ(fake.messages.back().text, "VORN update was NOT completed successfuly!");
  for (const auto& [path, entry] : fake.disk->entries) {
    const bool inside = path.compare(0, 14, kGame) == 0 || path == "C:\\Games\\Vorn";
    const bool before = path == "C:" || path == "C:\\Games" || path == "C:\\Patch" ||
                        path == "C:\\Patch\\patch.exe";
    EXPECT_TRUE(inside || before) << path;
    EXPECT_EQ(path.find(".."), std::string::npos) << path;
  }
  for (const std::string& path : fake.disk->opened) {
    EXPECT_EQ(path.find("EVIL"), std::string::npos);
    EXPECT_EQ(path.find("DOT"), std::string::npos);
  }
}

TEST(MemberPath, AcceptsOnlyPlainRelativePaths) {
  for (const char* good : {"A.TXT", "SUB\\A.TXT", "..A", "A..", "X\\.HIDDEN"}) {
    EXPECT_TRUE(IsSafeMemberPath(good)) << good;
  }
  for (const char* bad : {"", "\\A", "/A", "..", ".", "A\\..\\..\\B", "A\\.\\B", "C:A", "A\\\\B",
                          "A\\", "../A", "A/../B"}) {
    EXPECT_FALSE(IsSafeMemberPath(bad)) << bad;
  }
}

// Target paths of 256 characters or more did not fit their buffer.
TEST_F(PatcherRun, OverlongTargetPathIsAFailedCopy) {
  fake.data->AddFile("Files\\" + std::string(250, 'L') + ".TXT", "x");
  fake.answers = {ANSWER_YES, ANSWER_IGNORE};
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(fake.messages.size(), 3u);
  EXPECT_EQ(fake.messages[1].caption, "Error");
  EXPECT_EQ(fake.messages[1].text.size(), 255u);
  for (const auto& [path, entry] : fake.disk->entries) EXPECT_LT(path.size(), 256u);
}
