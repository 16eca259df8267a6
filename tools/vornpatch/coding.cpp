#include "coding.h"

#include <cstdio>
#include <cstring>

const char kCodingHelp[] =
    "  --method M          LZSS method byte, 0xA1..0xA5, 0xB1..0xB5 or 0xC1..0xC5 (default 0xC4):\n"
    "                      high digit = offset bits (10-12), low digit = length bits (1-5);\n"
    "                      auto = the method that codes samples of the input smallest\n"
    "  --fast              code with the quick binary-tree coder instead of the optimal parse\n"
    "                      (larger output)\n";

int ChooseCoding(const char* command, const Args& args, Coding* coding) {
  *coding = Coding();
  const char* text = args.Value("method");
  if (text && std::strcmp(text, "auto") == 0) {
    coding->autoMethod = true;
  } else if (text) {
    u32 value = 0;
    if (!ParseNumber(text, &value) || value > 0xFF || !LzssMethodValid(static_cast<u8>(value))) {
      return UsageError(command, std::string("invalid method '") + text +
                                     "': use 0xA1..0xA5, 0xB1..0xB5, 0xC1..0xC5 or auto");
    }
    coding->method = static_cast<u8>(value);
  }
  coding->encoder = args.Has("fast") ? LzssEncodeBlock : LzssEncodeBlockOptimal;
  return kExitOk;
}
