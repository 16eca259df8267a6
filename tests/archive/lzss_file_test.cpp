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

// How a hand-built container stores a block.
enum class Form { kAuto, kRaw, kEmpty, kRawPadded };

// Builds a container the way the format describes it, independently of CLzssFile.
std::vector<u8> BuildContainer(const std::vector<u8>& data, u32 blockSize, u8 method,
                               const std::vector<Form>& forms = {}, u8 spare = 0x61) {
  const u32 length = static_cast<u32>(data.size());
  const u32 count = length == 0 ? 1 : (length - 1) / blockSize + 1;
  std::vector<u8> out(14 + 4 * count);
  std::memcpy(out.data(), "LZSS", 4);
  StoreLe32(out, 4, length);
  StoreLe32(out, 8, blockSize);
  out[12] = method;
  out[13] = spare;
  for (u32 i = 0; i < count; ++i) {
    StoreLe32(out, 14 + 4 * i, static_cast<u32>(out.size()));
    const u32 start = i * blockSize;
    const u32 raw = std::min(blockSize, length - std::min(length, start));
    std::vector<u8> block(data.begin() + start, data.begin() + start + raw);
    Form form = i < forms.size() ? forms[i] : Form::kAuto;
    if (form == Form::kEmpty) continue;
    if (form == Form::kAuto) {
      std::vector<u8> coded(raw + raw / 8 + 2);
      u32 codedLength = static_cast<u32>(coded.size());
      EXPECT_EQ(LzssEncodeBlock(block.data(), raw, coded.data(), &codedLength, method, nullptr),
                nullptr);
      if (codedLength < raw) block.assign(coded.begin(), coded.begin() + codedLength);
    }
    if (form == Form::kRawPadded) block.resize(blockSize, 0xAB);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

// Reads a container with the plain reference decoder and checks the layout that a flushed
// container must have: the blocks right behind the table, in order, raw exactly when coding did
// not shrink them.
std::vector<u8> ParseContainer(const std::vector<u8>& bytes) {
  std::vector<u8> data;
  EXPECT_GE(bytes.size(), 18u);
  if (bytes.size() < 18) return data;
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "LZSS");
  const u32 length = LoadLe32(bytes, 4), blockSize = LoadLe32(bytes, 8);
  const u8 method = bytes[12];
  const u32 count = length == 0 ? 1 : (length - 1) / blockSize + 1;
  EXPECT_EQ(LoadLe32(bytes, 14), 14 + 4 * count) << "blocks right behind the table";
  for (u32 i = 0; i < count; ++i) {
    const u32 start = LoadLe32(bytes, 14 + 4 * i);
    const u32 end = i + 1 < count ? LoadLe32(bytes, 18 + 4 * i) : static_cast<u32>(bytes.size());
    EXPECT_LE(start, end);
    EXPECT_LE(end, bytes.size());
    if (start > end || end > bytes.size()) return {};
    const u32 raw = i + 1 < count ? blockSize : length - blockSize * i;
    const u32 stored = end - start;
    std::vector<u8> block(bytes.begin() + start, bytes.begin() + end);
    if (stored >= raw) {
      EXPECT_EQ(stored, raw) << "block " << i << " stored raw with extra bytes";
      block.resize(raw);
    } else {
      std::vector<u8> decoded;
      EXPECT_TRUE(ReferenceDecode(block, method, blockSize, &decoded)) << "block " << i;
      decoded.resize(raw);
      block = decoded;
    }
    data.insert(data.end(), block.begin(), block.end());
  }
  return data;
}

std::vector<u8> ReadAll(CLzssFile& file) {
  std::vector<u8> out(file.GetSize());
  u32 done = 0;
  EXPECT_EQ(file.ReadAt(out.data(), 0, file.GetSize(), &done), nullptr);
  EXPECT_EQ(done, out.size());
  return out;
}

std::vector<u8> Concat(std::initializer_list<std::vector<u8>> parts) {
  std::vector<u8> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A file in memory that has been made an empty container.
std::unique_ptr<MemoryFile> NewContainer(u32 blockSize, u8 method = 0xC4) {
  auto base = std::make_unique<MemoryFile>();
  EXPECT_EQ(CLzssFile::CreateContainer(base.get(), blockSize, method, 0x61), nullptr);
  return base;
}

}  // namespace

TEST(LzssFile, ReadsEveryStorageForm) {
  // Block 0 coded, block 1 raw, block 2 empty (zeros), block 3 coded, last block raw with
  // stored bytes up to the block size.
  const u32 blockSize = 1024;
  std::vector<u8> data =
      Concat({SampleBlocks(1024)[0].bytes, RandomBytes(1024, 1), std::vector<u8>(1024, 0),
              SampleBlocks(1024)[4].bytes, RandomBytes(300, 2)});
  MemoryFile base(
      BuildContainer(data, blockSize, 0xB3,
                     {Form::kAuto, Form::kRaw, Form::kEmpty, Form::kAuto, Form::kRawPadded}));
  CLzssFile file(&base, 0);
  ASSERT_EQ(file.isOpen, 1u);
  EXPECT_EQ(file.GetSize(), data.size());
  EXPECT_EQ(file.BlockCount(), 5u);
  EXPECT_EQ(file.BlockOffset(0), 14u + 20);
  EXPECT_EQ(file.BlockOffset(5), base.bytes.size());
  EXPECT_EQ(ReadAll(file), data);

  // A read across a block boundary returns both blocks' bytes and leaves the second current.
  std::vector<u8> buffer(100);
  ASSERT_EQ(file.ReadAt(buffer.data(), 3 * 1024 - 40, 100, nullptr), nullptr);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 3 * 1024 - 40));
  EXPECT_EQ(file.CurrentBlock(), 3u);
  EXPECT_EQ(file.GetPosition(), 3u * 1024 + 60);

  // Reading leaves the base file untouched, also on destruction.
  std::vector<u8> before = base.bytes;
  u32 writes = base.writes;
  file.Flush();
  EXPECT_EQ(base.bytes, before);
  EXPECT_EQ(base.writes, writes);
}

