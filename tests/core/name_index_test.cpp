#include "core/name_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Front-codes sorted names with an 8-byte record each: the entry's index and its name's length.
std::vector<u8> Encode(const std::vector<std::string>& names, std::vector<u32>* offsets = nullptr) {
  std::vector<u8> bytes;
  std::string previous;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    size_t shared = 0;
    while (shared < previous.size() && shared < name.size() && previous[shared] == name[shared])
      ++shared;
    if (offsets) offsets->push_back(static_cast<u32>(bytes.size()));
    bytes.push_back(static_cast<u8>(name.size()));
    bytes.push_back(static_cast<u8>(shared));
    bytes.insert(bytes.end(), name.begin() + static_cast<long>(shared), name.end());
    u32 record[2] = {static_cast<u32>(i), static_cast<u32>(name.size())};
    const u8* r = reinterpret_cast<const u8*>(record);
    bytes.insert(bytes.end(), r, r + 8);
    previous = name;
  }
  return bytes;
}

// A block of exactly the bytes' size, so that a read past it is caught by the sanitizers.
MemHandle ToBlock(const std::vector<u8>& bytes) {
  if (bytes.empty()) return 0;
  MemHandle block = MemAlloc(static_cast<u32>(bytes.size()));
  void* p = MemLock(block);
  std::memcpy(p, bytes.data(), bytes.size());
  MemUnlock(block);
  return block;
}

std::string Next(CNameIndex& index, const char* name) {
  char out[256];
  return index.NextName(name, out) ? std::string(out) : std::string("<none>");
}

std::string Prefix(CNameIndex& index, const char* prefix, u32* position = nullptr) {
  char out[256];
  u32 at = 0xDEAD;
  if (!index.FindPrefix(prefix, out, &at)) return "<none>";
  if (position) *position = at;
  return out;
}

// Every name walked with NextName from the start.
std::vector<std::string> WalkAll(CNameIndex& index) {
  std::vector<std::string> names;
  char name[256];
  if (!index.NextName(nullptr, name)) return names;
  do names.push_back(name);
  while (index.NextName(name, name) && names.size() < 100000);
  return names;
}

}  // namespace

// Lookups over thousands of random names (one of the longest length), with and without
// checkpoints and with the count given or worked out, against a sorted set.
TEST(NameIndex, AgreesWithABruteForceModel) {
  std::mt19937 random(12345);
  const char alphabet[] = "AB\\CZ";  // few letters, so that names share long prefixes
  std::set<std::string> set;
  while (set.size() < 3000) {
    std::string name(1 + random() % 12, 'A');
    for (char& c : name) c = alphabet[random() % 5];
    set.insert(name);
  }
  set.insert(std::string(255, 'Z'));
  std::vector<std::string> names(set.begin(), set.end());
  std::vector<u32> offsets;
  std::vector<u8> bytes = Encode(names, &offsets);

  for (u16 step : {0, 1, 7, 100}) {
    SCOPED_TRACE(step);
    CNameIndex index(8, 4, ToBlock(bytes), static_cast<u32>(bytes.size()),
                     step == 7 ? 0 : static_cast<u32>(names.size()), 0, 0, step);
    EXPECT_EQ(index.Count(), names.size());
    ASSERT_EQ(index.CheckpointCount(), step ? names.size() / step : 0u);
    for (u32 i = 0; i < index.CheckpointCount(); ++i)
      EXPECT_EQ(index.CheckpointOffset(i), offsets[i * step]);
    EXPECT_EQ(WalkAll(index), names);
    for (int q = 0; q < 3000; ++q) {
      std::string key;
      if (q % 3 == 0) {
        key = names[random() % names.size()];
      } else {
        key.assign(q == 1 ? 256 : random() % 13, 'A');
        for (char& c : key) c = alphabet[random() % 5];
      }
      auto it = set.find(key);
      u32 record[2] = {0, 0};
      ASSERT_EQ(index.FindRecord(key.c_str(), record), it != set.end() ? 1u : 0u) << key;
      if (it != set.end()) {
        EXPECT_EQ(record[0], static_cast<u32>(std::distance(set.begin(), it)));
        EXPECT_EQ(record[1], key.size());
      }
      // Only a stored name has a next one.
      const bool last = it == set.end() || std::next(it) == set.end();
      EXPECT_EQ(Next(index, key.c_str()), last ? "<none>" : *std::next(it));
      auto first = set.lower_bound(key);
      bool hasPrefix = first != set.end() && first->compare(0, key.size(), key) == 0;
      u32 at = 0;
      ASSERT_EQ(Prefix(index, key.c_str(), &at), hasPrefix ? *first : "<none>") << key;
      EXPECT_TRUE(!hasPrefix || at == static_cast<u32>(std::distance(set.begin(), first)));
    }
  }
}

