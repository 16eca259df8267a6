#include "archive/payload_bounds.h"

#include <cstring>

#include "archive/lzss_codec.h"
#include "archive/lzss_file.h"
#include "archive/payload_scan.h"
#include "core/byte_order.h"
#include "core/crc32.h"
#include "core/pools.h"

namespace {

constexpr u32 kSmallestContainer = CLzssFile::kHeaderSize + 4;
// "PE\0\0", the 20-byte file header and the PE32+ optional header up to its Security entry.
constexpr u32 kPeHeadersRead = 4 + 20 + 152;
constexpr u32 kCrcChunk = 0x10000;

u32 Load16(const u8* p) { return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8; }

// The Security entry (index 4) of the optional header's data directory gives the certificate
// table; unlike the other entries its address is a file offset, not an RVA. It lies 128 bytes
// into a PE32 optional header and 144 bytes into a PE32+ one. A table that does not lie behind
// the container's header (a signed stub that a payload was appended to, say) is not the
// payload's business.
void FindCertificateTable(CFile* file, PayloadBounds* bounds) {
  u8 dos[64];
  u8 pe[kPeHeadersRead];
  if (file->ReadAt(dos, 0, sizeof(dos), nullptr) || dos[0] != 'M' || dos[1] != 'Z') return;
  if (file->ReadAt(pe, LoadLittleEndian32(dos + 0x3C), sizeof(pe), nullptr)) return;
  if (std::memcmp(pe, "PE\0\0", 4) != 0) return;
  const u8* optional = pe + 24;
  u32 entry = 128, countAt = 92;
  if (Load16(optional) == 0x20B) {
    entry = 144;
    countAt = 108;
  } else if (Load16(optional) != 0x10B) {
    return;
  }
  if (Load16(pe + 20) < entry + 8 || LoadLittleEndian32(optional + countAt) < 5) return;
  const u32 table = LoadLittleEndian32(optional + entry);
  const u32 size = LoadLittleEndian32(optional + entry + 4);
  if (size == 0 || table < bounds->offset + kSmallestContainer ||
      static_cast<u64>(table) + size > file->GetSize()) {
    return;
  }
  bounds->certificateOffset = table;
  bounds->certificateSize = size;
}

// Is coded[0 .. size) a last block as the writers store it coded: a literal first, no skip, no
// match reaching before the block, at most rawLength bytes, the last token ending in the last
// byte and the unused low bits of that byte zero? Reads bit by bit as the decoder does, with
// zeros past the end.
bool CodedBlockIsTight(const u8* coded, u32 size, u8 method, u32 rawLength) {
  if (!LzssMethodValid(method) || size < 2) return false;
  const u32 offsetBits = method >> 4;
  const u32 lengthBits = method & 15u;
  // size is at most a block and a signer's padding, so bit positions fit 32 bits.
  u32 bit = 0;
  auto take = [&](u32 count) {
    u32 value = 0;
    for (; count > 0; --count, ++bit) {
      const u32 byte = bit >> 3;
      value = value << 1 | (byte < size ? (coded[byte] >> (7 - (bit & 7))) & 1u : 0u);
    }
    return value;
  };
  u32 produced = 0;
  do {
    if (take(1)) {
      take(8);
      ++produced;
    } else {
      const u32 code = take(offsetBits);
      const u32 count = take(lengthBits) + 2;
      if (code == 0 || (1u << offsetBits) - code > produced) return false;
      produced += count;
    }
    if (produced > rawLength) return false;
  } while ((bit >> 3) < size - 1);
  if (bit <= 8 * (size - 1) || bit > 8 * size) return false;
  const u32 unused = 8 * size - bit;
  return (coded[size - 1] & ((1u << unused) - 1)) == 0;
}

// Where the payload of a signed file ends, the certificate table starting at `table`.
//
// A signer pads the file with zero bytes to an 8-byte boundary before it appends the table, so
// the payload ends at table - k for some k from 0 to 7 whose k bytes before the table are zero
// (k = 0 when the table's offset is no multiple of 8). Only the last block's stored length S
// depends on k; its raw length R does not. Writers store a block raw with S = R, or coded as a
// stream that CodedBlockIsTight accepts. The payload ends at the largest candidate at which the
// last block is such a coded stream; failing that, at the candidate at which it is raw with
// S = R; failing that, at the table. Why in this order: a candidate past the true end reads the
// padding as a skip or leaves its last byte unused, so it never passes as coded; data stored raw
// (because they did not compress) practically never read as such a stream; but a coded block
// within 7 bytes of its raw length meets S = R at a longer candidate, so the coded reading wins.
u32 SignedPayloadEnd(CFile* file, u32 offset, u32 table) {
  u8 header[CLzssFile::kHeaderSize];
  u8 entry[4];
  if (file->ReadAt(header, offset, sizeof(header), nullptr)) return table;
  const u32 length = LoadLittleEndian32(header + 4);
  const u32 blockSize = LoadLittleEndian32(header + 8);
  const u32 last = length ? (length - 1) / blockSize : 0;
  const u32 rawLength = length - blockSize * last;
  if (file->ReadAt(entry, offset + CLzssFile::kHeaderSize + 4 * last, 4, nullptr)) return table;
  const u32 start = offset + LoadLittleEndian32(entry);
  if (start < offset || start > table || table - start > blockSize + 7) return table;
  const u32 stored = table - start;
  u8* tail = static_cast<u8*>(g_ptrPool->Alloc(stored + 1));
  if (!tail) return table;
  u32 end = table;
  if (!file->ReadAt(tail, start, stored, nullptr)) {
    u32 zeros = 0;
    while (table % 8 == 0 && zeros < 7 && zeros < stored && tail[stored - 1 - zeros] == 0) ++zeros;
    u32 k = 0;
    while (k <= zeros && !(stored - k < rawLength &&
                           CodedBlockIsTight(tail, stored - k, header[12], rawLength))) {
      ++k;
    }
    if (k > zeros) {
      k = 0;
      while (k <= zeros && stored - k != rawLength) ++k;
    }
    if (k <= zeros) end = table - k;
  }
  g_ptrPool->Free(tail);
  return end;
}

}  // namespace