TEST(LzssFile, EmptyStreamAndReadsAtTheEnd) {
  auto base = NewContainer(256);
  EXPECT_EQ(base->bytes.size(), 18u);
  CLzssFile file(base.get(), 0);
  ASSERT_EQ(file.isOpen, 1u);
  EXPECT_EQ(file.BlockCount(), 1u);
  EXPECT_EQ(file.GetSize(), 0u);
  u8 byte = 0;
  u32 done = 9;
  EXPECT_EQ(file.Read(&byte, 0, nullptr), nullptr);
  EXPECT_EQ(file.Read(&byte, 1, &done), nullptr);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.Read(&byte, 1, nullptr), ERR_EOF);

  ASSERT_EQ(file.Write("hello", 5, nullptr), nullptr);
  char text[8] = {};
  ASSERT_EQ(file.Seek(1, SEEK_FROM_START), nullptr);
  EXPECT_EQ(file.Read(text, 8, nullptr), ERR_EOF);
  EXPECT_EQ(file.GetPosition(), 1u) << "an all-or-nothing read that fails moves nothing";
  ASSERT_EQ(file.Read(text, 8, &done), nullptr);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(text), "ello");
  ASSERT_EQ(file.Seek(9, SEEK_FROM_START), nullptr);
  EXPECT_EQ(file.Read(text, 1, &done), ERR_EOF);
  EXPECT_EQ(done, 0u);
}

