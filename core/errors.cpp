#include "core/errors.h"

namespace {
// One array per name, so that each code has exactly one address.
const char kTextUnknown[] = "\"Unknown error\"";
const char kTextNotimplemented[] = "\"Not implemented yet\"";
const char kTextAllocfail[] = "ALLOCFAIL";
const char kTextLockfail[] = "LOCKFAIL";
const char kTextReallocfail[] = "REALLOCFAIL";
const char kTextNotlocked[] = "NOTLOCKED";
const char kTextIndexoutofrange[] = "INDEXOUTOFRANGE";
const char kTextBuffertoosmall[] = "BUFFERTOOSMALL";
const char kTextBadparams[] = "BADPARAMS";
const char kTextOutofrange[] = "OUTOFRANGE";
const char kTextNotfound[] = "NOTFOUND";
const char kTextInvalidformat[] = "INVALIDFORMAT";
const char kTextWhatamess[] = "WHATAMESS";
const char kTextFile[] = "FILE";
const char kTextNotenoughmem[] = "NOTENOUGHMEM";
const char kTextReadfail[] = "READFAIL";
const char kTextWritefail[] = "WRITEFAIL";
const char kTextEof[] = "EOF";
const char kTextBadopenmode[] = "BADOPENMODE";
const char kTextSeekfail[] = "SEEKFAIL";
const char kTextFilenotfound[] = "FILENOTFOUND";
const char kTextBadfileformat[] = "BADFILEFORMAT";
const char kTextOpenfail[] = "OPENFAIL";
const char kTextTruncfail[] = "TRUNCFAIL";
const char kTextFlushfail[] = "FLUSHFAIL";
const char kTextPathnotfound[] = "PATHNOTFOUND";
const char kTextAccessdenied[] = "ACCESSDENIED";
const char kTextFileexist[] = "FILEEXIST";
const char kTextNomorefiles[] = "NOMOREFILES";
const char kTextNotready[] = "NOTREADY";
const char kTextVolumenotfound[] = "VOLUMENOTFOUND";
const char kTextToomanyopenfiles[] = "TOOMANYOPENFILES";
const char kTextWriteprotected[] = "WRITEPROTECTED";
const char kTextBadvolume[] = "BADVOLUME";
const char kTextDiskfull[] = "DISKFULL";
const char kTextSharing[] = "SHARING";
const char kTextAlreadyexists[] = "ALREADYEXISTS";
const char kTextUnknownpid[] = "UNKNOWNPID";
const char kTextHashini[] = "HASHINI";
const char kTextBadfile[] = "BADFILE";
const char kTextNotinlist[] = "NOTINLIST";
const char kTextNosuchbitlengths[] = "NOSUCHBITLENGTHS";
const char kTextPool[] = "POOL";
const char kTextCompacted[] = "COMPACTED";
const char kTextOvermaxsize[] = "OVERMAXSIZE";
const char kTextNotcreated[] = "NOTCREATED";
const char kTextNotpoolfile[] = "NOTPOOLFILE";
const char kTextZerosize[] = "ZEROSIZE";
const char kTextNotenoughmemory[] = "NOTENOUGHMEMORY";
const char kTextNullpointer[] = "NULLPOINTER";
const char kTextSizeoutofrange[] = "SIZEOUTOFRANGE";
}  // namespace

