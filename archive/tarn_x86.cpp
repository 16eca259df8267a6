#include "archive/tarn_x86.h"

u32 TarnX86Convert(u8* data, u32 size, u32 position, bool encode, bool last) {
  constexpr u32 kOperandMask = (1u << 25) - 1;
  u32 i = 0;
  for (; size - i >= 5; ++i) {
    if ((data[i] & 0xFE) != 0xE8) continue;
    const u8 top = data[i + 4];
    // The operand is skipped even when it stays, so no later conversion touches a byte this
    // decision read.
    if (top != 0x00 && top != 0xFF) {
      i += 4;
      continue;
    }
    u32 operand = static_cast<u32>(data[i + 1]) | static_cast<u32>(data[i + 2]) << 8 |
                  static_cast<u32>(data[i + 3]) << 16 | static_cast<u32>(top) << 24;
    const u32 next = position + i + 5;  // where a relative operand counts from
    operand = (encode ? operand + next : operand - next) & kOperandMask;
    if (operand & (1u << 24)) operand |= ~kOperandMask;
    data[i + 1] = static_cast<u8>(operand);
    data[i + 2] = static_cast<u8>(operand >> 8);
    data[i + 3] = static_cast<u8>(operand >> 16);
    data[i + 4] = static_cast<u8>(operand >> 24);
    i += 4;
  }
  if (last) return size;
  // Bytes from i on are undecided only when an E8/E9 among them lacks its operand.
  for (u32 j = i; j < size; ++j)
    if ((data[j] & 0xFE) == 0xE8) return j;
  return size;
}