// Rewritten blocks that grow (random data, stored raw) or shrink move the blocks behind them, and
// the table outgrows its first 32 entries: every flush must leave the layout of a sound container.
TEST(LzssFile, RandomWritesAndReadsMatchAModelAndSurviveReopening) {
  for (u8 method : {0xA1, 0xB3, 0xC4, 0xC5}) {
    SCOPED_TRACE(int(method));
    auto base = NewContainer(256, method);
    std::vector<u8> model;
    std::mt19937 random(method);
    {
      CLzssFile file(base.get(), 0);
      ASSERT_EQ(file.isOpen, 1u);
      std::vector<u8> text = SampleBlocks(4096)[0].bytes;
      for (int step = 0; step < 300; ++step) {
        u32 position = random() % (step < 150 ? 5000 : 9000), size = random() % 1500;
        if (step % 3 == 0) {
          std::vector<u8> chunk(text.begin() + random() % 2000, text.end());
          chunk.resize(size);
          if (step % 2) chunk = RandomBytes(size, step);
          ASSERT_EQ(file.WriteAt(chunk.data(), position, size, nullptr), nullptr);
          if (model.size() < position + size) model.resize(position + size);
          std::copy(chunk.begin(), chunk.end(), model.begin() + position);
        } else {
          std::vector<u8> chunk(size);
          u32 done = 0;
          ErrorCode error = file.ReadAt(chunk.data(), position, size, &done);
          ASSERT_EQ(error, position > model.size() ? ERR_EOF : nullptr);
          u32 expected = position > model.size() ? 0 : std::min<u32>(size, model.size() - position);
          ASSERT_EQ(done, expected);
          ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + done, model.begin() + position));
        }
        if (step % 50 == 49) {
          ASSERT_EQ(file.Flush(), nullptr);
        }
      }
      EXPECT_EQ(file.GetSize(), model.size());
    }  // destroyed without a final Flush: the destructor stores everything
    EXPECT_EQ(ParseContainer(base->bytes), model);
    CLzssFile reopened(base.get(), 0);
    ASSERT_EQ(reopened.isOpen, 1u);
    EXPECT_EQ(ReadAll(reopened), model);
  }
}

TEST(LzssFile, GrowingAndShrinkingKeepZeroTails) {
  auto base = NewContainer(100);
  CLzssFile file(base.get(), 0);
  std::vector<u8> data = RandomBytes(250, 9);
  ASSERT_EQ(file.Write(data.data(), 250, nullptr), nullptr);
  // Writing past the end: the blocks in between read as zeros.
  ASSERT_EQ(file.WriteAt("xy", 640, 2, nullptr), nullptr);
  std::vector<u8> expected = data;
  expected.resize(642);
  expected[640] = 'x', expected[641] = 'y';
  EXPECT_EQ(ReadAll(file), expected);
  EXPECT_EQ(file.BlockCount(), 7u);

  // Shrinking into the middle of a block, then growing again: the cut bytes come back as zeros.
  ASSERT_EQ(file.Seek(130, SEEK_FROM_START), nullptr);
  ASSERT_EQ(file.Truncate(), nullptr);
  EXPECT_EQ(file.GetSize(), 130u);
  EXPECT_EQ(file.BlockCount(), 2u);
  ASSERT_EQ(file.SetLength(260), nullptr);
  expected.assign(data.begin(), data.begin() + 130);
  expected.resize(260);
  EXPECT_EQ(ReadAll(file), expected);
  ASSERT_EQ(file.Flush(), nullptr);
  EXPECT_EQ(ParseContainer(base->bytes), expected);

  ASSERT_EQ(file.SetLength(0), nullptr);
  ASSERT_EQ(file.Flush(), nullptr);
  EXPECT_EQ(base->bytes.size(), 18u);
  EXPECT_TRUE(ParseContainer(base->bytes).empty());
}

// Regression tests for faults of the straightforward design.

