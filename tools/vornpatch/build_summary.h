// What `vornpatch build` says when a patch is finished: a few lines for the author, or one JSON
// object for build pipelines (--json), on stdout; --quiet says nothing. Progress and warnings
// stay on stderr either way.
#pragma once

#include <string>

#include "coded_build.h"
#include "commands.h"
#include "core/types.h"

struct BuildFigures {
  std::string output;
  std::string stub;
  u64 members = 0;
  u64 inputBytes = 0;  // the members' bytes
  u64 stubBytes = 0;
  u64 patchBytes = 0;  // stub and payload
  u8 method = 0;
  u64 milliseconds = 0;
  const CodedBuildFigures* coded = nullptr;  // when files were coded (--codec tarn, --base)
};

// The --quiet and --json lines of the build's help.
extern const char kSummaryHelp[];

// Prints the summary that args ask for.
void PrintBuildSummary(const Args& args, const BuildFigures& figures);

// `text` as a JSON string, quotes included. Bytes that do not form UTF-8 (POSIX names are bytes)
// become the characters of the same value, so the result is always valid JSON.
std::string JsonString(const std::string& text);
