#include "archive/file_window.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_file.h"

namespace {
std::string Digits(u32 n) {
  std::string s;
  for (u32 i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
  return s;
}
}  // namespace

TEST(FileWindow, PositionsAreShiftedByTheOffset) {
  MemoryFile inner(Digits(40));
  CFileWindow window(&inner, 12, 20, 0);
  EXPECT_EQ(inner.position, 12u);
  EXPECT_EQ(window.GetPosition(), 0u);
  EXPECT_EQ(window.GetSize(), 20u);
  EXPECT_EQ(window.isOpen, 0u);

  char buffer[5] = {};
  u32 done = 0;
  ASSERT_EQ(window.ReadAt(buffer, 0, 4, &done), nullptr);
  EXPECT_EQ(std::string(buffer, 4), "2345");
  EXPECT_EQ(done, 4u);
  ASSERT_EQ(window.WriteAt("ab", 3, 2, &done), nullptr);
  EXPECT_EQ(inner.bytes[15], 'a');
  EXPECT_EQ(inner.bytes[16], 'b');
  // Sequential access continues at the inner file's position.
  ASSERT_EQ(window.Read(buffer, 2, nullptr), nullptr);
  EXPECT_EQ(std::string(buffer, 2), "78");
  ASSERT_EQ(window.Write("Z", 1, nullptr), nullptr);
  EXPECT_EQ(inner.bytes[19], 'Z');
}

TEST(FileWindow, SeekFromTheEndCountsBackwards) {
  MemoryFile inner(Digits(100));
  CFileWindow window(&inner, 30, 50, 0);
  ASSERT_EQ(window.Seek(0, SEEK_FROM_END), nullptr);
  EXPECT_EQ(inner.position, 80u);
  ASSERT_EQ(window.Seek(4, SEEK_FROM_END), nullptr);
  EXPECT_EQ(inner.position, 76u);
  EXPECT_EQ(window.GetPosition(), 46u);
  ASSERT_EQ(window.Seek(5, SEEK_FROM_CURRENT), nullptr);
  EXPECT_EQ(inner.position, 81u);
  ASSERT_EQ(window.Seek(7, SEEK_FROM_START), nullptr);
  EXPECT_EQ(inner.position, 37u);
  ASSERT_EQ(window.Seek(9, 3), nullptr);
  EXPECT_EQ(inner.position, 37u);
  // The inner file's errors pass through unchanged.
  EXPECT_EQ(window.Seek(-31, SEEK_FROM_START), ERR_SEEKFAIL);
}

TEST(FileWindow, ToTheEndAndNoClipping) {
  MemoryFile inner(Digits(64));
  CFileWindow window(&inner, 10, CFileWindow::kToEnd, 0);
  EXPECT_EQ(window.GetSize(), 54u);

  CFileWindow narrow(&inner, 10, 4, 0);
  char buffer[8];
  u32 done = 0;
  ASSERT_EQ(narrow.ReadAt(buffer, 2, 8, &done), nullptr);
  EXPECT_EQ(std::string(buffer, 8), "23456789");
  // The inner file's end is the only limit.
  EXPECT_EQ(narrow.ReadAt(buffer, 50, 8, &done), ERR_EOF);
  EXPECT_EQ(done, 4u);
}

TEST(FileWindow, MoveDataWorksInInnerPositions) {
  MemoryFile inner(Digits(30));
  CFileWindow window(&inner, 10, CFileWindow::kToEnd, 0);
  ASSERT_EQ(window.MoveData(2, 0, 0x7FFFFFFF, 3, nullptr), nullptr);
  EXPECT_EQ(std::string(inner.bytes.begin(), inner.bytes.end()),
            "01234567890101234567890123456789");
  EXPECT_EQ(window.Flush(), nullptr);
  EXPECT_EQ(window.Truncate(), nullptr);
  EXPECT_EQ(inner.bytes.size(), 32u);
}

TEST(FileWindow, DestroysTheInnerFileOnlyWhenOwning) {
  bool destroyed = false;
  auto* inner = new MemoryFile(Digits(8));
  inner->destroyedFlag = &destroyed;
  delete new CFileWindow(inner, 2, 4, 0);
  EXPECT_FALSE(destroyed);
  delete new CFileWindow(inner, 2, 4, 1);
  EXPECT_TRUE(destroyed);
}
