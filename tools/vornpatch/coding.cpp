#include "coding.h"

#include <cstdio>

const char kCodingHelp[] =
    "  --method M          LZSS method byte, 0xA1..0xA5, 0xB1..0xB5 or 0xC1..0xC5 (default 0xC4):\n"
    "                      high digit = offset bits (10-12), low digit = length bits (1-5)\n";

int ChooseCoding(const char* command, const Args& args, Coding* coding) {
  *coding = Coding();
  if (const char* text = args.Value("method")) {
    u32 value = 0;
    if (!ParseNumber(text, &value) || value > 0xFF || !LzssMethodValid(static_cast<u8>(value))) {
      return UsageError(command, std::string("invalid method '") + text +
                                     "': use 0xA1..0xA5, 0xB1..0xB5 or 0xC1..0xC5");
    }
    coding->method = static_cast<u8>(value);
  }
  coding->encoder = LzssEncodeBlock;
  return kExitOk;
}
