// tarn_tool: the Tarn coder and decoder on files, for the codec benchmarks.
//   tarn_tool encode [--dict OLD [--no-differences]] [--x86] [--window LOG] [--nice N] [--depth N]
//                    [--lc N] [--lp N] [--pb N] INPUT OUTPUT
//   tarn_tool decode [--dict OLD] [--memory] INPUT OUTPUT
//   tarn_tool speed [--dict OLD] [--runs N] INPUT      decoder MB/s in memory (best of runs)
//   tarn_tool each [--x86-code] LIST                       every listed file coded alone
// decode streams its output through the file interface (window, input buffer and dictionary
// cache only) unless --memory. Times are CPU seconds of this process.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "archive/tarn_decode.h"
#include "archive/tarn_encode.h"
#include "archive/tarn_format.h"
#include "core/pools.h"
#include "file/disk_file.h"
#include "file/file_service.h"

namespace {

bool ReadWhole(const char* path, std::vector<u8>* bytes, size_t prefix = 0) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  bytes->resize(prefix + static_cast<size_t>(size));
  const bool ok = std::fread(bytes->data() + prefix, 1, size, f) == static_cast<size_t>(size);
  std::fclose(f);
  return ok;
}

bool WriteWhole(const char* path, const u8* bytes, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Options {
  std::vector<std::string> positional;
  std::string dictionary;
  bool noDifferences = false;
  bool memory = false, x86Code = false;
  u32 runs = 5;
  TarnEncodeOptions coder;
};

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> u32 { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (a == "--dict" && i + 1 < argc)
      o->dictionary = argv[++i];
    else if (a == "--memory")
      o->memory = true;
    else if (a == "--x86")
      o->coder.x86 = true;
    else if (a == "--no-differences")
      o->noDifferences = true;
    else if (a == "--x86-code")
      o->x86Code = true;
    else if (a == "--window")
      o->coder.windowLog = static_cast<u8>(value());
    else if (a == "--nice")
      o->coder.niceLength = value();
    else if (a == "--depth")
      o->coder.depth = value();
    else if (a == "--lc")
      o->coder.literalContextBits = static_cast<u8>(value());
    else if (a == "--lp")
      o->coder.literalPositionBits = static_cast<u8>(value());
    else if (a == "--pb")
      o->coder.positionBits = static_cast<u8>(value());
    else if (a == "--runs")
      o->runs = value();
    else if (!a.empty() && a[0] == '-')
      return false;
    else
      o->positional.push_back(a);
  }
  return true;
}

// The window log a stream of this size needs at most.
u8 WindowFor(u64 size, u8 limit) {
  u8 log = limit < 16 ? limit : 16;
  while (log < limit && (1ull << log) < size) ++log;
  return log;
}

int Encode(const Options& o) {
  std::vector<u8> data;
  size_t dictionary = 0;
  if (!o.dictionary.empty()) {
    if (!ReadWhole(o.dictionary.c_str(), &data)) return std::perror(o.dictionary.c_str()), 1;
    dictionary = data.size();
  }
  if (!ReadWhole(o.positional[0].c_str(), &data, dictionary))
    return std::perror(o.positional[0].c_str()), 1;
  TarnEncodeOptions options = o.coder;
  options.windowLog = WindowFor(data.size() - dictionary, options.windowLog);
  options.differences = dictionary && !o.noDifferences;
  u8* coded = nullptr;
  u32 size = 0;
  const double start = CpuSeconds();
  ErrorCode error = TarnEncode(data.data(), static_cast<u32>(dictionary),
                               static_cast<u32>(data.size() - dictionary), options, &coded, &size);
  const double seconds = CpuSeconds() - start;
  if (error) return std::fprintf(stderr, "encode: %s\n", ErrorText(error)), 1;
  const bool ok = WriteWhole(o.positional[1].c_str(), coded, size);
  g_ptrPool->Free(coded);
  std::printf("%zu -> %u bytes, %.2f cpu s\n", data.size() - dictionary, size, seconds);
  return ok ? 0 : 1;
}

CFile* OpenDisk(const char* path, u16 flags) {
  ErrorCode error = nullptr;
  CFile* file = FileServiceTable.Open(path, flags, &error);
  if (!file) std::fprintf(stderr, "%s: %s\n", path, ErrorText(error));
  return file;
}

