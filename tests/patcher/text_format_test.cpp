// Message texts: the checked formatting of payload formats and the version numbers.
#include <gtest/gtest.h>

#include <string>

#include "patcher/patch_text_format.h"
#include "patcher/patcher_state.h"

TEST(PatchTextFormat, RendersWhatFitsTheArgumentsAndShowsTheRestAsItStands) {
  const FormatArgument args[3] = {{nullptr, 1}, {nullptr, 5}, {"C:\\Games\\Vorn\\", 0}};
  const struct {
    const char* format;
    u32 size;
    std::string expected;
  } rows[] = {
      {"v%d.%02d at %s", 256, "v1.05 at C:\\Games\\Vorn\\"},
      {"100%% [%-3d|%+3i] %.4s", 256, "100% [1  | +5] C:\\G"},
      {"%#x %X %s", 256, "0x1 5 C:\\Games\\Vorn\\"},
      {"%#o %lu", 256, "01 5"},
      {"only %d", 256, "only 1"},
      {"%d%d[%18s]", 256, "15[    C:\\Games\\Vorn\\]"},
      {"%d%d[%-16s]", 256, "15[C:\\Games\\Vorn\\  ]"},
      // Staying inside the buffer.
      {"%d%d%s and more", 8, "15C:\\Ga"},
      {"%300d", 256, std::string(255, ' ')},
      {"%n too long", 4, "%n "},
      {"%s", 1, ""},
  };
  for (const auto& row : rows) {
    std::string out(row.size, '#');
    FormatPatchText(&out[0], row.size, row.format, args, 3);
    EXPECT_EQ(out.c_str(), row.expected) << row.format;
  }
  for (const char* format : {"%n", "%d %d %s %s", "%s", "%d %s", "%p", "%*d", "%1$d", "%c", "%f",
                             "%d %d %d", "trailing %", "%99999d", "%lld", "%hd"}) {
    char out[64];
    FormatPatchText(out, sizeof out, format, args, 3);
    EXPECT_STREQ(out, format);
  }
  const FormatArgument negative[1] = {{nullptr, -42}};
  char out[16];
  EXPECT_FALSE(FormatPatchText(out, sizeof out, "%05d|%x", negative, 1));
  EXPECT_TRUE(FormatPatchText(out, sizeof out, "%05d", negative, 1));
  EXPECT_STREQ(out, "-0042");
}

TEST(VersionText, ReadsHexadecimalLikeStrtol) {
  const std::pair<const char*, u32> rows[] = {{"10001", 0x10001u},
                                              {"  0x1A2b", 0x1A2Bu},
                                              {"+ff zz", 0xFFu},
                                              {"-1", 0xFFFFFFFFu},
                                              {"", 0u},
                                              {"0x", 0u},
                                              {"xyz", 0u},
                                              {"FFFFFFFF", 0x7FFFFFFFu},
                                              {"123456789abcdef", 0x7FFFFFFFu},
                                              {"-123456789abcdef", 0x80000000u}};
  for (const auto& [text, value] : rows) EXPECT_EQ(ParseVersionText(text), value) << text;
}
