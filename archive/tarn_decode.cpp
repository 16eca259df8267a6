#include "archive/tarn_decode.h"

#include <cstring>
#include <new>

#include "archive/tarn_format.h"
#include "archive/tarn_x86.h"
#include "core/crc32.h"
#include "core/pools.h"

namespace {

constexpr u32 kInputChunk = 1u << 16;
constexpr u32 kCacheLineBits = 14;
constexpr u32 kCacheLine = 1u << kCacheLineBits;
constexpr u32 kCacheLines = 4;  // direct-mapped: forward runs and a second region both stay
constexpr u32 kNoLine = 0xFFFFFFFFu;

u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

u32 Min(u32 a, u32 b) { return a < b ? a : b; }

// Coded bytes, from memory or refilled from a file; running out is a malformed stream.
struct Input {
  const u8* next = nullptr;
  const u8* end = nullptr;
  CFile* file = nullptr;
  u8* buffer = nullptr;
  u32 filePosition = 0;
  u32 fileEnd = 0;
  ErrorCode error = nullptr;

  u8 Byte() {
    if (next == end && !Refill()) return 0;
    return *next++;
  }
  bool Refill() {
    const u32 count = Min(kInputChunk, fileEnd - filePosition);
    if (error || !file || count == 0) {
      if (!error) error = ERR_INVALIDFORMAT;
      return false;
    }
    u32 done = 0;
    error = file->ReadAt(buffer, filePosition, count, &done);
    if (!error && done != count) error = ERR_READFAIL;
    if (error) return false;
    filePosition += count;
    next = buffer;
    end = buffer + count;
    return true;
  }
  bool Exhausted() const { return next == end && filePosition == fileEnd; }
};

// The dictionary: in memory, or read from its file a cache line at a time.
struct Dictionary {
  const u8* bytes = nullptr;
  CFile* file = nullptr;
  u32 size = 0;
  u8* lines = nullptr;
  u32 tags[kCacheLines] = {kNoLine, kNoLine, kNoLine, kNoLine};
  ErrorCode error = nullptr;

  // Points *at to the byte at position (< size); returns how many bytes follow it contiguously,
  // 0 after a read failure.
  u32 Span(u32 position, const u8** at) {
    if (bytes) {
      *at = bytes + position;
      return size - position;
    }
    const u32 line = position >> kCacheLineBits;
    u8* slot = lines + (line % kCacheLines) * kCacheLine;
    const u32 start = line << kCacheLineBits;
    const u32 count = Min(kCacheLine, size - start);
    if (tags[line % kCacheLines] != line) {
      tags[line % kCacheLines] = kNoLine;
      u32 done = 0;
      if (!error) error = file->ReadAt(slot, start, count, &done);
      if (!error && done != count) error = ERR_READFAIL;
      if (error) return 0;
      tags[line % kCacheLines] = line;
    }
    *at = slot + (position - start);
    return count - (position - start);
  }
};

// The output window: a ring of the last ringSize bytes, drained to the output file (through the
// x86 filter when the stream has one) whenever it fills. In memory the ring is the output.
struct Window {
  u8* ring = nullptr;
  u32 ringSize = 0;
  u32 at = 0;       // ring index of the next byte
  u32 drained = 0;  // ring index up to which bytes have gone out
  u32 produced = 0;
  CFile* file = nullptr;
  u8* stage = nullptr;  // x86 filtering of file output: bytes held back for their operand
  u32 staged = 0;
  u32 stagePosition = 0;
  u32 crc = 0;
  ErrorCode error = nullptr;

