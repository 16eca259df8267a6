#include "archive/payload_bounds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/lzss_file.h"
#include "archive/payload_seal.h"
#include "core/byte_order.h"
#include "core/crc32.h"
#include "support/lzss_samples.h"
#include "support/memory_file.h"

namespace {

using Bytes = std::vector<u8>;

void SetCertificateTable(Bytes* file, bool plus, u32 offset, u32 size) {
  StoreLittleEndian32(&(*file)[0x98 + (plus ? 144 : 128)], offset);
  StoreLittleEndian32(&(*file)[0x98 + (plus ? 148 : 132)], size);
}

// An executable image with a PE32 or PE32+ optional header and no certificate table.
Bytes Image(bool plus, u32 size) {
  Bytes image(size, 0x90);
  std::memcpy(&image[0], "MZ", 2);
  StoreLittleEndian32(&image[0x3C], 0x80);
  std::memcpy(&image[0x80], "PE\0\0", 4);
  image[0x80 + 20] = plus ? 240 : 224;  // size of the optional header (low byte)
  image[0x80 + 21] = 0;
  image[0x98] = 0x0B;
  image[0x99] = plus ? 2 : 1;
  StoreLittleEndian32(&image[0x98 + (plus ? 108 : 92)], 16);  // data directory entries
  SetCertificateTable(&image, plus, 0, 0);
  return image;
}

Bytes Container(const Bytes& data) {
  MemoryFile base;
  EXPECT_EQ(CLzssFile::CreateContainer(&base, 32768, 0xC4), nullptr);
  {
    CLzssFile stream(&base, 0);
    stream.SetEncoder(LzssEncodeBlock);
    u32 done = 0;
    EXPECT_EQ(stream.Write(data.data(), static_cast<u32>(data.size()), &done), nullptr);
  }
  return base.bytes;
}

u32 LastBlockStart(const Bytes& container) {
  const u32 length = LoadLittleEndian32(&container[4]);
  return LoadLittleEndian32(&container[14 + 4 * ((length - 1) / 32768)]);
}

// A container whose last block is coded and whose last stored byte is zero, so that a signer's
// padding cannot be told from it by its bytes.
Bytes CodedEndingInZero() {
  const Bytes noise = RandomBytes(40000, 3);
  for (u32 tail = 100; tail < 3000; ++tail) {
    Bytes data(noise.begin(), noise.begin() + 32768);
    for (u32 i = 0; i < tail; ++i) data.push_back(static_cast<u8>("patch file "[i % 11]));
    data.push_back(0);
    Bytes container = Container(data);
    if (container.back() == 0 && container.size() - LastBlockStart(container) < tail) {
      return container;
    }
  }
  ADD_FAILURE() << "no coded block ends in a zero byte";
  return Container(noise);
}

// A container whose last block is stored raw and ends in seven zero bytes.
Bytes RawEndingInZeros() {
  Bytes data = RandomBytes(32768 + 301, 5);
  std::fill(data.end() - 7, data.end(), 0);
  return Container(data);
}

// The record and the container marked as sealed.
Bytes Sealed(Bytes container) {
  container[kSpareByteOffset] = kSealedSpare;
  Bytes record(kSealSize);
  WriteSeal(record.data(), {static_cast<u32>(container.size()),
                            Crc32Update(0, container.data(), container.size())});
  record.insert(record.end(), container.begin(), container.end());
  return record;
}

// The image, the payload, and when signed, zeros up to an 8-byte boundary and a table.
Bytes PatchFile(bool plus, u32 imageSize, const Bytes& payload, bool sign) {
  Bytes file = Image(plus, imageSize);
  file.insert(file.end(), payload.begin(), payload.end());
  if (sign) {
    file.resize((file.size() + 7) / 8 * 8, 0);
    SetCertificateTable(&file, plus, static_cast<u32>(file.size()), 600);
    file.resize(file.size() + 600, 0x30);
  }
  return file;
}

}  // namespace

// A signed patch used to hand its certificate table (and the padding before it) to the last
// block, which then decoded to garbage.
TEST(LocatePayload, SignedPayloadEndsWhereItsDataEndForEveryPadding) {
  const Bytes forms[] = {CodedEndingInZero(), RawEndingInZeros()};
  // Every combination of last block form, seal, PE32+, signature and image size modulo 8.
  for (u32 row = 0; row < 128; ++row) {
    SCOPED_TRACE(row);
    const bool sealed = row & 2, plus = row & 4, sign = row & 8;
    const u32 imageSize = 1024 + (row >> 4);
    const Bytes payload = sealed ? Sealed(forms[row & 1]) : forms[row & 1];
    MemoryFile file(PatchFile(plus, imageSize, payload, sign));
    PayloadBounds bounds;
    ASSERT_EQ(LocatePayload(&file, &bounds), nullptr);
    EXPECT_EQ(bounds.offset, imageSize + (sealed ? kSealSize : 0));
    EXPECT_EQ(bounds.end, imageSize + payload.size());
    EXPECT_EQ(bounds.sealed, sealed ? 1u : 0u);
    EXPECT_EQ(bounds.certificateSize, sign ? 600u : 0u);
  }
}

// Every flipped bit of the record or the container, and every cut behind the image, is refused
// by the bounds or fails the seal's CRC: none leaves a payload that would apply unchecked.
TEST(LocatePayload, EveryFlipAndCutOfASealedPayloadIsCaught) {
  const Bytes sealed = PatchFile(false, 512, Sealed(Container(RandomBytes(90, 7))), false);
  auto caught = [](const Bytes& file) {
    MemoryFile memory(file);
    PayloadBounds bounds;
    u32 crc = 0;
    return LocatePayload(&memory, &bounds) != nullptr ||
           (bounds.sealed &&
            (PayloadCrc(&memory, bounds.offset, bounds.end - bounds.offset, &crc) ||
             crc != bounds.sealCrc));
  };
  EXPECT_FALSE(caught(sealed));
  for (u32 bit = 512 * 8; bit < 8 * sealed.size(); ++bit) {
    Bytes file = sealed;
    file[bit / 8] ^= static_cast<u8>(1u << (bit % 8));
    EXPECT_TRUE(caught(file)) << "bit " << bit;
  }
  for (u32 cut = 512; cut < sealed.size(); ++cut) {
    EXPECT_TRUE(caught(Bytes(sealed.begin(), sealed.begin() + cut))) << "cut at " << cut;
  }
}
