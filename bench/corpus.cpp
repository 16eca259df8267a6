#include "bench/corpus.h"

#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "archive/lzss_codec.h"
#include "archive/lzss_optimal.h"

std::string CorpusDir() {
  const char* dir = std::getenv("VORN_BENCH_CORPUS");
  return dir && *dir ? dir : VORN_BENCH_CORPUS_DEFAULT;
}

const std::vector<u8>& Corpus() {
  static std::vector<u8> corpus;
  if (!corpus.empty()) return corpus;
  const std::string path = CorpusDir() + "/corpus.bin";
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    std::fprintf(stderr, "%s missing: run scripts/make-bench-corpus.sh\n", path.c_str());
    std::exit(2);
  }
  u8 chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    corpus.insert(corpus.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return corpus;
}

u32 CodedCapacity(u32 length) { return length + length / 8 + 64; }

namespace {

u32 Deflate(const u8* source, u32 length, u8* out, u32 capacity) {
  // Raw deflate, level 6: zlib's fastest form for blocks that stand alone.
  static z_stream stream;
  static bool ready = false;
  if (!ready) {
    if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
    ready = true;
  }
  deflateReset(&stream);
  stream.next_in = const_cast<u8*>(source);
  stream.avail_in = length;
  stream.next_out = out;
  stream.avail_out = capacity;
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return 0;
  return capacity - stream.avail_out;
}

}  // namespace

bool CodeBlock(BlockCoder coder, u8 method, const u8* source, u32 length, u8* out, u32* coded) {
  switch (coder) {
    case BlockCoder::kLzssTree:
      return LzssEncodeBlock(source, length, out, coded, method, nullptr) == nullptr;
    case BlockCoder::kLzssOptimal:
      return LzssEncodeBlockOptimal(source, length, out, coded, method, nullptr) == nullptr;
    case BlockCoder::kZlib6:
      *coded = Deflate(source, length, out, *coded);
      return *coded != 0;
    case BlockCoder::kLz4Hc:
      *coded = static_cast<u32>(LZ4_compress_HC(
          reinterpret_cast<const char*>(source), reinterpret_cast<char*>(out),
          static_cast<int>(length), static_cast<int>(*coded), LZ4HC_CLEVEL_DEFAULT));
      return *coded != 0;
  }
  return false;
}

const CodedBlocks& Coded(BlockCoder coder, u8 method) {
  static std::map<std::pair<int, int>, CodedBlocks> cache;
  CodedBlocks& set = cache[{static_cast<int>(coder), method}];
  if (!set.rawLength.empty()) return set;
  const std::vector<u8>& corpus = Corpus();
  std::vector<u8> out(CodedCapacity(kBenchBlockSize));
  for (size_t start = 0; start < corpus.size(); start += kBenchBlockSize) {
    const u32 length = static_cast<u32>(
        corpus.size() - start < kBenchBlockSize ? corpus.size() - start : kBenchBlockSize);
    u32 coded = static_cast<u32>(out.size());
    if (!CodeBlock(coder, method, &corpus[start], length, out.data(), &coded)) {
      std::fprintf(stderr, "coding block at %zu failed\n", start);
      std::exit(2);
    }
    set.offsets.push_back(static_cast<u32>(set.bytes.size()));
    set.rawLength.push_back(length);
    set.bytes.insert(set.bytes.end(), out.begin(), out.begin() + coded);
  }
  set.offsets.push_back(static_cast<u32>(set.bytes.size()));
  return set;
}