int Decode(const Options& o) {
  const double start = CpuSeconds();
  ErrorCode error;
  if (o.memory) {
    std::vector<u8> stream, dictionary, output;
    if (!ReadWhole(o.positional[0].c_str(), &stream)) return 1;
    if (!o.dictionary.empty() && !ReadWhole(o.dictionary.c_str(), &dictionary)) return 1;
    TarnHeader header;
    if ((error = TarnReadHeader(stream.data(), static_cast<u32>(stream.size()), &header)))
      return std::fprintf(stderr, "decode: %s\n", ErrorText(error)), 1;
    output.resize(header.outputSize);
    error = TarnDecodeMemory(stream.data(), static_cast<u32>(stream.size()), dictionary.data(),
                             static_cast<u32>(dictionary.size()), output.data(),
                             static_cast<u32>(output.size()));
    if (!error && !WriteWhole(o.positional[1].c_str(), output.data(), output.size())) return 1;
  } else {
    CFile* input = OpenDisk(o.positional[0].c_str(), OPEN_READ);
    CFile* dictionary = o.dictionary.empty() ? nullptr : OpenDisk(o.dictionary.c_str(), OPEN_READ);
    CFile* output =
        OpenDisk(o.positional[1].c_str(), OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE);
    if (!input || !output || (!o.dictionary.empty() && !dictionary)) return 1;
    error = TarnDecodeFile(input, 0, input->GetSize(), dictionary, output);
    delete input;
    delete dictionary;
    delete output;
  }
  if (error) return std::fprintf(stderr, "decode: %s\n", ErrorText(error)), 1;
  std::printf("decoded, %.2f cpu s\n", CpuSeconds() - start);
  return 0;
}

int Speed(const Options& o) {
  std::vector<u8> stream, dictionary, output;
  if (!ReadWhole(o.positional[0].c_str(), &stream)) return 1;
  if (!o.dictionary.empty() && !ReadWhole(o.dictionary.c_str(), &dictionary)) return 1;
  TarnHeader header;
  if (TarnReadHeader(stream.data(), static_cast<u32>(stream.size()), &header)) return 1;
  output.resize(header.outputSize);
  double best = 1e30;
  for (u32 run = 0; run < o.runs; ++run) {
    const double start = CpuSeconds();
    if (ErrorCode error = TarnDecodeMemory(stream.data(), static_cast<u32>(stream.size()),
                                           dictionary.data(), static_cast<u32>(dictionary.size()),
                                           output.data(), static_cast<u32>(output.size())))
      return std::fprintf(stderr, "decode: %s\n", ErrorText(error)), 1;
    const double seconds = CpuSeconds() - start;
    if (seconds < best) best = seconds;
  }
  std::printf("%.1f MB/s\n", header.outputSize / 1e6 / (best > 1e-6 ? best : 1e-6));
  return 0;
}

// Windows and ELF executables and libraries, whose x86 code the branch filter is for.
bool LooksLikeCode(const std::vector<u8>& d) {
  return d.size() > 64 && ((d[0] == 'M' && d[1] == 'Z') || std::memcmp(d.data(),
                                                                       "\x7f"
                                                                       "ELF",
                                                                       4) == 0);
}

int Each(const Options& o) {
  FILE* list = std::fopen(o.positional[0].c_str(), "r");
  if (!list) return std::perror(o.positional[0].c_str()), 1;
  char line[4096];
  u64 in = 0, out = 0, files = 0;
  double seconds = 0;
  while (std::fgets(line, sizeof line, list)) {
    line[std::strcspn(line, "\n")] = 0;
    std::vector<u8> data;
    if (!*line || !ReadWhole(line, &data)) continue;
    TarnEncodeOptions options = o.coder;
    options.windowLog = WindowFor(data.size(), options.windowLog);
    options.x86 = o.coder.x86 || (o.x86Code && LooksLikeCode(data));
    u8* coded = nullptr;
    u32 size = 0;
    const double start = CpuSeconds();
    if (ErrorCode error =
            TarnEncode(data.data(), 0, static_cast<u32>(data.size()), options, &coded, &size))
      return std::fprintf(stderr, "%s: %s\n", line, ErrorText(error)), 1;
    seconds += CpuSeconds() - start;
    std::vector<u8> back(data.size());
    if (TarnDecodeMemory(coded, size, nullptr, 0, back.data(), static_cast<u32>(back.size())) ||
        back != data)
      return std::fprintf(stderr, "%s: round trip failed\n", line), 1;
    g_ptrPool->Free(coded);
    in += data.size();
    out += size;
    ++files;
  }
  std::fclose(list);
  std::printf("%llu files, %llu -> %llu bytes, %.2f cpu s\n",
              static_cast<unsigned long long>(files), static_cast<unsigned long long>(in),
              static_cast<unsigned long long>(out), seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const std::string command = argc > 1 ? argv[1] : "";
  const size_t want = command == "speed" || command == "each" ? 1 : 2;
  if (!Parse(argc, argv, &o) || o.positional.size() != want) {
    std::fprintf(stderr, "usage: see the head of bench/tarn_tool.cpp\n");
    return 2;
  }
  InitMountTable(8);
  StartDiskService();
  if (command == "encode") return Encode(o);
  if (command == "decode") return Decode(o);
  if (command == "speed") return Speed(o);
  if (command == "each") return Each(o);
  std::fprintf(stderr, "unknown command %s\n", command.c_str());
  return 2;
}
