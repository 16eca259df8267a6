// --method auto: the method byte that codes samples of the input smallest.
#include <cstring>
#include <vector>

#include "coding.h"
#include "file/file_service.h"
#include "messages.h"

namespace {

constexpr u32 kSampleSize = 32768;
constexpr u64 kSampleShare = 32;  // sample about 1/32 of the input ...
constexpr u64 kMostSamples = 64;  // ... but at most 2 MiB

constexpr u8 kMethods[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                           0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};

// Reads up to kSampleSize bytes of the inputs, taken as one stream, from `at` on.
int ReadSample(const std::vector<SampleInput>& inputs, u64 at, std::vector<u8>* sample) {
  sample->clear();
  for (const SampleInput& input : inputs) {
    if (sample->size() == kSampleSize) break;
    if (at >= input.size) {
      at -= input.size;
      continue;
    }
    ErrorCode error = nullptr;
    CFile* file = FileServiceTable.Open(input.path.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
    if (!file) return ReportError(input.path, "cannot open the file", error ? error : ERR_OPENFAIL);
    const u64 want64 = input.size - at < kSampleSize - sample->size()
                           ? input.size - at
                           : kSampleSize - sample->size();
    const u32 want = static_cast<u32>(want64);
    const size_t start = sample->size();
    sample->resize(start + want);
    u32 done = 0;
    error = file->Seek(static_cast<i32>(at), SEEK_FROM_START);
    if (!error) error = file->Read(sample->data() + start, want, &done);
    delete file;
    if (error && error != ERR_EOF) return ReportError(input.path, "cannot read the file", error);
    sample->resize(start + done);
    at = 0;
  }
  return kExitOk;
}

}  // namespace

int PickMethodFromSamples(Coding* coding, const std::vector<SampleInput>& inputs) {
  if (!coding->autoMethod) return kExitOk;
  u64 total = 0;
  for (const SampleInput& input : inputs) total += input.size;
  u64 count = total / kSampleShare / kSampleSize;
  if (count < 1) count = 1;
  if (count > kMostSamples) count = kMostSamples;

  u64 codedSize[sizeof kMethods] = {};
  std::vector<u8> sample, coded(kSampleSize + kSampleSize / 8 + 2);
  for (u64 i = 0; i < count; ++i) {
    // Evenly spread over the input, each sample centred in its share.
    const u64 at =
        total / count * i + (total / count > kSampleSize ? (total / count - kSampleSize) / 2 : 0);
    if (int status = ReadSample(inputs, at, &sample)) return status;
    if (sample.empty()) continue;
    for (size_t m = 0; m < sizeof kMethods; ++m) {
      u32 length = static_cast<u32>(coded.size());
      const ErrorCode error = coding->encoder(sample.data(), static_cast<u32>(sample.size()),
                                              coded.data(), &length, kMethods[m], nullptr);
      // The container stores a block raw when coding does not make it smaller.
      codedSize[m] += error || length >= sample.size() ? sample.size() : length;
    }
  }
  size_t best = 13;  // 0xC4, the default, unless another method is strictly smaller
  static_assert(kMethods[13] == 0xC4, "default method");
  for (size_t m = 0; m < sizeof kMethods; ++m) {
    if (codedSize[m] < codedSize[best]) best = m;
  }
  coding->method = kMethods[best];
  coding->autoMethod = false;
  return kExitOk;
}
