#include "archive/payload_scan.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/pools.h"

namespace {

bool IsPayloadHeader(const u8* at) {
  if (std::memcmp(at, "LZSS", 4) != 0) return false;
  return LoadLittleEndian32(at + 8) == kPayloadBlockSize;
}

}  // namespace

ErrorCode FindPayload(CFile* file, u32* offset, PayloadSeal* seal) {
  if (!file || !offset) return ERR_BADPARAMS;
  if (seal) seal->length = 0;
  const u32 bufferSize = kPayloadScanStep + kPayloadScanOverlap;
  u8* buffer = static_cast<u8*>(g_ptrPool->Alloc(bufferSize));
  if (!buffer) return ERR_NOTENOUGHMEM;

  const u32 size = file->GetSize();
  ErrorCode result = ERR_NOTFOUND;
  // Every block up to the end of the file is scanned, so a payload in the last 16 KiB (or in a
  // file shorter than that) is found too.
  for (u32 block = 0; block < size && size - block >= kPayloadProbeLength;
       block += kPayloadScanStep) {
    ErrorCode error = file->Seek(static_cast<i32>(block), SEEK_FROM_START);
    if (error) {
      result = error;
      break;
    }
    u32 got = 0;
    error = file->Read(buffer, bufferSize, &got);
    if (got > bufferSize) got = bufferSize;
    if (error && error != ERR_EOF) {
      result = error;
      break;
    }
    if (got < kPayloadProbeLength) break;
    u32 last = got - kPayloadProbeLength;
    if (last >= kPayloadScanStep) last = kPayloadScanStep - 1;
    for (u32 i = 0; i <= last; ++i) {
      if (seal && i + kSealSize <= got && ReadSeal(buffer + i, seal)) {
        *offset = block + i + kSealSize;
        result = nullptr;
        break;
      }
      if (IsPayloadHeader(buffer + i)) {
        *offset = block + i;
        result = nullptr;
        break;
      }
    }
    if (!result || block > 0xFFFFFFFFu - kPayloadScanStep) break;
  }
  g_ptrPool->Free(buffer);
  return result;
}
