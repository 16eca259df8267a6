// Error codes: a code is the address of a static, NUL-terminated name; null means success.
// Codes are compared by identity, never by their text, so a string with the same text at
// another address is not the code.
#pragma once

#include "core/types.h"

typedef const char* ErrorCode;

// Core group.
extern const ErrorCode ERR_UNKNOWN;         // "\"Unknown error\""
extern const ErrorCode ERR_NOTIMPLEMENTED;  // "\"Not implemented yet\""
extern const ErrorCode ERR_ALLOCFAIL;
extern const ErrorCode ERR_LOCKFAIL;
extern const ErrorCode ERR_REALLOCFAIL;
extern const ErrorCode ERR_NOTLOCKED;
extern const ErrorCode ERR_INDEXOUTOFRANGE;
extern const ErrorCode ERR_BUFFERTOOSMALL;
extern const ErrorCode ERR_BADPARAMS;
extern const ErrorCode ERR_OUTOFRANGE;
extern const ErrorCode ERR_NOTFOUND;
extern const ErrorCode ERR_INVALIDFORMAT;
extern const ErrorCode ERR_WHATAMESS;

// File group.
extern const ErrorCode ERR_FILE;
extern const ErrorCode ERR_NOTENOUGHMEM;
extern const ErrorCode ERR_READFAIL;
extern const ErrorCode ERR_WRITEFAIL;
extern const ErrorCode ERR_EOF;
extern const ErrorCode ERR_BADOPENMODE;
extern const ErrorCode ERR_SEEKFAIL;
extern const ErrorCode ERR_FILENOTFOUND;
extern const ErrorCode ERR_BADFILEFORMAT;
extern const ErrorCode ERR_OPENFAIL;
extern const ErrorCode ERR_TRUNCFAIL;
extern const ErrorCode ERR_FLUSHFAIL;
extern const ErrorCode ERR_PATHNOTFOUND;
extern const ErrorCode ERR_ACCESSDENIED;
extern const ErrorCode ERR_FILEEXIST;
extern const ErrorCode ERR_NOMOREFILES;
extern const ErrorCode ERR_NOTREADY;
extern const ErrorCode ERR_VOLUMENOTFOUND;
extern const ErrorCode ERR_TOOMANYOPENFILES;
extern const ErrorCode ERR_WRITEPROTECTED;
extern const ErrorCode ERR_BADVOLUME;
extern const ErrorCode ERR_DISKFULL;
extern const ErrorCode ERR_SHARING;
extern const ErrorCode ERR_ALREADYEXISTS;
extern const ErrorCode ERR_UNKNOWNPID;

// INI group.
extern const ErrorCode ERR_HASHINI;
extern const ErrorCode ERR_BADFILE;
extern const ErrorCode ERR_NOTINLIST;

// LZSS group.
extern const ErrorCode ERR_NOSUCHBITLENGTHS;

// Pool group.
extern const ErrorCode ERR_POOL;
extern const ErrorCode ERR_COMPACTED;
extern const ErrorCode ERR_OVERMAXSIZE;
extern const ErrorCode ERR_NOTCREATED;
extern const ErrorCode ERR_NOTPOOLFILE;
extern const ErrorCode ERR_ZEROSIZE;
extern const ErrorCode ERR_NOTENOUGHMEMORY;
extern const ErrorCode ERR_NULLPOINTER;
extern const ErrorCode ERR_SIZEOUTOFRANGE;

// The pack file system answers a request for write access with this bare number; it is the
// one error value that is not a name. It is never dereferenced: use ErrorText to print codes.
extern const ErrorCode ERR_PACK_WRITEACCESS;  // (ErrorCode)8001

// Every named code, in definition order (for tests and diagnostics); ends with null.
extern const ErrorCode* const kAllErrorCodes;
extern const u32 kErrorCodeCount;

// Printable text of a code: its name, "success" for null, "8001" for the pack's number.
const char* ErrorText(ErrorCode code);
