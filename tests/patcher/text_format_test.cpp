// Message texts: the checked formatting of payload formats and the version numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
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

// Against the C library's reading in base 16, clamped to a 32-bit long as the game's runtime
// has it, over every string of up to five pieces that reach the clamps, signs and prefixes.
TEST(VersionText, ReadsHexadecimalLikeStrtol) {
  const char* const pieces[] = {"", " ", "+", "-", "0x", "0", "fF", "A", "z", "123456789"};
  for (u32 n = 0; n < 100000; ++n) {
    std::string text;
    for (u32 rest = n; rest; rest /= 10) text += pieces[rest % 10];
    const long long read = std::strtoll(text.c_str(), nullptr, 16);
    const long long model = std::min<long long>(std::max<long long>(read, INT32_MIN), INT32_MAX);
    ASSERT_EQ(ParseVersionText(text.c_str()), static_cast<u32>(model)) << text;
  }
}