  void Emit(const u8* bytes, u32 count) {
    if (error || count == 0) return;
    crc = Crc32Update(crc, bytes, count);
    u32 done = 0;
    error = file->Write(bytes, count, &done);
    if (!error && done != count) error = ERR_WRITEFAIL;
  }
  void Drain(bool last) {
    if (file) {
      const u8* from = ring + drained;
      u32 count = at - drained;
      while (stage && (count || last)) {
        const u32 take = Min(count, kInputChunk - staged);
        std::memcpy(stage + staged, from, take);
        from += take;
        count -= take;
        staged += take;
        const u32 done = TarnX86Convert(stage, staged, stagePosition, false, last && !count);
        Emit(stage, done);
        std::memmove(stage, stage + done, staged - done);
        staged -= done;
        stagePosition += done;
        if (last && !count) break;
      }
      if (!stage) Emit(from, count);
    }
    drained = at;
    if (at == ringSize) at = drained = 0;
  }
  void Put(u8 byte) {
    ring[at++] = byte;
    ++produced;
    if (at == ringSize) Drain(false);
  }
};

class Decoder {
 public:
  TarnModel model;
  TarnHeader header;
  Input input;
  Dictionary dictionary;
  Window window;

  ErrorCode Run();

 private:
  u32 range = 0xFFFFFFFFu;
  u32 code = 0;
  u32 windowLimit = 0;

