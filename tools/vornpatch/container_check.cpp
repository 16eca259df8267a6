#include "container_check.h"

#include <cstdarg>
#include <cstdio>

#include "archive/lzss_codec.h"
#include "copy.h"
#include "messages.h"
#include "progress.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

}  // namespace

u64 ContainerCheckWork(CLzssFile* container) {
  const u32 count = container->BlockCount();
  const u32 first = container->BlockOffset(0);
  const u32 end = container->BlockOffset(count);
  return end > first ? end - first : 0;
}

bool CheckContainerTable(CLzssFile* container, std::string* fault) {
  const u32 count = container->BlockCount();
  const u32 tableEnd = CLzssFile::kHeaderSize + 4 * count;
  if (container->BlockOffset(0) != tableEnd) {
    *fault = Format("the first block is stored at offset %u, but the table of %u blocks ends at %u",
                    container->BlockOffset(0), count, tableEnd);
    return false;
  }
  // Entries must not decrease, and none may pass the end of the data (entry count is the end of
  // the file as the container sees it).
  const u32 dataEnd = container->BlockOffset(count);
  for (u32 i = 0; i < count; ++i) {
    const u32 start = container->BlockOffset(i);
    if (start > dataEnd) {
      *fault = Format(
          "the container is cut short: block %u is stored at offset %u, but the "
          "data end at %u",
          i, start, dataEnd);
      return false;
    }
    if (i + 1 < count && container->BlockOffset(i + 1) < start) {
      *fault = Format("block table entry %u (%u) lies after entry %u (%u)", i, start, i + 1,
                      container->BlockOffset(i + 1));
      return false;
    }
  }
  return true;
}

bool CheckContainer(CLzssFile* container, Progress* progress, std::string* fault,
                    std::string* summary) {
  if (!CheckContainerTable(container, fault)) return false;
  const u32 count = container->BlockCount();
  const u32 blockSize = container->BlockSize();
  const u32 length = container->GetSize();
  const u8 method = container->Method();
  CFile* stored = container->baseFile;

  const u32 bufferSize = length < blockSize ? (length ? length : 1) : blockSize;
  ChunkBuffer input(bufferSize);
  ChunkBuffer output(bufferSize);
  if (!input.Data() || !output.Data()) {
    *fault = Format("no memory for blocks of %u bytes", blockSize);
    return false;
  }

  u32 coded = 0, raw = 0, empty = 0;
  for (u32 i = 0; i < count; ++i) {
    const u32 start = container->BlockOffset(i);
    const u32 end = container->BlockOffset(i + 1);
    const u32 storedLength = end - start;
    const u32 rawLength = i + 1 < count ? blockSize : length - blockSize * (count - 1);
    if (storedLength >= rawLength) {
      if (storedLength > blockSize) {
        *fault = Format(
            "block %u at offset %u is stored raw with %u bytes, more than the block "
            "size %u",
            i, start, storedLength, blockSize);
        return false;
      }
      ++raw;
    } else if (storedLength == 0) {
      ++empty;
    } else {
      if (!LzssMethodValid(method)) {
        *fault = Format("block %u is coded, but the method byte 0x%02X is not a valid method", i,
                        method);
        return false;
      }
      ErrorCode error = stored->ReadAt(input.Data(), start, storedLength, nullptr);
      if (error) {
        *fault = Format("block %u (%u bytes at offset %u) cannot be read: %s", i, storedLength,
                        start, DescribeError(error).c_str());
        return false;
      }
      u32 produced = 0;
      error =
          LzssDecodeBlock(input.Data(), storedLength, output.Data(), rawLength, &produced, method);
      if (error) {
        *fault = Format("block %u (%u coded bytes at offset %u) does not decode: %s", i,
                        storedLength, start, DescribeError(error).c_str());
        return false;
      }
      // A block may decode short (produced < rawLength): readers fill the rest of the block with
      // zeros, and the default (optimal) coder leaves trailing zeros out. Damage to the data is
      // caught by the pack's CRC-32 table.
      ++coded;
    }
    if (progress) progress->Advance(storedLength);
  }
  *summary = Format("%u blocks of %u bytes, method 0x%02X: %u coded, %u raw, %u empty", count,
                    blockSize, method, coded, raw, empty);
  return true;
}
