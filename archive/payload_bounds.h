// Where a patch's payload begins and where it ends, for the patcher and the tool alike, so that
// both read the same bytes as the payload. A signed patch carries its certificate table behind
// the payload; the container's last block would otherwise take it (and the signer's padding) for
// stored bytes.
#pragma once

#include "file/file.h"

struct PayloadBounds {
  u32 offset = 0;   // the container's first byte in the file
  u32 end = 0;      // one past its last byte
  u32 sealed = 0;   // a sound seal record lies right in front of the container
  u32 sealCrc = 0;  // the CRC-32 that the seal gives for the container's bytes
  // The certificate table of a signed file, when it lies behind the container's start; 0 none.
  u32 certificateOffset = 0;
  u32 certificateSize = 0;
};

// Finds the payload the way the patcher does (payload_scan.h) and its end: with a seal, the
// length the seal gives; without one, the start of the certificate table less the signer's
// padding when the file is signed, otherwise the end of the file. Results: success; NOTFOUND
// when there is no payload; EOF when the file ends before the sealed container does (the bounds
// are filled, end being where the seal says the container ends); BADFILEFORMAT for a container
// marked as sealed without a sound seal in front of it; the file's errors.
ErrorCode LocatePayload(CFile* file, PayloadBounds* bounds);

// The CRC-32 of the file's bytes [offset, offset + length).
ErrorCode PayloadCrc(CFile* file, u32 offset, u32 length, u32* crc);