  u32 Bit(u16* prob) {
    const u32 bound = (range >> kTarnProbBits) * *prob;
    u32 bit;
    if (code < bound) {
      range = bound;
      *prob = static_cast<u16>(*prob + (((1u << kTarnProbBits) - *prob) >> kTarnMoveBits));
      bit = 0;
    } else {
      range -= bound;
      code -= bound;
      *prob = static_cast<u16>(*prob - (*prob >> kTarnMoveBits));
      bit = 1;
    }
    if (range < kTarnTopValue) {
      range <<= 8;
      code = code << 8 | input.Byte();
    }
    return bit;
  }
  u32 Tree(u16* probs, u32 bits) {
    u32 m = 1;
    for (u32 i = 0; i < bits; ++i) m = m << 1 | Bit(probs + m);
    return m - (1u << bits);
  }
  // probs[base + m] for the tree nodes m = 1 .. 2^bits - 1; bits come least significant first.
  u32 ReverseTree(u16* probs, u32 base, u32 bits) {
    u32 m = 1, value = 0;
    for (u32 i = 0; i < bits; ++i) {
      const u32 bit = Bit(probs + (base + m));
      m = m << 1 | bit;
      value |= bit << i;
    }
    return value;
  }
  u32 DirectBits(u32 bits) {
    u32 value = 0;
    for (u32 i = 0; i < bits; ++i) {
      range >>= 1;
      const u32 bit = code >= range;
      if (bit) code -= range;
      value = value << 1 | bit;
      if (range < kTarnTopValue) {
        range <<= 8;
        code = code << 8 | input.Byte();
      }
    }
    return value;
  }
  u32 Length(TarnLengthModel* m, u32 posState) {
    if (!Bit(&m->choice)) return kTarnMinMatch + Tree(m->low[posState], 3);
    if (!Bit(&m->choice2)) return kTarnMinMatch + kTarnLowLengths + Tree(m->mid[posState], 3);
    const u32 high = Tree(m->high, 8);
    if (high < kTarnHighLengths - 1) return kTarnMinMatch + 2 * kTarnLowLengths + high;
    const u32 count = Tree(m->longCount, kTarnLongCountBits);
    const u64 extra = ((1ull << count) | DirectBits(count)) - 1;
    // Past 32 bits the length is longer than any output and is refused as such.
    return extra > 0xFFFFFFFFu - kTarnMaxMatch ? 0xFFFFFFFFu
                                               : kTarnMaxMatch + static_cast<u32>(extra);
  }
  // The 1-based distance, or 0 for a value past 32 bits.
  u32 Distance(u32 length) {
    const u32 slot = Tree(model.slot[TarnLengthClass(length)], kTarnSlotBits);
    if (slot < kTarnStartModelSlot) return slot + 1;
    const u32 extra = (slot >> 1) - 1;
    u32 distance = (2 | (slot & 1)) << extra;
    if (slot < kTarnEndModelSlot) {
      distance += ReverseTree(model.special, distance - slot - 1, extra);
    } else {
      distance += DirectBits(extra - kTarnAlignBits) << kTarnAlignBits;
      distance += ReverseTree(model.align, 0, kTarnAlignBits);
    }
    return distance + 1;
  }
  u32 Literal(u32 state, u32 matchDistance);
  u8 ByteAt(u32 distance);
  bool Usable(u32 distance, u32 length) const;
  ErrorCode Copy(u32 distance, u32 length);
};

// Whether a match may copy length bytes from distance back: into the dictionary at any depth,
// into the output only within the window (also where a dictionary match runs on into it).
bool Decoder::Usable(u32 distance, u32 length) const {
  if (distance == 0 || length > header.outputSize - window.produced) return false;
  if (distance <= window.produced) return distance <= windowLimit;
  const u32 back = distance - window.produced;
  return back <= dictionary.size && (length <= back || distance <= windowLimit);
}

// The byte distance back, as literals after a match see it: 0 where the stream holds none.
u8 Decoder::ByteAt(u32 distance) {
  if (distance <= window.produced) {
    if (distance > windowLimit || distance > window.ringSize) return 0;
    const u32 at =
        window.at >= distance ? window.at - distance : window.at + window.ringSize - distance;
    return window.ring[at];
  }
  const u32 back = distance - window.produced;
  if (back > dictionary.size) return 0;
  const u8* byte = nullptr;
  return dictionary.Span(dictionary.size - back, &byte) ? *byte : 0;
}

u32 Decoder::Literal(u32 state, u32 matchDistance) {
  const u32 lc = header.literalContextBits;
  const u32 previous = window.produced ? ByteAt(1) : 0;
  const u32 context =
      ((window.produced & ((1u << header.literalPositionBits) - 1)) << lc) + (previous >> (8 - lc));
  u16* probs = model.literal + 0x300 * context;
  u32 symbol = 1;
  if (state >= kTarnLiteralStates && (header.flags & kTarnFlagDifferences)) {
    while (symbol < 0x100) symbol = symbol << 1 | Bit(probs + 0x100 + symbol);
    return (symbol + ByteAt(matchDistance)) & 0xFF;
  }
  if (state >= kTarnLiteralStates) {
    u32 match = ByteAt(matchDistance);
    while (symbol < 0x100) {
      const u32 matchBit = (match >> 7) & 1;
      match <<= 1;
      const u32 bit = Bit(probs + 0x100 + (matchBit << 8) + symbol);
      symbol = symbol << 1 | bit;
      if (bit != matchBit) break;
    }
  }
  while (symbol < 0x100) symbol = symbol << 1 | Bit(probs + symbol);
  return symbol & 0xFF;
}

ErrorCode Decoder::Copy(u32 distance, u32 length) {
  while (length) {
    u32 count;
    if (distance > window.produced) {
      const u32 back = distance - window.produced;
      const u8* from = nullptr;
      count = dictionary.Span(dictionary.size - back, &from);
      if (!count) return dictionary.error;
      count = Min(Min(count, back), Min(length, window.ringSize - window.at));
      std::memcpy(window.ring + window.at, from, count);
    } else {
      const u32 from =
          window.at >= distance ? window.at - distance : window.at + window.ringSize - distance;
      count = Min(length, Min(window.ringSize - window.at, window.ringSize - from));
      u8* to = window.ring + window.at;
      const u8* source = window.ring + from;
      for (u32 i = 0; i < count; ++i) to[i] = source[i];
    }
    window.at += count;
    window.produced += count;
    length -= count;
    // One token may cover gigabytes: a failed write ends it, not the end of the run.
    if (window.at == window.ringSize) window.Drain(false);
    if (window.error) return window.error;
  }
  return nullptr;
}

ErrorCode Decoder::Run() {
  windowLimit = 1u << header.windowLog;
  TarnModelReset(&model);
  if (input.Byte() != 0) return ERR_INVALIDFORMAT;  // the coder's first byte is always 0
  for (u32 i = 0; i < 4; ++i) code = code << 8 | input.Byte();
  if (input.error) return input.error;

  const u32 posMask = (1u << header.positionBits) - 1;
  u32 state = 0;
  u32 reps[kTarnReps];
  for (u32& rep : reps) rep = TarnInitialRep(header.dictionarySize);
  while (window.produced < header.outputSize) {
    const u32 posState = window.produced & posMask;
    if (!Bit(&model.isMatch[state][posState])) {
      window.Put(static_cast<u8>(Literal(state, reps[0])));
      state = TarnAfterLiteral(state);
    } else {
      u32 length;
      if (!Bit(&model.isRep[state])) {
        length = Length(&model.matchLength, posState);
        reps[3] = reps[2];
        reps[2] = reps[1];
        reps[1] = reps[0];
        reps[0] = Distance(length);
        state = TarnAfterMatch(state);
      } else if (!Bit(&model.isRepG0[state])) {
        if (!Bit(&model.isRep0Long[state][posState])) {
          length = 1;
          state = TarnAfterShortRep(state);
        } else {
          length = Length(&model.repLength, posState);
          state = TarnAfterRep(state);
        }
      } else {
        u32 pick = 1;
        if (Bit(&model.isRepG1[state])) pick = 2 + Bit(&model.isRepG2[state]);
        const u32 distance = reps[pick];
        for (; pick > 0; --pick) reps[pick] = reps[pick - 1];
        reps[0] = distance;
        length = Length(&model.repLength, posState);
        state = TarnAfterRep(state);
      }
      if (input.error) break;
      if (!Usable(reps[0], length)) return ERR_INVALIDFORMAT;
      if (ErrorCode error = Copy(reps[0], length)) return error;
    }
    if (input.error || window.error) break;
  }
  if (input.error || window.error) return input.error ? input.error : window.error;
  if (!input.Exhausted()) return ERR_INVALIDFORMAT;
  window.Drain(true);
  return window.error;
}

void* Allocate(u32 size) { return size ? g_ptrPool->Alloc(size) : nullptr; }

// Sets up and runs a decoder over prepared input, dictionary and output; frees what it took.
ErrorCode DecodeWith(const TarnHeader& header, Decoder* decoder, bool toFile) {
  Window& window = decoder->window;
  Dictionary& dictionary = decoder->dictionary;
  ErrorCode error = nullptr;
  const bool x86 = (header.flags & kTarnFlagX86) != 0;
  if (toFile) {
    const u32 windowSize = 1u << header.windowLog;
    window.ringSize = Min(windowSize, header.outputSize ? header.outputSize : 1);
    window.ring = static_cast<u8*>(Allocate(window.ringSize));
    if (x86) window.stage = static_cast<u8*>(Allocate(kInputChunk));
    if (!window.ring || (x86 && !window.stage)) error = ERR_NOTENOUGHMEM;
  }
  if (dictionary.file) {
    dictionary.lines = static_cast<u8*>(Allocate(kCacheLine * kCacheLines));
    if (!dictionary.lines) error = ERR_NOTENOUGHMEM;
  }
  if (!error) error = decoder->Run();
  if (!error && !toFile && x86) TarnX86Convert(window.ring, header.outputSize, 0, false, true);
  if (!error && !toFile) window.crc = Crc32Update(0, window.ring, header.outputSize);
  if (!error && window.crc != header.outputCrc) error = ERR_INVALIDFORMAT;
  if (toFile) {
    g_ptrPool->Free(window.ring);
    g_ptrPool->Free(window.stage);
  }
  g_ptrPool->Free(dictionary.lines);
  return error;
}

Decoder* NewDecoder() {
  void* memory = Allocate(sizeof(Decoder));
  return memory ? new (memory) Decoder() : nullptr;
}

}  // namespace