ErrorCode LocatePayload(CFile* file, PayloadBounds* bounds) {
  *bounds = PayloadBounds();
  PayloadSeal seal;
  ErrorCode error = FindPayload(file, &bounds->offset, &seal);
  if (error) return error;
  FindCertificateTable(file, bounds);
  const u32 size = file->GetSize();
  if (seal.length) {
    bounds->sealed = 1;
    bounds->sealCrc = seal.crc;
    const u64 end = static_cast<u64>(bounds->offset) + seal.length;
    bounds->end = end > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(end);
    return end > size ? ERR_EOF : nullptr;
  }
  u8 spare = 0;
  error = file->ReadAt(&spare, bounds->offset + kSpareByteOffset, 1, nullptr);
  if (error) return error;
  if (spare == kSealedSpare) return ERR_BADFILEFORMAT;
  bounds->end = bounds->certificateOffset
                    ? SignedPayloadEnd(file, bounds->offset, bounds->certificateOffset)
                    : size;
  return nullptr;
}

ErrorCode PayloadCrc(CFile* file, u32 offset, u32 length, u32* crc) {
  u8* buffer = static_cast<u8*>(g_ptrPool->Alloc(kCrcChunk));
  if (!buffer) return ERR_NOTENOUGHMEM;
  u32 value = 0;
  ErrorCode error = nullptr;
  for (u32 done = 0; done < length && !error;) {
    const u32 chunk = length - done < kCrcChunk ? length - done : kCrcChunk;
    error = file->ReadAt(buffer, offset + done, chunk, nullptr);
    value = Crc32Update(value, buffer, chunk);
    done += chunk;
  }
  g_ptrPool->Free(buffer);
  *crc = value;
  return error;
}
