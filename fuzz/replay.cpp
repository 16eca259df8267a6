// Runs a fuzz target's seed corpus (the folder VORN_CORPUS) in an ordinary build: each seed as it
// is, then damaged in every one of a fixed set of ways (each 32-bit word set to a few telling
// values, each byte one up and one down, cut short at a few lengths), so that the seed corpora
// double as the damaged-input sweeps of the unit suites. A target reports a fault by aborting.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/types.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size);

namespace {

constexpr size_t kMaxWords = 4096;

void Run(const std::vector<u8>& input) {
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

bool Replay(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::vector<u8> input;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    input.push_back(static_cast<u8>(c));
  std::fclose(file);
  Run(input);
  for (size_t word = 0; word < input.size() / 4 && word < kMaxWords; ++word) {
    for (u32 value : {0u, 1u, 0xFFu, 0x8000u, 0xFFFFFFFFu}) {
      std::vector<u8> damaged = input;
      for (int i = 0; i < 4; ++i) damaged[4 * word + i] = static_cast<u8>(value >> (8 * i));
      Run(damaged);
    }
  }
  for (size_t at = 0; at < input.size() && at < 4 * kMaxWords; ++at) {
    for (int delta : {1, -1}) {  // lengths and counts a little off
      std::vector<u8> damaged = input;
      damaged[at] = static_cast<u8>(damaged[at] + delta);
      Run(damaged);
    }
  }
  for (u32 part = 1; part < 16; ++part)
    Run({input.begin(), input.begin() + input.size() * part / 16});
  return true;
}

}  // namespace

TEST(FuzzCorpus, EverySeedAndItsDamagedCopiesPass) {
  DIR* folder = opendir(VORN_CORPUS);
  ASSERT_NE(folder, nullptr) << VORN_CORPUS;
  std::vector<std::string> seeds;
  while (const dirent* entry = readdir(folder))
    if (entry->d_name[0] != '.') seeds.push_back(std::string(VORN_CORPUS) + "/" + entry->d_name);
  closedir(folder);
  EXPECT_FALSE(seeds.empty());
  for (const std::string& seed : seeds) EXPECT_TRUE(Replay(seed)) << "cannot read " << seed;
}
