// Block decoding and coding over the corpus in 32 KiB blocks, each coded on its own, against zlib
// (raw deflate, level 6) and lz4 (HC), with memcpy as the ceiling. Throughput counts uncompressed
// bytes.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "archive/lzss_codec.h"
#include "bench/corpus.h"

namespace {

const u8 kAllMethods[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                          0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};

void ReportSizes(benchmark::State& state, const CodedBlocks& set) {
  const std::vector<u8>& corpus = Corpus();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(corpus.size()));
  state.counters["coded_bytes"] = static_cast<double>(set.CodedSize());
  state.counters["ratio_pct"] =
      100.0 * static_cast<double>(set.CodedSize()) / static_cast<double>(corpus.size());
}

void BM_Memcpy(benchmark::State& state) {
  const std::vector<u8>& corpus = Corpus();
  std::vector<u8> out(kBenchBlockSize);
  for (auto _ : state) {
    for (size_t start = 0; start < corpus.size(); start += kBenchBlockSize) {
      const size_t length =
          corpus.size() - start < kBenchBlockSize ? corpus.size() - start : kBenchBlockSize;
      std::memcpy(out.data(), &corpus[start], length);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(corpus.size()));
}

// Decodes as the container reader does: the output of a block goes to the front of the buffer
// and the rest of the block reads as zeros.
void DecodeLzss(benchmark::State& state, const CodedBlocks& set, u8 method) {
  std::vector<u8> out(kBenchBlockSize);
  const std::vector<u8>& corpus = Corpus();
  for (auto _ : state) {
    for (u32 i = 0; i < set.Count(); ++i) {
      u32 produced = 0;
      const u32 length = set.offsets[i + 1] - set.offsets[i];
      if (LzssDecodeBlock(&set.bytes[set.offsets[i]], length, out.data(), kBenchBlockSize,
                          &produced, method) != nullptr) {
        state.SkipWithError("decode failed");
        return;
      }
      if (produced < set.rawLength[i]) std::memset(&out[produced], 0, set.rawLength[i] - produced);
      benchmark::DoNotOptimize(out.data());
    }
  }
  // Checked once, outside the timing: the last pass must give the corpus back.
  for (u32 i = 0; i < set.Count(); ++i) {
    u32 produced = 0;
    LzssDecodeBlock(&set.bytes[set.offsets[i]], set.offsets[i + 1] - set.offsets[i], out.data(),
                    kBenchBlockSize, &produced, method);
    if (produced < set.rawLength[i]) std::memset(&out[produced], 0, set.rawLength[i] - produced);
    if (std::memcmp(out.data(), &corpus[size_t{i} * kBenchBlockSize], set.rawLength[i]) != 0) {
      state.SkipWithError("decoded block differs from the corpus");
      return;
    }
  }
  ReportSizes(state, set);
}

void BM_LzssDecode(benchmark::State& state) {
  const u8 method = static_cast<u8>(state.range(0));
  DecodeLzss(state, Coded(BlockCoder::kLzssOptimal, method), method);
}

void BM_LzssDecodeTreeCoded(benchmark::State& state) {
  const u8 method = static_cast<u8>(state.range(0));
  DecodeLzss(state, Coded(BlockCoder::kLzssTree, method), method);
}

void BM_ZlibInflate(benchmark::State& state) {
  const CodedBlocks& set = Coded(BlockCoder::kZlib6, 0);
  std::vector<u8> out(kBenchBlockSize);
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    state.SkipWithError("inflateInit2");
    return;
  }
  for (auto _ : state) {
    for (u32 i = 0; i < set.Count(); ++i) {
      inflateReset(&stream);
      stream.next_in = const_cast<u8*>(&set.bytes[set.offsets[i]]);
      stream.avail_in = set.offsets[i + 1] - set.offsets[i];
      stream.next_out = out.data();
      stream.avail_out = kBenchBlockSize;
      if (inflate(&stream, Z_FINISH) != Z_STREAM_END) {
        state.SkipWithError("inflate failed");
        break;
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  inflateEnd(&stream);
  ReportSizes(state, set);
}

void BM_Lz4Decompress(benchmark::State& state) {
  const CodedBlocks& set = Coded(BlockCoder::kLz4Hc, 0);
  std::vector<u8> out(kBenchBlockSize);
  for (auto _ : state) {
    for (u32 i = 0; i < set.Count(); ++i) {
      const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(&set.bytes[set.offsets[i]]),
                                          reinterpret_cast<char*>(out.data()),
                                          static_cast<int>(set.offsets[i + 1] - set.offsets[i]),
                                          kBenchBlockSize);
      if (got != static_cast<int>(set.rawLength[i])) {
        state.SkipWithError("lz4 decompress failed");
        break;
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  ReportSizes(state, set);
}

void Encode(benchmark::State& state, BlockCoder coder, u8 method) {
  const std::vector<u8>& corpus = Corpus();
  std::vector<u8> out(CodedCapacity(kBenchBlockSize));
  u64 total = 0;
  for (auto _ : state) {
    total = 0;
    for (size_t start = 0; start < corpus.size(); start += kBenchBlockSize) {
      const u32 length = static_cast<u32>(
          corpus.size() - start < kBenchBlockSize ? corpus.size() - start : kBenchBlockSize);
      u32 coded = static_cast<u32>(out.size());
      if (!CodeBlock(coder, method, &corpus[start], length, out.data(), &coded)) {
        state.SkipWithError("coding failed");
        return;
      }
      total += coded;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(corpus.size()));
  state.counters["coded_bytes"] = static_cast<double>(total);
  state.counters["ratio_pct"] =
      100.0 * static_cast<double>(total) / static_cast<double>(corpus.size());
}

void BM_EncodeZlib6(benchmark::State& state) { Encode(state, BlockCoder::kZlib6, 0); }
void BM_EncodeLz4Hc(benchmark::State& state) { Encode(state, BlockCoder::kLz4Hc, 0); }
void BM_EncodeLzssTree(benchmark::State& state) {
  Encode(state, BlockCoder::kLzssTree, static_cast<u8>(state.range(0)));
}
void BM_EncodeLzssOptimal(benchmark::State& state) {
  Encode(state, BlockCoder::kLzssOptimal, static_cast<u8>(state.range(0)));
}

void EveryMethod(benchmark::internal::Benchmark* b) {
  b->ArgName("method");
  for (u8 method : kAllMethods) b->Arg(method);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz4Decompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode)->Apply(EveryMethod)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecodeTreeCoded)->ArgName("method")->Arg(0xC4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeZlib6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLz4Hc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLzssTree)->ArgName("method")->Arg(0xC4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLzssOptimal)->ArgName("method")->Arg(0xC4)->Unit(benchmark::kMillisecond);