TEST(LzssFile, MalformedCodedBlockGivesInvalidFormat) {
  std::vector<u8> data = RandomBytes(192, 3);
  const std::vector<u8> container = BuildContainer(data, 64, 0xC4, {Form::kRaw, Form::kRaw});
  const u32 lastStart = LoadLe32(container, 14 + 8);
  const std::vector<std::vector<u8>> malformed = {
      {0x7F, 0xF8, 0x58, 0x40},  // a match of distance 1 before any output, then a literal
      // 'a', then matches of distance 1 and length 17 that run past the 64-byte block
      {0xB0, 0xBF, 0xFF, 0xDF, 0xFF, 0xEF, 0xFF, 0xF7, 0xFF, 0xF8},
  };
  for (const std::vector<u8>& coded : malformed) {
    MemoryFile base(std::vector<u8>(container.begin(), container.begin() + lastStart));
    base.bytes.insert(base.bytes.end(), coded.begin(), coded.end());
    CLzssFile file(&base, 0);
    ASSERT_EQ(file.isOpen, 1u);
    std::vector<u8> buffer(64);
    ASSERT_EQ(file.ReadAt(buffer.data(), 64, 64, nullptr), nullptr);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 64));
    EXPECT_EQ(file.ReadAt(buffer.data(), 128, 64, nullptr), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.CurrentBlock(), CLzssFile::kNoBlock);
    // The earlier block still reads correctly afterwards.
    ASSERT_EQ(file.ReadAt(buffer.data(), 0, 64, nullptr), nullptr);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
  }
}

TEST(LzssFile, UnusableStreamAnswersEveryOperationWithAnError) {
  std::vector<std::vector<u8>> broken;
  broken.push_back({'L', 'Z', 'S'});                               // header cut short
  broken.push_back(BuildContainer(RandomBytes(10, 1), 64, 0xC4));  // bad magic below
  broken.back()[0] = 'X';
  broken.push_back(BuildContainer(RandomBytes(10, 1), 64, 0xC4));  // table cut short
  StoreLe32(broken.back(), 4, 64 * 100);
  broken.back().resize(14 + 4 * 50);
  // Block sizes no reader can afford: 0xE0000000 made every reader allocate 3.5 GiB.
  for (u32 blockSize : {0u, CLzssFile::kMaxBlockSize + 1, 0xE0000000u}) {
    broken.push_back(BuildContainer(RandomBytes(10, 1), 64, 0xC4));
    StoreLe32(broken.back(), 8, blockSize);
  }
  for (const std::vector<u8>& bytes : broken) {
    MemoryFile base(bytes);
    CLzssFile file(&base, 0);
    ASSERT_EQ(file.isOpen, 0u);
    u8 buffer[4];
    u32 done = 7;
    EXPECT_EQ(file.Read(buffer, 1, &done), ERR_INVALIDFORMAT);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(file.ReadAt(buffer, 0, 1, nullptr), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.Write(buffer, 1, &done), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.WriteAt(buffer, 0, 1, nullptr), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.Seek(0, SEEK_FROM_START), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.Flush(), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.Truncate(), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.SetBlockCount(3), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.SetLength(3), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.SelectBlock(0, 1), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_EQ(base.writes, 0u);
    EXPECT_EQ(CLzssFile::CreateContainer(&base, 0, 0xC4), ERR_BADPARAMS);
    EXPECT_EQ(CLzssFile::CreateContainer(&base, CLzssFile::kMaxBlockSize + 1, 0xC4), ERR_BADPARAMS);
    EXPECT_EQ(CLzssFile::CreateContainer(&base, 64, 0xC7), ERR_NOSUCHBITLENGTHS);
  }
  MemoryFile largest;
  ASSERT_EQ(CLzssFile::CreateContainer(&largest, CLzssFile::kMaxBlockSize, 0xC4), nullptr);
  EXPECT_EQ(CLzssFile(&largest, 0).isOpen, 1u);
}

TEST(LzssFile, StoredLengthAboveTheBlockSizeIsInvalid) {
  std::vector<u8> data = RandomBytes(256, 5);
  const std::vector<u8> good = BuildContainer(data, 64, 0xC4, {Form::kRaw, Form::kRaw, Form::kRaw});
  // Decreasing entries: block 1's stored length wraps around.
  std::vector<u8> decreasing = good;
  StoreLe32(decreasing, 14 + 8, LoadLe32(good, 14 + 4) - 1);
  // Cut before the start of the last block.
  std::vector<u8> cut(good.begin(), good.begin() + LoadLe32(good, 14 + 12) - 10);
  // A last block stored with more bytes than the block size.
  std::vector<u8> padded = good;
  padded.resize(padded.size() + 1, 0);
  struct Case {
    std::vector<u8> bytes;
    std::vector<ErrorCode> results;  // per block
  };
  const Case cases[] = {
      {decreasing, {nullptr, ERR_INVALIDFORMAT, ERR_INVALIDFORMAT, nullptr}},
      {cut, {nullptr, nullptr, ERR_EOF, ERR_INVALIDFORMAT}},
      {padded, {nullptr, nullptr, nullptr, ERR_INVALIDFORMAT}},
  };
  for (const Case& c : cases) {
    MemoryFile base(c.bytes);
    CLzssFile file(&base, 0);
    ASSERT_EQ(file.isOpen, 1u);
    std::vector<u8> buffer(64);
    for (u32 block = 0; block < 4; ++block) {
      EXPECT_EQ(file.ReadAt(buffer.data(), 64 * block, 64, nullptr), c.results[block]) << block;
      if (!c.results[block]) {
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 64 * block));
      }
    }
  }
}

