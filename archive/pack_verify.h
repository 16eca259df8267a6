// Checks of a pack file. The directory check reads the header, the directory and the CRC-32
// table only; the full check also reads every byte of every member back through the given file
// (for a pack inside an LZSS container that also decodes every block). Readers that list or
// extract a pack run the directory check, so they never accept a directory the full check
// refuses. Its ranges are what bounds the bytes a reader takes out of a pack inside a container
// of empty blocks: every byte of the pack belongs to at most one member, and extract holds each
// member to its CRC-32.
#pragma once

#include "core/errors.h"
#include "file/file.h"

// Where the directory check found the CRC-32 table: one 32-bit value per member, in directory
// order.
struct PackLayout {
  u32 count = 0;
  u32 crcTableOffset = 0;
};

// Null when the header and directory are sound: every entry is well formed and front-coded with
// maximal sharing, every name is one the pack can hold (PackCheckName), the names are in strictly
// ascending order, no member is also the directory of another ("A" and "A\B"), the header's
// count (when not 0) is the number of entries, the CRC table fits, and the members' data lie
// inside the pack, in directory order, none overlapping another. Otherwise the error
// (INVALIDFORMAT for a fault of the pack itself, ALLOCFAIL, or the file's own read error) and,
// in `message` (may be null; always terminated when messageSize > 0), what is wrong and which
// member it concerns. layout (may be null) is filled on success.
ErrorCode CheckPackDirectory(CFile* pack, char* message, u32 messageSize, PackLayout* layout);

// The directory check, then every member's data read and held to its CRC-32.
ErrorCode VerifyPack(CFile* pack, char* message, u32 messageSize);