// Malformed entries end the list before them: earlier names stay reachable, nothing after them
// is read, and nothing outside the block is touched (the block is sized exactly).
TEST(NameIndex, MalformedEntriesEndTheListWithoutReadingOutsideTheBlock) {
  std::vector<u8> good = Encode({"ALPHA", "ALPHB"});
  struct Case {
    const char* what;
    std::vector<u8> tail;
  } cases[] = {
      {"shared length beyond the previous name", {3, 9, 'X', 0, 0, 0, 0, 0, 0, 0, 0}},
      {"shared length leaving no suffix", {3, 3, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"total length 0", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"entry running past the block", {200, 0, 'Z', 'Z', 'Z'}},
      {"record running past the block", {6, 5, 'C', 1, 2, 3}},
      {"lone length byte", {6}},
      {"name not after its predecessor", {5, 0, 'A', 'A', 'A', 'A', 'A', 0, 0, 0, 0, 0, 0, 0, 0}},
      {"duplicate name", {5, 4, 'B', 0, 0, 0, 0, 0, 0, 0, 0}},
      {"sharing that is not maximal", {5, 3, 'H', 'C', 'Z', 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<u8> bytes = good;
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    CNameIndex index(8, 4, ToBlock(bytes), static_cast<u32>(bytes.size()), 3, 0, 0, 1);
    EXPECT_EQ(index.UsableCount(), 2u);
    EXPECT_EQ(WalkAll(index), (std::vector<std::string>{"ALPHA", "ALPHB"}));
    u32 record[2];
    EXPECT_EQ(index.FindRecord("ALPHB", record), 1u);
    for (const char* absent : {"ALPHC", "ZZZ"}) {
      EXPECT_EQ(index.FindRecord(absent, record), 0u) << absent;
      EXPECT_EQ(Prefix(index, absent), "<none>") << absent;
    }
  }
  // A first entry claiming a shared part has no previous name to share with.
  const std::vector<u8> lone = {4, 2, 'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0};
  CNameIndex first(8, 4, ToBlock(lone), static_cast<u32>(lone.size()), 3, 0, 0, 100);
  EXPECT_EQ(first.UsableCount(), 0u);
  EXPECT_EQ(Next(first, nullptr), "<none>");
  EXPECT_EQ(Prefix(first, ""), "<none>");
}

TEST(NameIndex, LoadsAStoredCheckpointTableOnlyWhenItMatches) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("K" + std::to_string(100 + i));
  std::vector<u32> offsets;
  std::vector<u8> bytes = Encode(names, &offsets);
  auto stored = [&](u32 count, u32 secondOffset) {
    std::vector<u8> table = {static_cast<u8>(count), 0, 0, 0};
    for (u32 i = 0; i < count; ++i) {
      const std::string& name = names[i * 10];
      table.push_back(static_cast<u8>(name.size()));
      table.insert(table.end(), name.begin(), name.end());
      u32 offset = i == 1 ? secondOffset : offsets[i * 10];
      for (int b = 0; b < 4; ++b) table.push_back(static_cast<u8>(offset >> (8 * b)));
    }
    return table;
  };
  // Step 10 with 30 names would build 3 checkpoints; a matching stored table of 2 is kept as is.
  std::vector<u8> matching = stored(2, offsets[10]);
  // Handles are given back in the reverse order of their making, so the handle table ends empty.
  struct Owned {
    explicit Owned(const std::vector<u8>& b) : handle(ToBlock(b)) {}
    ~Owned() { MemFree(handle); }
    MemHandle handle;
  };
  Owned table(matching);
  CNameIndex loaded(8, 4, ToBlock(bytes), static_cast<u32>(bytes.size()), 0, table.handle,
                    static_cast<u32>(matching.size()), 10);
  EXPECT_EQ(loaded.CheckpointCount(), 2u);
  EXPECT_EQ(loaded.CheckpointOffset(1), offsets[10]);
  EXPECT_EQ(WalkAll(loaded), names);
  u32 at = 0;
  EXPECT_EQ(Prefix(loaded, "K12", &at), "K120");
  EXPECT_EQ(at, 20u);

  // A table that points elsewhere, or is cut short, is ignored and the checkpoints are built.
  std::vector<u8> wrong = stored(2, offsets[11]);
  std::vector<u8> cut(matching.begin(), matching.end() - 3);
  for (const std::vector<u8>* bad : {&wrong, &cut}) {
    Owned badTable(*bad);
    CNameIndex built(8, 4, ToBlock(bytes), static_cast<u32>(bytes.size()), 0, badTable.handle,
                     static_cast<u32>(bad->size()), 10);
    EXPECT_EQ(built.CheckpointCount(), 3u);
    EXPECT_EQ(built.CheckpointOffset(1), offsets[10]);
    u32 record[2];
    EXPECT_EQ(built.FindRecord("K115", record), 1u);
    EXPECT_EQ(record[0], 15u);
  }
}