ErrorCode TarnReadHeader(const u8* bytes, u32 size, TarnHeader* header) {
  if (size < kTarnHeaderSize || Le32(bytes) != kTarnMagic || bytes[4] != kTarnVersion)
    return ERR_INVALIDFORMAT;
  header->flags = bytes[5];
  header->literalContextBits = bytes[6] & 0x0F;
  header->literalPositionBits = bytes[6] >> 4;
  header->positionBits = bytes[7];
  header->windowLog = bytes[8];
  header->outputSize = Le32(bytes + 12);
  header->dictionarySize = Le32(bytes + 16);
  header->dictionaryCrc = Le32(bytes + 20);
  header->outputCrc = Le32(bytes + 24);
  const bool valid =
      (header->flags & ~(kTarnFlagX86 | kTarnFlagDifferences)) == 0 &&
      header->literalContextBits + header->literalPositionBits <= kTarnMaxLiteralBits &&
      header->positionBits <= kTarnMaxPositionBits && header->windowLog >= kTarnMinWindowLog &&
      header->windowLog <= kTarnMaxWindowLog && (bytes[9] | bytes[10] | bytes[11]) == 0 &&
      !(header->dictionarySize && (header->flags & kTarnFlagX86));
  return valid ? nullptr : ERR_INVALIDFORMAT;
}

