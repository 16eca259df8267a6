#include "archive/lzss_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/failing_pools.h"
#include "support/hpfs_store.h"
#include "support/lzss_samples.h"
#include "support/memory_file.h"

namespace {

typedef std::vector<u8> Bytes;

// Builds a container the way the format describes it, independently of CLzssFile: each block
// coded, or raw where coding does not shrink it.
Bytes BuildContainer(const Bytes& data, u32 blockSize, u8 method) {
  const u32 length = static_cast<u32>(data.size());
  const u32 count = length == 0 ? 1 : (length - 1) / blockSize + 1;
  Bytes out(14 + 4 * count);
  std::memcpy(out.data(), "LZSS", 4);
  StoreLe32(out, 4, length);
  StoreLe32(out, 8, blockSize);
  out[12] = method;
  out[13] = 0x61;
  for (u32 i = 0; i < count; ++i) {
    StoreLe32(out, 14 + 4 * i, static_cast<u32>(out.size()));
    const u32 start = i * blockSize, raw = std::min(blockSize, length - std::min(length, start));
    Bytes block(data.begin() + start, data.begin() + start + raw);
    Bytes coded(raw + raw / 8 + 2);
    u32 codedLength = static_cast<u32>(coded.size());
    EXPECT_EQ(LzssEncodeBlock(block.data(), raw, coded.data(), &codedLength, method, nullptr),
              nullptr);
    if (codedLength < raw) block.assign(coded.begin(), coded.begin() + codedLength);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

// Reads a container with the plain decoder of the test support and checks the layout a flushed
// container must have: blocks right behind the table, in order, raw exactly when coding did not
// shrink them.
Bytes ParseContainer(const Bytes& bytes) {
  if (bytes.size() < 18 || std::memcmp(bytes.data(), "LZSS", 4) != 0) return {0xEE};
  const u32 length = LoadLe32(bytes, 4), blockSize = LoadLe32(bytes, 8);
  const u32 count = length == 0 ? 1 : (length - 1) / blockSize + 1;
  EXPECT_EQ(LoadLe32(bytes, 14), 14 + 4 * count) << "blocks right behind the table";
  Bytes data;
  for (u32 i = 0; i < count; ++i) {
    const u32 start = LoadLe32(bytes, 14 + 4 * i);
    const u32 end = i + 1 < count ? LoadLe32(bytes, 18 + 4 * i) : static_cast<u32>(bytes.size());
    if (start > end || end > bytes.size()) return {0xEE};
    const u32 raw = i + 1 < count ? blockSize : length - blockSize * i;
    Bytes block(bytes.begin() + start, bytes.begin() + end);
    if (block.size() >= raw) {
      EXPECT_EQ(block.size(), raw) << "block " << i << " stored raw with extra bytes";
    } else {
      u32 produced = 0;  // a zero tail left out by the coder reads as the zeros around it
      block.assign(blockSize, 0);
      EXPECT_TRUE(ReferenceDecode(bytes.data() + start, end - start, bytes[12], block.data(),
                                  blockSize, &produced))
          << "block " << i;
    }
    block.resize(raw);
    data.insert(data.end(), block.begin(), block.end());
  }
  return data;
}

std::unique_ptr<MemoryFile> NewContainer(u32 blockSize, u8 method = 0xC4) {
  auto base = std::make_unique<MemoryFile>();
  EXPECT_EQ(CLzssFile::CreateContainer(base.get(), blockSize, method, 0x61), nullptr);
  return base;
}

}  // namespace

// Rewritten blocks that grow (random data, stored raw) or shrink move the blocks behind them, the
// table outgrows its first 32 entries, and the length is cut and grown: every flush must leave the
// layout of a sound container, and cut bytes come back as zeros.
TEST(LzssFile, RandomWritesReadsAndLengthChangesMatchAModel) {
  for (u8 method : {0xA1, 0xB3, 0xC4, 0xC5}) {
    SCOPED_TRACE(int(method));
    auto base = NewContainer(256, method);
    Bytes model;
    std::mt19937 random(method);
    {
      CLzssFile file(base.get(), 0);
      file.SetEncoder(LzssEncodeBlock);
      const Bytes text = SampleBlocks(4096)[0].bytes;
      for (int step = 0; step < 300; ++step) {
        const u32 position = random() % (step < 150 ? 5000 : 9000), size = random() % 1500;
        if (step % 3 == 0) {
          Bytes chunk(text.begin() + random() % 2000, text.end());
          chunk.resize(size);
          if (step % 2) chunk = RandomBytes(size, step);
          ASSERT_EQ(file.WriteAt(chunk.data(), position, size, nullptr), nullptr);
          if (model.size() < position + size) model.resize(position + size);
          std::copy(chunk.begin(), chunk.end(), model.begin() + position);
        } else if (step % 37 == 1) {
          ASSERT_EQ(file.SetLength(position), nullptr);
          model.resize(position);
        } else {
          Bytes chunk(size);
          u32 done = 0;
          const bool past = position > model.size();
          ASSERT_EQ(file.ReadAt(chunk.data(), position, size, &done), past ? ERR_EOF : nullptr);
          ASSERT_EQ(done, past ? 0 : std::min<u32>(size, model.size() - position));
          ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + done, model.begin() + position));
        }
        if (step % 50 == 49) {
          ASSERT_EQ(file.Flush(), nullptr);
        }
      }
      EXPECT_EQ(file.GetSize(), model.size());
      EXPECT_EQ(file.BlockCount(), model.empty() ? 1 : (model.size() - 1) / 256 + 1);
    }  // destroyed without a final Flush: the destructor stores everything
    EXPECT_EQ(ParseContainer(base->bytes), model);
    CLzssFile reopened(base.get(), 0);
    Bytes back(model.size());
    EXPECT_EQ(reopened.ReadAt(back.data(), 0, reopened.GetSize(), nullptr), nullptr);
    EXPECT_EQ(back, model);
    ASSERT_EQ(reopened.Seek(0, SEEK_FROM_START), nullptr);
    ASSERT_EQ(reopened.Truncate(), nullptr);
    ASSERT_EQ(reopened.Flush(), nullptr);
    EXPECT_EQ(base->bytes.size(), 18u);
  }
}

