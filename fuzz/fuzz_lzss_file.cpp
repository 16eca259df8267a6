// Input: a container. The stream is opened over it in memory, read from end to end, written at a
// place chosen by the input's last bytes, flushed and reopened; a write that was reported stored
// must read back.
#include <cstring>
#include <vector>

#include "archive/lzss_file.h"
#include "capped_file.h"
#include "core/byte_order.h"

namespace {

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
  if (size >= 12 &&
      (LoadLittleEndian32(data + 8) > (1u << 16) || LoadLittleEndian32(data + 4) > (8u << 20)))
    return 0;
  CappedFile base(data, size);
  u32 position = 0;
  std::vector<u8> bytes;
  {
    CLzssFile file(&base, 0);
    file.SetEncoder(LzssEncodeBlock);
    if (!file.isOpen) {  // an unusable stream answers everything with an error, writes nothing
      u8 byte;
      for (ErrorCode error :
           {file.Read(&byte, 1, nullptr), file.WriteAt(&byte, 0, 1, nullptr),
            file.Seek(0, SEEK_FROM_START), file.Flush(), file.SetLength(3), file.SelectBlock(0, 1)})
        Check(error == ERR_INVALIDFORMAT);
      Check(base.writes == 0);
      return 0;
    }
    ReadEverything(file);
    if (size < 8) return 0;
    const u8* p = data + size - 8;
    position = LoadLittleEndian32(p) % (file.GetSize() + 200);
    bytes.resize(1 + (p[4] | p[5] << 8) % 600);
    for (u32 k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<u8>(p[6] + (p[7] & 3) * (k / 7));
    const u32 length = static_cast<u32>(bytes.size());
    if (file.WriteAt(bytes.data(), position, length, nullptr) || file.Flush()) return 0;
  }
  CLzssFile reopened(&base, 0);
  Check(reopened.isOpen == 1);
  std::vector<u8> back(bytes.size());
  Check(reopened.ReadAt(back.data(), position, static_cast<u32>(back.size()), nullptr) == nullptr);
  Check(back == bytes);
  ReadEverything(reopened);
  return 0;
}
