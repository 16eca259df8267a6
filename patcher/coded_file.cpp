// A coded member: one Tarn stream whose output is the new file, coded alone or as a delta
// against the installed file of the same name.
#include "archive/payload_bounds.h"
#include "archive/tarn_decode.h"
#include "file/file_service.h"
#include "patcher/new_file.h"

namespace {

enum class Installed { kOther, kSource, kResult };

// Which of the two versions the installed file is: the delta's source, the stream's result
// (put in place by an earlier run of the same patch), or neither.
Installed Compare(CFile* file, const TarnHeader& header) {
  const u32 size = file->GetSize();
  u32 crc = 0;
  if (size != header.dictionarySize && size != header.outputSize) return Installed::kOther;
  if (PayloadCrc(file, 0, size, &crc)) return Installed::kOther;
  if (size == header.dictionarySize && crc == header.dictionaryCrc) return Installed::kSource;
  if (size == header.outputSize && crc == header.outputCrc) return Installed::kResult;
  return Installed::kOther;
}

}  // namespace

u32 ApplyCodedFile(const char* sourcePath) {
  NewFile file;
  if (!NameNewFile(RelativeMemberPath(sourcePath), &file)) return 0;
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(sourcePath, OPEN_READ, &error);
  TarnHeader header;
  bool sound = source && !TarnReadFileHeader(source, 0, source->GetSize(), &header);
  CFile* old = nullptr;
  if (sound && header.dictionarySize) {
    // The source is checked before anything is written: a missing, changed or other version
    // of it is a failed file, and a rerun after the new file was put in place has nothing to do.
    old = FileServiceTable.Open(file.target, OPEN_READ | OPEN_SHARE_READ, &error);
    const Installed installed = old ? Compare(old, header) : Installed::kOther;
    if (installed != Installed::kSource) {
      delete old;
      delete source;
      return installed == Installed::kResult ? 1 : 0;
    }
  }
  CFile* written = sound ? OpenTemporary(file) : nullptr;
  sound = written && !TarnDecodeFile(source, 0, source->GetSize(), old, written);
  delete old;
  delete source;
  return FinishNewFile(file, written, sound) ? 1 : 0;
}
