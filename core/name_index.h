// Sorted, front-coded list of names, each followed by a fixed-size record, kept in one memory
// block. Lookups walk the coded entries and compare only the bytes after what the key is already
// known to share; a few decoded checkpoints (every `checkpointStep`th name, chosen by binary
// search) bound each walk.
//
// Entry layout: totalLength (1 byte, 1..255), sharedLength (1 byte: leading bytes shared with the
// previous full name, 0 in the first entry), the totalLength - sharedLength bytes of the name after
// the shared part, then recordSize bytes of record. Entries follow without gaps, sorted ascending
// by full name as unsigned bytes, a name before every longer name that it begins.
//
// Malformed blocks. The constructor walks the block once and the list ends before the first entry
// that cannot be used: totalLength 0; a sharedLength that is not 0 in the first entry, exceeds the
// previous name's length, or leaves no suffix; an entry (with its record) that runs past `size`; or
// a name that does not sort strictly after its predecessor with maximal sharing (the search rules
// depend on both); a name with a NUL byte. Every operation then behaves as if the list were just
// the entries before it: nothing is read outside the block, and stepping through names always moves
// forward, so a walk over the list ends. UsableCount() tells how many entries survived.
//
// Not thread-safe: every operation passes keys and names through one process-wide scratch buffer
// and nests locks on the block, so index operations must not interleave anywhere in the process.
#pragma once

#include "core/errors.h"
#include "core/mem_handle.h"

class CNameIndex {
 public:
  static constexpr u32 kMaxNameLength = 255;

  // Takes ownership of `block` (may be 0 for an empty list). count 0: the entries are counted.
  // storedCheckpoints (not owned, may be 0): a table in its stored form — a 32-bit little-endian
  // count, then per checkpoint a length byte, the name bytes and a 32-bit offset; it is used only
  // when it describes exactly entries 0, step, 2*step, ... of the block, otherwise the checkpoints
  // are built. Checkpoints are built when none were loaded and the list has at least `step`
  // entries. If the checkpoint table cannot be allocated the index works without checkpoints.
  CNameIndex(u16 recordSize, u8 fieldWidth, MemHandle block, u32 size, u32 count,
             MemHandle storedCheckpoints, u32 storedCheckpointsSize, u16 checkpointStep);
  ~CNameIndex();

  // Null when the index is usable; LOCKFAIL when the block could not be locked to read it (the
  // index then holds no entries).
  ErrorCode Status() const { return status_; }

  // Copies the record of the entry named exactly `name` into `record` (recordSize bytes).
  // Names longer than 255 bytes are never found. Returns 1 when found, else 0.
  u32 FindRecord(const char* name, void* record);

  // name null: the first entry's full name. Otherwise `name` must be an entry's full name; the
  // output (at least 256 bytes, may be `name` itself) receives the following entry's full name,
  // NUL-terminated. Returns 0 for an absent name, the last entry or an empty list.
  u32 NextName(const char* name, char* output);

  // The first entry in list order whose full name begins with `prefix` (byte-exact; "" matches
  // the first entry): its full name goes to output (at least 256 bytes) and its position, counted
  // from 0, to *index (may be null). Returns 0 when there is none.
  u32 FindPrefix(const char* prefix, char* output, u32* index);

  // The count given to the constructor, or the entries counted when it was 0.
  u32 Count() const { return count_; }
  u32 UsableCount() const { return usableCount_; }
  // Bytes of the block that the usable entries occupy, from its start.
  u32 UsableSize() const { return usableEnd_; }
  u32 CheckpointCount() const { return checkpointCount_; }
  // Byte offset of checkpoint i's entry in the block; 0xFFFFFFFF when i is out of range.
  u32 CheckpointOffset(u32 i);

  CNameIndex(const CNameIndex&) = delete;
  CNameIndex& operator=(const CNameIndex&) = delete;

 private:
  struct Checkpoint {
    u32 offset;
    u32 length;
    char* name;  // from g_ptrPool, NUL-terminated
  };

  const u8* LockBlock();
  void UnlockBlock();
  template <typename Visit>
  u32 WalkDecoded(const u8* data, Visit visit);
  void Validate();
  bool LoadCheckpoints(MemHandle stored, u32 storedSize);
  void BuildCheckpoints();
  void FreeCheckpoints();
  Checkpoint* LockCheckpoints();
  void UnlockCheckpoints();
  u32 ChooseCheckpoint(const u8* key, u32 keyLength);
  bool ExactSearch(const u8* data, u32* entryOffset);
  bool PrefixSearch(const u8* data, u32* entryOffset, u32* entryIndex);
  u32 EntryEnd(const u8* data, u32 offset) const;

  MemHandle block_;
  u32 size_;
  u32 count_;
  u16 recordSize_;
  [[maybe_unused]] u8 fieldWidth_;  // kept as given: no operation depends on it
  u16 checkpointStep_;
  MemHandle checkpoints_ = 0;
  u32 checkpointCount_ = 0;
  u32 lockCount_ = 0;
  const u8* lockedData_ = nullptr;
  u32 usableEnd_ = 0;  // the list occupies bytes [0, usableEnd_) of the block
  u32 usableCount_ = 0;
  ErrorCode status_ = nullptr;
};