ErrorCode TarnReadFileHeader(CFile* input, u32 offset, u32 size, TarnHeader* header) {
  u8 bytes[kTarnHeaderSize];
  if (size < kTarnHeaderSize) return ERR_INVALIDFORMAT;
  u32 done = 0;
  const ErrorCode error = input->ReadAt(bytes, offset, kTarnHeaderSize, &done);
  if (error || done != kTarnHeaderSize) return error ? error : ERR_READFAIL;
  return TarnReadHeader(bytes, kTarnHeaderSize, header);
}

namespace {

// Decodes the stream at [offset, offset + size) of input into the output file or, without one,
// into bytes[0 .. capacity).
ErrorCode DecodeFromFile(CFile* input, u32 offset, u32 size, CFile* dictionary, CFile* output,
                         u8* bytes, u32 capacity) {
  TarnHeader header;
  ErrorCode error = TarnReadFileHeader(input, offset, size, &header);
  if (error) return error;
  if ((header.dictionarySize != 0) != (dictionary != nullptr)) return ERR_BADPARAMS;
  if (dictionary && dictionary->GetSize() != header.dictionarySize) return ERR_BADPARAMS;
  if (!output && capacity < header.outputSize) return ERR_BUFFERTOOSMALL;

  Decoder* decoder = NewDecoder();
  u8* buffer = static_cast<u8*>(Allocate(kInputChunk));
  if (decoder && buffer) {
    decoder->header = header;
    decoder->input.file = input;
    decoder->input.buffer = buffer;
    decoder->input.filePosition = offset + kTarnHeaderSize;
    decoder->input.fileEnd = offset + size;
    decoder->dictionary.file = dictionary;
    decoder->dictionary.size = header.dictionarySize;
    decoder->window.file = output;
    if (!output) {
      decoder->window.ring = bytes;
      decoder->window.ringSize = header.outputSize ? header.outputSize : 1;
    }
    error = DecodeWith(header, decoder, output != nullptr);
  } else {
    error = ERR_NOTENOUGHMEM;
  }
  if (decoder) decoder->~Decoder();
  g_ptrPool->Free(decoder);
  g_ptrPool->Free(buffer);
  return error;
}

}  // namespace

ErrorCode TarnDecodeFile(CFile* input, u32 offset, u32 size, CFile* dictionary, CFile* output) {
  return DecodeFromFile(input, offset, size, dictionary, output, nullptr, 0);
}

ErrorCode TarnDecodeFileInto(CFile* input, u32 offset, u32 size, u8* output, u32 capacity) {
  return DecodeFromFile(input, offset, size, nullptr, nullptr, output, capacity);
}

ErrorCode TarnDecodeMemory(const u8* stream, u32 size, const u8* dictionary, u32 dictionarySize,
                           u8* output, u32 capacity) {
  TarnHeader header;
  if (ErrorCode error = TarnReadHeader(stream, size, &header)) return error;
  if (header.dictionarySize != dictionarySize || (dictionarySize && !dictionary))
    return ERR_BADPARAMS;
  if (capacity < header.outputSize) return ERR_BUFFERTOOSMALL;
  Decoder* decoder = NewDecoder();
  if (!decoder) return ERR_NOTENOUGHMEM;
  decoder->header = header;
  decoder->input.next = stream + kTarnHeaderSize;
  decoder->input.end = stream + size;
  decoder->dictionary.bytes = dictionary;
  decoder->dictionary.size = dictionarySize;
  decoder->window.ring = output;
  decoder->window.ringSize = header.outputSize ? header.outputSize : 1;
  const ErrorCode error = DecodeWith(header, decoder, false);
  decoder->~Decoder();
  g_ptrPool->Free(decoder);
  return error;
}
