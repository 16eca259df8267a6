// Message texts: the checked formatting of payload formats, the version numbers, and "|".
#include <gtest/gtest.h>

#include <string>

#include "patcher/patch_text_format.h"
#include "patcher/patcher_state.h"

namespace {

std::string Format(const char* format, u32 size = 256) {
  const FormatArgument args[3] = {{nullptr, 1}, {nullptr, 5}, {"C:\\Games\\Vorn\\", 0}};
  std::string out(size, '#');
  FormatPatchText(&out[0], size, format, args, 3);
  return out.c_str();
}

}  // namespace

TEST(PatchTextFormat, RendersConversionsThatFitTheArguments) {
  EXPECT_EQ(Format("v%d.%02d at %s"), "v1.05 at C:\\Games\\Vorn\\");
  EXPECT_EQ(Format("100%% [%-3d|%+3i] %.4s"), "100% [1  | +5] C:\\G");
  EXPECT_EQ(Format("%#x %X %s"), "0x1 5 C:\\Games\\Vorn\\");
  EXPECT_EQ(Format("%#o %lu"), "01 5");
  EXPECT_EQ(Format("only %d"), "only 1");
  EXPECT_EQ(Format("%d%d[%18s]"), "15[    C:\\Games\\Vorn\\]");
  EXPECT_EQ(Format("%d%d[%-16s]"), "15[C:\\Games\\Vorn\\  ]");
  const FormatArgument negative[1] = {{nullptr, -42}};
  char out[16];
  EXPECT_TRUE(FormatPatchText(out, sizeof out, "%05d|%x", negative, 1) == false);
  EXPECT_TRUE(FormatPatchText(out, sizeof out, "%05d", negative, 1));
  EXPECT_STREQ(out, "-0042");
}

TEST(PatchTextFormat, ShowsFormatsThatDoNotFitAsTheyStand) {
  for (const char* format : {"%n", "%d %d %s %s", "%s", "%d %s", "%p", "%*d", "%1$d", "%c", "%f",
                             "%d %d %d", "trailing %", "%99999d", "%lld", "%hd"}) {
    EXPECT_EQ(Format(format), format);
  }
}

TEST(PatchTextFormat, StaysInsideItsBuffer) {
  EXPECT_EQ(Format("%d%d%s and more", 8), "15C:\\Ga");
  EXPECT_EQ(Format("%300d", 256), std::string(255, ' '));
  EXPECT_EQ(Format("%n too long", 4), "%n ");
  EXPECT_EQ(Format("%s", 1), "");
}

TEST(VersionText, ReadsHexadecimalLikeStrtol) {
  EXPECT_EQ(ParseVersionText("10001"), 0x10001u);
  EXPECT_EQ(ParseVersionText("  0x1A2b"), 0x1A2Bu);
  EXPECT_EQ(ParseVersionText("+ff zz"), 0xFFu);
  EXPECT_EQ(ParseVersionText("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseVersionText(""), 0u);
  EXPECT_EQ(ParseVersionText("0x"), 0u);
  EXPECT_EQ(ParseVersionText("xyz"), 0u);
  EXPECT_EQ(ParseVersionText("FFFFFFFF"), 0x7FFFFFFFu);
  EXPECT_EQ(ParseVersionText("123456789abcdef"), 0x7FFFFFFFu);
  EXPECT_EQ(ParseVersionText("-123456789abcdef"), 0x80000000u);
}