// Corrupt tables whose write-back would destroy the header (block 1 pointing into it) or another
// block (block 2 overlapping block 3): the stream refuses and leaves the file as it was. Faults of
// the base file are passed on, and a block whose write failed stays dirty.
TEST(LzssFile, WriteBackWithACorruptTableOrAFailingBaseLosesNothing) {
  const Bytes data = RandomBytes(256, 14);
  const Bytes sound = BuildContainer(data, 64, 0xC4);  // random: every block raw
  ASSERT_EQ(sound.size(), 14 + 4 * 4 + data.size());
  Bytes intoHeader = sound, overlapping = sound;
  StoreLe32(intoHeader, 14 + 4, 4);
  StoreLe32(overlapping, 14 + 8, LoadLe32(sound, 14 + 12) + 3);
  for (const Bytes& container : {intoHeader, overlapping}) {
    MemoryFile base(container);
    {
      CLzssFile file(&base, 0);
      const Bytes block(64, 0x33);
      ASSERT_EQ(file.WriteAt(block.data(), 64, 64, nullptr), nullptr);
      EXPECT_EQ(file.Flush(), ERR_INVALIDFORMAT);
      EXPECT_EQ(file.SetLength(100), ERR_INVALIDFORMAT);
    }
    EXPECT_EQ(base.bytes, container);
  }
  auto base = NewContainer(64);
  CLzssFile file(base.get(), 0);
  const Bytes text = SampleBlocks(300)[0].bytes;
  ASSERT_EQ(file.Write(text.data(), 300, nullptr), nullptr);
  base->failWriteFrom = base->writes + 1;
  base->failError = ERR_DISKFULL;
  EXPECT_EQ(file.Flush(), ERR_DISKFULL);
  base->failWriteFrom = 0;  // the block stayed dirty: once the disk works again it is stored
  ASSERT_EQ(file.Flush(), nullptr);
  EXPECT_EQ(ParseContainer(base->bytes), text);
  MemoryFile failing(base->bytes);  // a header that cannot be read leaves the stream unusable
  failing.failReadFrom = 1;
  EXPECT_EQ(CLzssFile(&failing, 0).isOpen, 0u);
}

// Opening, rewriting blocks and growing the table past its first step: every allocation on the
// way may fail. A failed open leaves the stream unusable, a later failure reports NOTENOUGHMEM
// (the coder's own tree failing only costs compression), and after memory is back the same write
// and a flush store exactly the expected data.
TEST(LzssFileAllocation, FailuresAreReportedAndLoseNothing) {
  const Bytes data = SampleBlocks(15 * 256)[0].bytes;
  const Bytes container = BuildContainer(data, 256, 0xC4);
  const Bytes patch = SampleBlocks(2000)[1].bytes;
  Bytes expected = data;
  expected.resize(3700 + patch.size());
  std::copy(patch.begin(), patch.end(), expected.begin() + 3700);
  u32 reported = 0, unopened = 0;
  RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile base(container);
    {
      run.Arm();
      CLzssFile file(&base, 0);
      file.SetEncoder(LzssEncodeBlock);
      ErrorCode error = file.isOpen ? nullptr : ERR_NOTENOUGHMEM;
      if (!error) error = file.WriteAt(patch.data(), 3700, static_cast<u32>(patch.size()), nullptr);
      if (!error) error = file.Flush();
      run.Disarm();
      EXPECT_TRUE(error == nullptr || (error == ERR_NOTENOUGHMEM && run.Injected()));
      reported += error == ERR_NOTENOUGHMEM;
      unopened += !file.isOpen;
      if (file.isOpen) {
        ASSERT_EQ(file.WriteAt(patch.data(), 3700, static_cast<u32>(patch.size()), nullptr),
                  nullptr);
        ASSERT_EQ(file.Flush(), nullptr);
      }
    }
    EXPECT_EQ(ParseContainer(base.bytes), base.bytes == container ? data : expected);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(unopened, 2u);  // the work buffer, then the table
  EXPECT_GT(reported, 5u);
}
