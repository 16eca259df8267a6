#include "seal_write.h"

#include "archive/payload_bounds.h"
#include "archive/payload_seal.h"
#include "commands.h"
#include "messages.h"

int ReserveSeal(CFile* file, u32 at, const std::string& name) {
  const u8 zeros[kSealSize] = {};
  ErrorCode error = file->WriteAt(zeros, at, kSealSize, nullptr);
  return error ? ReportError(name, "cannot write the seal record", error) : kExitOk;
}

int WriteSealRecord(CFile* file, u32 at, const std::string& name) {
  const u32 container = at + kSealSize;
  PayloadSeal seal{file->GetSize() - container, 0};
  ErrorCode error = PayloadCrc(file, container, seal.length, &seal.crc);
  if (error) return ReportError(name, "cannot read the container back for its CRC-32", error);
  u8 record[kSealSize];
  WriteSeal(record, seal);
  error = file->WriteAt(record, at, kSealSize, nullptr);
  return error ? ReportError(name, "cannot write the seal record", error) : kExitOk;
}
