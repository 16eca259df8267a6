// Input: a container. The stream is opened over it in memory, read from end to end, written at a
// few places chosen by the input, flushed and reopened; a write that was reported stored must
// read back.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/lzss_file.h"
#include "capped_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

u32 Le32(const u8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24; }

void ReadEverything(CLzssFile& file) {
  std::vector<u8> buffer(3000);
  u32 position = 0;
  while (position < file.GetSize()) {
    u32 done = 0;
    ErrorCode error = file.ReadAt(buffer.data(), position, 3000, &done);
    Check(done <= 3000);
    if (error) {
      position = (position / file.BlockSize() + 1) * file.BlockSize();  // skip a damaged block
      if (position == 0) break;
    } else {
      Check(done > 0);
      position += done;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  // The work buffer follows the header's block size, and reading everything the length: keep
  // both to what one run can afford.
  if (size >= 12 && (Le32(data + 8) > (1u << 16) || Le32(data + 4) > (8u << 20))) return 0;
  CappedFile base(data, size);
  struct Written {
    u32 position;
    std::vector<u8> bytes;
  };
  std::vector<Written> written;
  {
    CLzssFile file(&base, 0);
    if (!file.isOpen) {
      u8 byte;
      Check(file.Read(&byte, 1, nullptr) == ERR_INVALIDFORMAT);
      return 0;
    }
    ReadEverything(file);
    // Up to three writes, placed and filled from the input's last bytes.
    bool allStored = true;
    for (u32 i = 0; i < 3 && size >= 8 * (i + 1); ++i) {
      const u8* p = data + size - 8 * (i + 1);
      u32 position = Le32(p) % (file.GetSize() + 200);
      u32 length = (p[4] | p[5] << 8) % 600;
      std::vector<u8> bytes(length);
      for (u32 k = 0; k < length; ++k) bytes[k] = static_cast<u8>(p[6] + (p[7] & 3) * (k / 7));
      allStored &= file.WriteAt(bytes.data(), position, length, nullptr) == nullptr;
      written.push_back({position, bytes});
    }
    allStored &= file.Flush() == nullptr;
    if (!allStored) written.clear();
  }
  CLzssFile reopened(&base, 0);
  if (!written.empty()) Check(reopened.isOpen == 1);
  if (!reopened.isOpen) return 0;
  // Later writes win where writes overlap: check each against the final picture.
  std::vector<int> owner;
  for (size_t w = 0; w < written.size(); ++w) {
    const Written& item = written[w];
    if (owner.size() < item.position + item.bytes.size())
      owner.resize(item.position + item.bytes.size(), -1);
    for (size_t k = 0; k < item.bytes.size(); ++k) owner[item.position + k] = static_cast<int>(w);
  }
  for (size_t at = 0; at < owner.size(); ++at) {
    if (owner[at] < 0) continue;
    u8 byte = 0;
    Check(reopened.ReadAt(&byte, static_cast<u32>(at), 1, nullptr) == nullptr);
    const Written& item = written[owner[at]];
    Check(byte == item.bytes[at - item.position]);
  }
  ReadEverything(reopened);
  return 0;
}
