#include "archive/file_window.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_file.h"

// Positions are shifted by the window's offset; the inner file's end is the only limit, and its
// errors pass through unchanged.
TEST(FileWindow, PositionsAreShiftedByTheOffsetAndNothingIsClipped) {
  std::string digits;
  for (u32 i = 0; i < 100; ++i) digits += static_cast<char>('0' + i % 10);
  MemoryFile inner(digits);
  CFileWindow window(&inner, 30, 50, 0);
  EXPECT_EQ(inner.position, 30u);
  EXPECT_EQ(window.GetSize(), 50u);
  EXPECT_EQ(CFileWindow(&inner, 10, CFileWindow::kToEnd, 0).GetSize(), 90u);
  const struct {
    i32 offset;
    u16 origin;
    u32 inner;
  } seeks[] = {{0, SEEK_FROM_END, 80},
               {4, SEEK_FROM_END, 76},
               {5, SEEK_FROM_CURRENT, 81},
               {7, SEEK_FROM_START, 37},
               {9, 3, 37}};
  for (const auto& seek : seeks) {
    ASSERT_EQ(window.Seek(seek.offset, seek.origin), nullptr);
    EXPECT_EQ(inner.position, seek.inner) << seek.offset;
    EXPECT_EQ(window.GetPosition(), seek.inner - 30) << seek.offset;
  }
  EXPECT_EQ(window.Seek(-31, SEEK_FROM_START), ERR_SEEKFAIL);
  char buffer[8];
  u32 done = 0;
  ASSERT_EQ(window.ReadAt(buffer, 48, 8, &done), nullptr);  // past the window's size
  EXPECT_EQ(std::string(buffer, 8), "89012345");
  EXPECT_EQ(window.ReadAt(buffer, 66, 8, &done), ERR_EOF);
  EXPECT_EQ(done, 4u);
  ASSERT_EQ(window.WriteAt("ab", 3, 2, &done), nullptr);
  EXPECT_EQ(inner.bytes[33], 'a');
  ASSERT_EQ(window.Read(buffer, 2, nullptr), nullptr);  // sequential access continues
  EXPECT_EQ(std::string(buffer, 2), "56");
  ASSERT_EQ(window.Write("Z", 1, nullptr), nullptr);
  EXPECT_EQ(inner.bytes[37], 'Z');
  ASSERT_EQ(window.MoveData(2, 0, 0x7FFFFFFF, 3, nullptr), nullptr);  // in inner positions
  EXPECT_EQ(std::string(inner.bytes.begin() + 30, inner.bytes.begin() + 42), "01012ab56Z89");
  EXPECT_EQ(inner.bytes.size(), 102u);
}
