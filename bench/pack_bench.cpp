// Lookups in the directory of a pack of 100,000 members (names shaped like a game's data tree)
// against a std::unordered_map of the same names, and the directory's size against the names'.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/pack_fs.h"
#include "archive/pack_writer.h"
#include "bench/bench_files.h"
#include "bench/corpus.h"
#include "core/name_index.h"

namespace {

constexpr u32 kMembers = 100000;

struct PackFixture {
  std::vector<std::string> names;     // sorted in the directory's order
  std::vector<std::string> lookups;   // the same names, shuffled
  std::vector<std::string> prefixes;  // folder prefixes that members begin with
  CPackFS* pack = nullptr;
  u32 directoryBytes = 0;
  u64 rawNameBytes = 0;
};

std::vector<std::string> MakeNames() {
  static const char* kTop[] = {"ART", "SOUND", "DATA", "MAPS", "INTERFACE", "MODELS", "TEXT"};
  static const char* kMid[] = {"UNITS",  "BUILDINGS", "EFFECTS", "TERRAIN", "ICONS", "MUSIC",
                               "VOICES", "CAMPAIGN",  "SKINS",   "WEAPONS", "ITEMS", "DOODADS"};
  static const char* kLeaf[] = {"ORC", "HUMAN", "ELF", "UNDEAD", "GOLEM", "WOLF", "DRAKE", "TROLL"};
  static const char* kExt[] = {".BLP", ".MDX", ".WAV", ".TXT", ".SLK", ".MP3"};
  std::mt19937 random(100);
  std::vector<std::string> names;
  for (u32 i = 0; names.size() < kMembers; ++i) {
    std::string name = "FILES\\";
    name += kTop[random() % 7];
    name += '\\';
    name += kMid[random() % 12];
    name += '\\';
    name += kLeaf[random() % 8];
    name += '\\';
    name += kLeaf[random() % 8];
    name += '_';
    name += std::to_string(random() % 100000);
    name += kExt[random() % 6];
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return PackCompareNames(a.c_str(), b.c_str()) < 0;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

PackFixture& Fixture() {
  static PackFixture fixture;
  if (fixture.pack) return fixture;
  fixture.names = MakeNames();
  const u32 count = static_cast<u32>(fixture.names.size());
  std::vector<const char*> pointers;
  std::vector<u32> sizes(count, 1);
  for (const std::string& name : fixture.names) {
    pointers.push_back(name.c_str());
    fixture.rawNameBytes += name.size();
  }
  const std::string path = CorpusDir() + "/names.pak";
  CFile* out = OpenBenchFile(path, OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE);
  {
    CPackWriter writer(out);
    ErrorCode error = writer.Begin(count, pointers.data(), sizes.data());
    std::vector<u8> data(count, 'x');
    if (!error) error = writer.Write(data.data(), count);
    if (!error) error = writer.Finish();
    if (error) {
      std::fprintf(stderr, "writing the pack: %s\n", ErrorText(error));
      std::exit(2);
    }
  }
  delete out;
  fixture.pack = new CPackFS();
  ErrorCode error = fixture.pack->Mount(OpenBenchFile(path, OPEN_READ | OPEN_SHARE_READ));
  if (error) {
    std::fprintf(stderr, "mounting the pack: %s\n", ErrorText(error));
    std::exit(2);
  }
  u8 header[40];
  u32 done = 0;
  fixture.pack->PackFile()->Seek(0, SEEK_FROM_START);
  fixture.pack->PackFile()->Read(header, sizeof header, &done);
  fixture.directoryBytes = header[36] | header[37] << 8 | header[38] << 16 | u32{header[39]} << 24;

  fixture.lookups = fixture.names;
  std::shuffle(fixture.lookups.begin(), fixture.lookups.end(), std::mt19937(7));
  for (u32 i = 0; i < 4096; ++i) {
    const std::string& name = fixture.lookups[i];
    fixture.prefixes.push_back(name.substr(0, name.rfind('\\') + 1));
  }
  return fixture;
}

void BM_PackFindRecord(benchmark::State& state) {
  PackFixture& f = Fixture();
  CNameIndex* index = f.pack->Index();
  u8 record[8];
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += index->FindRecord(f.lookups[i].c_str(), record);
    if (++i == f.lookups.size()) i = 0;
  }
  if (found != static_cast<size_t>(state.iterations())) state.SkipWithError("a name was not found");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["directory_bytes"] = f.directoryBytes;
  state.counters["raw_name_bytes"] = static_cast<double>(f.rawNameBytes);
  state.counters["members"] = static_cast<double>(f.names.size());
}

void BM_HashMapFind(benchmark::State& state) {
  PackFixture& f = Fixture();
  std::unordered_map<std::string_view, std::pair<u32, u32>> map;
  for (u32 i = 0; i < f.names.size(); ++i) map.emplace(f.names[i], std::make_pair(i, 1u));
  size_t i = 0, found = 0;
  for (auto _ : state) {
    auto it = map.find(std::string_view(f.lookups[i]));
    found += it != map.end();
    benchmark::DoNotOptimize(it);
    if (++i == f.lookups.size()) i = 0;
  }
  if (found != static_cast<size_t>(state.iterations())) state.SkipWithError("a name was not found");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_PackFindPrefix(benchmark::State& state) {
  PackFixture& f = Fixture();
  CNameIndex* index = f.pack->Index();
  char name[256];
  size_t i = 0, found = 0;
  for (auto _ : state) {
    u32 position = 0;
    found += index->FindPrefix(f.prefixes[i].c_str(), name, &position);
    if (++i == f.prefixes.size()) i = 0;
  }
  if (found != static_cast<size_t>(state.iterations()))
    state.SkipWithError("a prefix was not found");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The hash map cannot answer a prefix query; a sorted vector's lower_bound is the yardstick.
void BM_SortedVectorPrefix(benchmark::State& state) {
  PackFixture& f = Fixture();
  size_t i = 0, found = 0;
  for (auto _ : state) {
    auto it = std::lower_bound(f.names.begin(), f.names.end(), f.prefixes[i]);
    found += it != f.names.end() && it->compare(0, f.prefixes[i].size(), f.prefixes[i]) == 0;
    if (++i == f.prefixes.size()) i = 0;
  }
  if (found != static_cast<size_t>(state.iterations()))
    state.SkipWithError("a prefix was not found");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(BM_PackFindRecord);
BENCHMARK(BM_HashMapFind);
BENCHMARK(BM_PackFindPrefix);
BENCHMARK(BM_SortedVectorPrefix);