TEST(LzssFile, LoadThatFailsPartWayLeavesNoBlockCurrent) {
  std::vector<u8> data = SampleBlocks(256)[0].bytes;
  MemoryFile base(BuildContainer(data, 128, 0xC4));
  CLzssFile file(&base, 0);
  std::vector<u8> buffer(128);
  ASSERT_EQ(file.ReadAt(buffer.data(), 0, 128, nullptr), nullptr);
  ASSERT_EQ(file.CurrentBlock(), 0u);
  // The load of block 1 clears the work buffer and then fails to read.
  base.failReadFrom = base.reads + 1;
  EXPECT_EQ(file.ReadAt(buffer.data(), 128, 128, nullptr), ERR_READFAIL);
  EXPECT_EQ(file.CurrentBlock(), CLzssFile::kNoBlock);
  base.failReadFrom = 0;
  ASSERT_EQ(file.ReadAt(buffer.data(), 0, 128, nullptr), nullptr);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
}

TEST(LzssFile, BaseFileFaultsArePassedOn) {
  auto base = NewContainer(64);
  CLzssFile file(base.get(), 0);
  std::vector<u8> data = SampleBlocks(300)[0].bytes;
  ASSERT_EQ(file.Write(data.data(), 300, nullptr), nullptr);
  base->failWriteFrom = base->writes + 1;
  base->failError = ERR_DISKFULL;
  EXPECT_EQ(file.Flush(), ERR_DISKFULL);
  // The block stays dirty: once the disk works again it is stored.
  base->failWriteFrom = 0;
  ASSERT_EQ(file.Flush(), nullptr);
  EXPECT_EQ(ParseContainer(base->bytes), data);

  std::vector<u8> buffer(300);
  u32 done = 0;
  ASSERT_EQ(file.ReadAt(buffer.data(), 0, 64, nullptr), nullptr);
  base->failReadFrom = base->reads + 1;
  base->failError = ERR_READFAIL;
  EXPECT_EQ(file.ReadAt(buffer.data(), 200, 100, &done), ERR_READFAIL);
  base->failReadFrom = 0;
  // A read that fails in its second block reports the bytes of the first.
  ASSERT_EQ(file.ReadAt(buffer.data(), 0, 10, nullptr), nullptr);
  base->failReadFrom = base->reads + 1;
  EXPECT_EQ(file.ReadAt(buffer.data(), 50, 100, &done), ERR_READFAIL);
  EXPECT_EQ(done, 14u);
  EXPECT_EQ(file.GetPosition(), 64u);
  base->failReadFrom = 0;

  // A header that cannot be read leaves the stream unusable.
  MemoryFile failing(base->bytes);
  failing.failReadFrom = 1;
  CLzssFile unusable(&failing, 0);
  EXPECT_EQ(unusable.isOpen, 0u);
}

