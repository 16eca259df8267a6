// Finding the own file and the payload in it.
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"

TEST_F(PatcherRun, OwnFileWithoutPayloadIsReportedBroken) {
  fake.disk->AddFile("C:\\Patch\\patch.exe", "MZ an image and LZSS but no container");
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Patch file is broken!");
  EXPECT_EQ(fake.messages[0].caption, "VORN Patch");
  EXPECT_EQ(fake.messages[0].type, 0u);
}

// The own path was cut at the last double quote of the whole command line, so an argument in
// quotes made the patcher open a file that does not exist (or another one).
TEST_F(PatcherRun, OwnPathIsTheFirstQuotedToken) {
  fake.disk->AddFile("C:\\Patch\\other.exe", "MZ no payload");
  fake.commandLine = "\"C:\\Patch\\patch.exe\" \"C:\\Patch\\other.exe\"";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.messages.back().text, "VORN was updated to version 1.01A successfuly!");
}

TEST_F(PatcherRun, OwnPathFallsBackToTheModuleFileName) {
  for (const char* line : {"C:\\Patch\\patch.exe", "", "\"unterminated"}) {
    fake.messages.clear();
    fake.commandLine = line;
    EXPECT_EQ(Run(), 0) << line;
    EXPECT_EQ(fake.messages.back().text, "VORN was updated to version 1.01A successfuly!");
  }
  // A module name that does not fit: no own file, nothing mounted from it; the payload service
  // of the fake still answers, so the run goes on.
  fake.moduleName = std::string(300, 'm');
  fake.commandLine = "";
  fake.messages.clear();
  EXPECT_EQ(Run(), 0);
}