const ErrorCode ERR_UNKNOWN = kTextUnknown;
const ErrorCode ERR_NOTIMPLEMENTED = kTextNotimplemented;
const ErrorCode ERR_ALLOCFAIL = kTextAllocfail;
const ErrorCode ERR_LOCKFAIL = kTextLockfail;
const ErrorCode ERR_REALLOCFAIL = kTextReallocfail;
const ErrorCode ERR_NOTLOCKED = kTextNotlocked;
const ErrorCode ERR_INDEXOUTOFRANGE = kTextIndexoutofrange;
const ErrorCode ERR_BUFFERTOOSMALL = kTextBuffertoosmall;
const ErrorCode ERR_BADPARAMS = kTextBadparams;
const ErrorCode ERR_OUTOFRANGE = kTextOutofrange;
const ErrorCode ERR_NOTFOUND = kTextNotfound;
const ErrorCode ERR_INVALIDFORMAT = kTextInvalidformat;
const ErrorCode ERR_WHATAMESS = kTextWhatamess;
const ErrorCode ERR_FILE = kTextFile;
const ErrorCode ERR_NOTENOUGHMEM = kTextNotenoughmem;
const ErrorCode ERR_READFAIL = kTextReadfail;
const ErrorCode ERR_WRITEFAIL = kTextWritefail;
const ErrorCode ERR_EOF = kTextEof;
const ErrorCode ERR_BADOPENMODE = kTextBadopenmode;
const ErrorCode ERR_SEEKFAIL = kTextSeekfail;
const ErrorCode ERR_FILENOTFOUND = kTextFilenotfound;
const ErrorCode ERR_BADFILEFORMAT = kTextBadfileformat;
const ErrorCode ERR_OPENFAIL = kTextOpenfail;
const ErrorCode ERR_TRUNCFAIL = kTextTruncfail;
const ErrorCode ERR_FLUSHFAIL = kTextFlushfail;
const ErrorCode ERR_PATHNOTFOUND = kTextPathnotfound;
const ErrorCode ERR_ACCESSDENIED = kTextAccessdenied;
const ErrorCode ERR_FILEEXIST = kTextFileexist;
const ErrorCode ERR_NOMOREFILES = kTextNomorefiles;
const ErrorCode ERR_NOTREADY = kTextNotready;
const ErrorCode ERR_VOLUMENOTFOUND = kTextVolumenotfound;
const ErrorCode ERR_TOOMANYOPENFILES = kTextToomanyopenfiles;
const ErrorCode ERR_WRITEPROTECTED = kTextWriteprotected;
const ErrorCode ERR_BADVOLUME = kTextBadvolume;
const ErrorCode ERR_DISKFULL = kTextDiskfull;
const ErrorCode ERR_SHARING = kTextSharing;
const ErrorCode ERR_ALREADYEXISTS = kTextAlreadyexists;
const ErrorCode ERR_UNKNOWNPID = kTextUnknownpid;
const ErrorCode ERR_HASHINI = kTextHashini;
const ErrorCode ERR_BADFILE = kTextBadfile;
const ErrorCode ERR_NOTINLIST = kTextNotinlist;
const ErrorCode ERR_NOSUCHBITLENGTHS = kTextNosuchbitlengths;
const ErrorCode ERR_POOL = kTextPool;
const ErrorCode ERR_COMPACTED = kTextCompacted;
const ErrorCode ERR_OVERMAXSIZE = kTextOvermaxsize;
const ErrorCode ERR_NOTCREATED = kTextNotcreated;
const ErrorCode ERR_NOTPOOLFILE = kTextNotpoolfile;
const ErrorCode ERR_ZEROSIZE = kTextZerosize;
const ErrorCode ERR_NOTENOUGHMEMORY = kTextNotenoughmemory;
const ErrorCode ERR_NULLPOINTER = kTextNullpointer;
const ErrorCode ERR_SIZEOUTOFRANGE = kTextSizeoutofrange;

const ErrorCode ERR_PACK_WRITEACCESS = reinterpret_cast<ErrorCode>(static_cast<uintptr_t>(8001));

namespace {
const ErrorCode kTable[] = {
    kTextUnknown,
    kTextNotimplemented,
    kTextAllocfail,
    kTextLockfail,
    kTextReallocfail,
    kTextNotlocked,
    kTextIndexoutofrange,
    kTextBuffertoosmall,
    kTextBadparams,
    kTextOutofrange,
    kTextNotfound,
    kTextInvalidformat,
    kTextWhatamess,
    kTextFile,
    kTextNotenoughmem,
    kTextReadfail,
    kTextWritefail,
    kTextEof,
    kTextBadopenmode,
    kTextSeekfail,
    kTextFilenotfound,
    kTextBadfileformat,
    kTextOpenfail,
    kTextTruncfail,
    kTextFlushfail,
    kTextPathnotfound,
    kTextAccessdenied,
    kTextFileexist,
    kTextNomorefiles,
    kTextNotready,
    kTextVolumenotfound,
    kTextToomanyopenfiles,
    kTextWriteprotected,
    kTextBadvolume,
    kTextDiskfull,
    kTextSharing,
    kTextAlreadyexists,
    kTextUnknownpid,
    kTextHashini,
    kTextBadfile,
    kTextNotinlist,
    kTextNosuchbitlengths,
    kTextPool,
    kTextCompacted,
    kTextOvermaxsize,
    kTextNotcreated,
    kTextNotpoolfile,
    kTextZerosize,
    kTextNotenoughmemory,
    kTextNullpointer,
    kTextSizeoutofrange,
    nullptr,
};
}  // namespace

const ErrorCode* const kAllErrorCodes = kTable;
const u32 kErrorCodeCount = sizeof(kTable) / sizeof(kTable[0]) - 1;

const char* ErrorText(ErrorCode code) {
  if (code == nullptr) return "success";
  if (code == ERR_PACK_WRITEACCESS) return "8001";
  return code;
}
