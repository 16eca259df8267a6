// How containers are coded: the method byte and the block coder. This is the one place where
// the coder is chosen, so that faster or better coders can be offered as options here.
#pragma once

#include <string>
#include <vector>

#include "archive/lzss_codec.h"
#include "archive/lzss_optimal.h"
#include "commands.h"

struct Coding {
  u8 method = 0xC4;
  LzssBlockEncoder encoder = LzssEncodeBlockOptimal;
  bool autoMethod = false;  // --method auto: PickMethodFromSamples sets the method
};

// One input of a run, for sampling: a file as the disk service opens it, and its size.
struct SampleInput {
  std::string path;
  u64 size;
};

// --method auto: codes evenly spread 32 KiB samples of the inputs (about 1/32 of them, at most
// 2 MiB) with each of the 15 method bytes and keeps the one that gives the fewest bytes, so the
// choice costs about half a build. Reports and returns kExitFailure when a sample cannot be read.
int PickMethodFromSamples(Coding* coding, const std::vector<SampleInput>& inputs);

// The options every command that writes containers accepts (--method).
extern const char kCodingHelp[];

// Reads --method from args; reports a usage error (returning kExitUsage) for a bad value.
int ChooseCoding(const char* command, const Args& args, Coding* coding);
