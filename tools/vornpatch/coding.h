// How containers are coded: the method byte and the block coder. This is the one place where
// the coder is chosen, so that faster or better coders can be offered as options here.
#pragma once

#include "archive/lzss_codec.h"
#include "commands.h"

struct Coding {
  u8 method = 0xC4;
  LzssBlockEncoder encoder = LzssEncodeBlock;
};

// The options every command that writes containers accepts (--method).
extern const char kCodingHelp[];

// Reads --method from args; reports a usage error (returning kExitUsage) for a bad value.
int ChooseCoding(const char* command, const Args& args, Coding* coding);
