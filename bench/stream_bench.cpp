// Reads through the file layers: CLzssFile over a CFileWindow over a disk file holding the corpus
// as a container (32 KiB blocks, method 0xC4, optimal coder), against the bare block decoder over
// the same stored blocks held in memory. Sequential and random 4 KiB reads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "archive/file_window.h"
#include "archive/lzss_codec.h"
#include "archive/lzss_file.h"
#include "archive/lzss_optimal.h"
#include "bench/bench_files.h"
#include "bench/corpus.h"

namespace {

constexpr u32 kReadSize = 4096;
constexpr u8 kStreamMethod = 0xC4;

std::string ContainerPath() { return CorpusDir() + "/corpus.lz"; }

void Fail(const char* what, ErrorCode error) {
  std::fprintf(stderr, "%s: %s\n", what, ErrorText(error));
  std::exit(2);
}

// Writes the container once per run (the corpus may have changed since the last one).
void MakeContainer() {
  static bool made = false;
  if (made) return;
  const std::vector<u8>& corpus = Corpus();
  CFile* disk =
      OpenBenchFile(ContainerPath(), OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE);
  if (ErrorCode error = CLzssFile::CreateContainer(disk, kBenchBlockSize, kStreamMethod))
    Fail("CreateContainer", error);
  CLzssFile* stream = new CLzssFile(disk, 1);
  if (!stream->isOpen) Fail("CLzssFile", ERR_INVALIDFORMAT);
  stream->SetEncoder(LzssEncodeBlockOptimal);
  ErrorCode error = stream->SetLength(static_cast<u32>(corpus.size()));
  if (!error) error = stream->Flush();
  if (!error) error = stream->Seek(0, SEEK_FROM_START);
  for (size_t at = 0; !error && at < corpus.size(); at += 1 << 20) {
    const u32 size =
        static_cast<u32>(corpus.size() - at < (1u << 20) ? corpus.size() - at : 1u << 20);
    error = stream->Write(&corpus[at], size, nullptr);
  }
  if (!error) error = stream->Flush();
  if (error) Fail("writing the container", error);
  delete stream;
  made = true;
}

CLzssFile* OpenStream() {
  MakeContainer();
  CFile* disk = OpenBenchFile(ContainerPath(), OPEN_READ | OPEN_SHARE_READ);
  CFileWindow* window = new CFileWindow(disk, 0, 0xFFFFFFFF, 1);
  CLzssFile* stream = new CLzssFile(window, 1);
  if (!stream->isOpen) Fail("opening the container", ERR_INVALIDFORMAT);
  return stream;
}

void BM_StreamSequentialReads(benchmark::State& state) {
  CLzssFile* stream = OpenStream();
  const u32 length = stream->GetSize();
  std::vector<u8> buffer(kReadSize);
  const std::vector<u8>& corpus = Corpus();
  for (auto _ : state) {
    stream->Seek(0, SEEK_FROM_START);
    for (u32 at = 0; at < length; at += kReadSize) {
      u32 done = 0;
      if (stream->Read(buffer.data(), kReadSize, &done)) {
        state.SkipWithError("read failed");
        break;
      }
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  // Outside the timing: the stream gives the corpus back.
  stream->Seek(0, SEEK_FROM_START);
  std::vector<u8> all(length);
  u32 done = 0;
  if (stream->Read(all.data(), length, &done) || all != corpus)
    state.SkipWithError("the stream differs from the corpus");
  delete stream;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

void BM_StreamRandomReads(benchmark::State& state) {
  CLzssFile* stream = OpenStream();
  const u32 length = stream->GetSize();
  std::mt19937 random(5);
  std::vector<u32> positions(4096);
  for (u32& p : positions) p = random() % (length - kReadSize);
  std::vector<u8> buffer(kReadSize);
  for (auto _ : state) {
    for (u32 p : positions) {
      stream->Seek(static_cast<i32>(p), SEEK_FROM_START);
      u32 done = 0;
      if (stream->Read(buffer.data(), kReadSize, &done)) {
        state.SkipWithError("read failed");
        break;
      }
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  delete stream;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * positions.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * positions.size() * kReadSize);
}

// The same stored blocks, decoded straight from memory the way the stream loads them (raw
// blocks copied, coded ones decoded, zero tails filled): what the layers above add is the rest.
void BM_StreamBareDecoder(benchmark::State& state) {
  CLzssFile* stream = OpenStream();
  const u32 count = stream->BlockCount();
  const u32 length = stream->GetSize();
  std::vector<u8> stored(stream->BlockOffset(count));
  CFile* disk = OpenBenchFile(ContainerPath(), OPEN_READ | OPEN_SHARE_READ);
  u32 done = 0;
  if (disk->Read(stored.data(), static_cast<u32>(stored.size()), &done))
    Fail("reading", ERR_READFAIL);
  delete disk;
  std::vector<u32> start(count + 1);
  for (u32 i = 0; i <= count; ++i) start[i] = stream->BlockOffset(i);
  delete stream;
  std::vector<u8> out(kBenchBlockSize);
  for (auto _ : state) {
    for (u32 i = 0; i < count; ++i) {
      const u32 raw = i + 1 < count ? kBenchBlockSize : length - kBenchBlockSize * (count - 1);
      const u32 size = start[i + 1] - start[i];
      u32 produced = raw;
      if (size >= raw) {
        std::memcpy(out.data(), &stored[start[i]], raw);
      } else if (size > 0 && LzssDecodeBlock(&stored[start[i]], size, out.data(), kBenchBlockSize,
                                             &produced, kStreamMethod)) {
        state.SkipWithError("decode failed");
        return;
      } else if (size == 0) {
        produced = 0;
      }
      if (produced < raw) std::memset(&out[produced], 0, raw - produced);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

}  // namespace

BENCHMARK(BM_StreamBareDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamSequentialReads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamRandomReads)->Unit(benchmark::kMillisecond);