TEST(LzssFileAllocation, OpenFailuresLeaveTheStreamUnusable) {
  const std::vector<u8> data = SampleBlocks(1000)[0].bytes;
  const std::vector<u8> container = BuildContainer(data, 256, 0xC4);
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile base(container);
    run.Arm();
    {
      CLzssFile file(&base, 0);
      run.Disarm();
      if (run.Injected()) {
        EXPECT_EQ(file.isOpen, 0u);
        u8 byte;
        EXPECT_EQ(file.ReadAt(&byte, 0, 1, nullptr), ERR_INVALIDFORMAT);
      } else {
        ASSERT_EQ(file.isOpen, 1u);
        EXPECT_EQ(ReadAll(file), data);
      }
    }
    EXPECT_EQ(base.bytes, container);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 3u);  // the work buffer, the table, then the clean run
}

TEST(LzssFileAllocation, LaterFailuresReportNotEnoughMemoryAndLoseNothing) {
  // Rewrites blocks and grows the table past its first step; every allocation on the way may
  // fail. A failure reports NOTENOUGHMEM (the coder's own tree failing only costs compression),
  // and after memory is back the same write and a flush store exactly the expected data.
  const std::vector<u8> data = SampleBlocks(15 * 256)[0].bytes;
  const std::vector<u8> container = BuildContainer(data, 256, 0xC4);
  const std::vector<u8> patch = SampleBlocks(2000)[1].bytes;
  std::vector<u8> expected = data;
  expected.resize(3700 + patch.size());
  std::copy(patch.begin(), patch.end(), expected.begin() + 3700);
  u32 reported = 0;
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile base(container);
    {
      CLzssFile file(&base, 0);
      ASSERT_EQ(file.isOpen, 1u);
      run.Arm();
      ErrorCode error = file.WriteAt(patch.data(), 3700, static_cast<u32>(patch.size()), nullptr);
      if (!error) error = file.Flush();
      run.Disarm();
      if (run.Injected()) {
        EXPECT_TRUE(error == nullptr || error == ERR_NOTENOUGHMEM) << ErrorText(error);
        reported += error == ERR_NOTENOUGHMEM;
      } else {
        EXPECT_EQ(error, nullptr);
      }
      ASSERT_EQ(file.WriteAt(patch.data(), 3700, static_cast<u32>(patch.size()), nullptr), nullptr);
      ASSERT_EQ(file.Flush(), nullptr);
      EXPECT_EQ(ReadAll(file), expected);
    }
    EXPECT_EQ(ParseContainer(base.bytes), expected);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_GT(runs, 5u);
  EXPECT_GT(reported, 3u);
}

TEST(LzssFile, SkippedBytesReadAsZerosWhicheverBlockWasHeldBefore) {
  // Block 1 is 'q', a skip of 5 bytes, 'z'. Without clearing, the skipped bytes would show
  // whatever block 0 left in the work buffer.
  std::vector<u8> first = RandomBytes(64, 12);
  std::vector<u8> container =
      BuildContainer(Concat({first, std::vector<u8>(64, 0)}), 64, 0xC4, {Form::kRaw, Form::kEmpty});
  container.insert(container.end(), {0xB8, 0x80, 0x00, 0xEF, 0x40});
  MemoryFile base(container);
  CLzssFile file(&base, 0);
  std::vector<u8> expected(64, 0);
  expected[0] = 'q';
  expected[6] = 'z';
  EXPECT_EQ(ReadAll(file), Concat({first, expected}));
}

TEST(LzssFile, WriteBackWithACorruptTableLeavesTheHeaderAlone) {
  // Block 1's entry points into the header: storing the block there would destroy it.
  std::vector<u8> data = RandomBytes(128, 13);
  std::vector<u8> container = BuildContainer(data, 64, 0xC4, {Form::kRaw, Form::kRaw});
  StoreLe32(container, 14 + 4, 4);
  MemoryFile base(container);
  {
    CLzssFile file(&base, 0);
    ASSERT_EQ(file.isOpen, 1u);
    std::vector<u8> block(64, 0x33);
    ASSERT_EQ(file.WriteAt(block.data(), 64, 64, nullptr), nullptr);
    EXPECT_EQ(file.Flush(), ERR_INVALIDFORMAT);
  }
  EXPECT_EQ(base.bytes, container);
}

