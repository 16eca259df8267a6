// Writes a pack file in one pass: header, front-coded directory, a CRC-32 per member, then the
// members' data in directory order without gaps. Memory use is bounded by the directory; member
// data are streamed straight to the output.
#pragma once

#include "core/error_message.h"
#include "file/file.h"

// Member names: full names with '\' separators, as the pack stores them.
void PackNormalizeName(char* name);                  // a-z -> A-Z, '/' -> '\'
int PackCompareNames(const char* a, const char* b);  // byte-wise unsigned, the directory's order
// Null when `name` (already normalized) can be stored, else a short reason: empty, longer than
// 255 bytes, a leading, trailing or doubled backslash, a "." or ".." component, or a lower-case
// letter (lookups upper-case their key, so such a member could never be found).
const char* PackCheckName(const char* name);

class CPackWriter {
 public:
  explicit CPackWriter(CFile* out);  // not owned; the pack is written from position 0
  ~CPackWriter();

  // names: sorted by PackCompareNames once normalized, unique, each a valid name (PackCheckName);
  // they are normalized by the writer. No name may also be a directory of another ("A" and
  // "A\B"). Errors: BADPARAMS for a name that breaks these rules, OUTOFRANGE when the pack would
  // pass 4 GiB, ALLOCFAIL, or the output's error. Problem() then says what is wrong.
  ErrorCode Begin(u32 count, const char* const* names, const u32* sizes);
  // Member data in directory order, in pieces of any size. More bytes than the members hold:
  // OUTOFRANGE, nothing written.
  ErrorCode Write(const void* data, u32 size);
  // All data written? Then writes the CRC-32 table. Missing data: BADPARAMS.
  ErrorCode Finish();

  // Why the last call failed, or "" after success.
  const char* Problem() const { return problem_; }
  // Size of the whole pack as laid out by Begin.
  u32 PackSize() const { return packSize_; }

  CPackWriter(const CPackWriter&) = delete;
  CPackWriter& operator=(const CPackWriter&) = delete;

 private:
  void Reset();
  void SkipEmptyMembers();

  CFile* out_;
  u32 count_ = 0;
  u32* sizes_ = nullptr;
  u32* crcs_ = nullptr;
  u32 tableOffset_ = 0;
  u32 packSize_ = 0;
  u32 member_ = 0;         // member being written
  u32 memberWritten_ = 0;  // its bytes written so far
  u32 position_ = 0;       // where the next data byte goes
  bool begun_ = false;
  char problem_[320] = "";
  ErrorMessage message_{problem_, sizeof problem_};
};