TEST(LzssFile, OverlappingBlocksInACorruptTableAreNotOverwrittenOrCut) {
  // Block 2's entry lies past block 3's: the two overlap. Moving the blocks behind a rewritten
  // block 1, or cutting the file behind a shorter stream, would destroy block 3's first bytes.
  std::vector<u8> data = RandomBytes(256, 14);
  std::vector<u8> container =
      BuildContainer(data, 64, 0xC4, {Form::kRaw, Form::kRaw, Form::kRaw, Form::kRaw});
  StoreLe32(container, 14 + 8, LoadLe32(container, 14 + 12) + 3);
  MemoryFile base(container);
  {
    CLzssFile file(&base, 0);
    std::vector<u8> buffer(64);
    ASSERT_EQ(file.ReadAt(buffer.data(), 192, 64, nullptr), nullptr);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 192));
    std::vector<u8> zeros(64, 0);
    ASSERT_EQ(file.WriteAt(zeros.data(), 64, 64, nullptr), nullptr);
    EXPECT_EQ(file.Flush(), ERR_INVALIDFORMAT);
    EXPECT_EQ(file.SetLength(100), ERR_INVALIDFORMAT);
  }
  EXPECT_EQ(base.bytes, container);
}

TEST(LzssFile, SequentialLoadsReadTheBaseFileInLargePieces) {
  std::vector<u8> data = SampleBlocks(1024 * 64)[0].bytes;
  MemoryFile base(BuildContainer(data, 1024, 0xC4));
  CLzssFile file(&base, 0);
  ASSERT_EQ(file.isOpen, 1u);
  const u32 readsAtOpen = base.reads;
  std::vector<u8> got(data.size());
  for (u32 at = 0; at < data.size(); at += 256) {
    ASSERT_EQ(file.Read(&got[at], 256, nullptr), nullptr);
  }
  EXPECT_EQ(got, data);
  // The first block on its own, then the rest in one piece: the container is far below the
  // read-ahead size.
  EXPECT_LE(base.reads - readsAtOpen, 2u);

  // Backwards on a fresh stream, every block is read on its own.
  CLzssFile backwards(&base, 0);
  const u32 readsBefore = base.reads;
  got.assign(data.size(), 0);
  for (u32 block = 64; block-- > 0;) {
    ASSERT_EQ(backwards.ReadAt(&got[block * 1024], block * 1024, 1024, nullptr), nullptr);
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(base.reads - readsBefore, 64u);
}

TEST(LzssFile, ReadAheadBytesAreNotServedAfterARewriteMovedTheBlocks) {
  auto base = NewContainer(1000);
  std::vector<u8> data = SampleBlocks(6000)[0].bytes;
  {
    CLzssFile file(base.get(), 0);
    ASSERT_EQ(file.Write(data.data(), 6000, nullptr), nullptr);
  }
  CLzssFile file(base.get(), 0);
  std::vector<u8> got(6000);
  // Blocks 0 and 1 in order: the read-ahead holds the stored blocks behind them.
  ASSERT_EQ(file.ReadAt(got.data(), 0, 2000, nullptr), nullptr);
  // Block 1 becomes random, is stored raw when block 2 is selected, and blocks 2.. move back.
  std::vector<u8> noise = RandomBytes(1000, 9);
  ASSERT_EQ(file.WriteAt(noise.data(), 1000, 1000, nullptr), nullptr);
  std::copy(noise.begin(), noise.end(), data.begin() + 1000);
  ASSERT_EQ(file.ReadAt(got.data() + 2000, 2000, 4000, nullptr), nullptr);
  EXPECT_TRUE(std::equal(got.begin() + 2000, got.end(), data.begin() + 2000));
  EXPECT_EQ(ReadAll(file), data);
}
