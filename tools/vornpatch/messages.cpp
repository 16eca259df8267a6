#include "messages.h"

#include <cstdio>

#include "commands.h"

namespace {

struct Sentence {
  const ErrorCode* code;
  const char* text;
};

// Codes are compared by identity, so the table holds their addresses and is read at run time.
const Sentence kSentences[] = {
    {&ERR_UNKNOWN, "unrecognised data"},
    {&ERR_NOTIMPLEMENTED, "operation not supported here"},
    {&ERR_ALLOCFAIL, "out of memory"},
    {&ERR_NOTENOUGHMEM, "out of memory"},
    {&ERR_NOTENOUGHMEMORY, "out of memory"},
    {&ERR_LOCKFAIL, "memory block cannot be locked"},
    {&ERR_BUFFERTOOSMALL, "buffer too small"},
    {&ERR_BADPARAMS, "invalid argument or name"},
    {&ERR_OUTOFRANGE, "value out of range"},
    {&ERR_NOTFOUND, "not found"},
    {&ERR_INVALIDFORMAT, "invalid format"},
    {&ERR_BADFILEFORMAT, "invalid file format"},
    {&ERR_FILE, "file system error"},
    {&ERR_READFAIL, "read failed"},
    {&ERR_WRITEFAIL, "write failed"},
    {&ERR_EOF, "unexpected end of file"},
    {&ERR_SEEKFAIL, "seek failed"},
    {&ERR_FILENOTFOUND, "no such file"},
    {&ERR_PATHNOTFOUND, "no such folder"},
    {&ERR_OPENFAIL, "cannot be opened"},
    {&ERR_TRUNCFAIL, "cannot set the file's end"},
    {&ERR_FLUSHFAIL, "cannot flush to disk"},
    {&ERR_ACCESSDENIED, "access denied"},
    {&ERR_FILEEXIST, "already exists"},
    {&ERR_ALREADYEXISTS, "already exists"},
    {&ERR_NOMOREFILES, "no more files"},
    {&ERR_NOTREADY, "device not ready"},
    {&ERR_VOLUMENOTFOUND, "no such drive"},
    {&ERR_TOOMANYOPENFILES, "too many open files"},
    {&ERR_WRITEPROTECTED, "write-protected"},
    {&ERR_SHARING, "in use by another program"},
    {&ERR_DISKFULL, "disk full"},
    {&ERR_NOSUCHBITLENGTHS, "invalid LZSS method byte"},
};

}  // namespace

const char* ErrorSentence(ErrorCode code) {
  if (!code) return "success";
  for (const Sentence& sentence : kSentences) {
    if (*sentence.code == code) return sentence.text;
  }
  return "failed";
}

std::string DescribeError(ErrorCode code) {
  return std::string(ErrorSentence(code)) + " (" + ErrorText(code) + ")";
}

int ReportError(const std::string& file, const std::string& what, ErrorCode code) {
  std::fprintf(stderr, "vornpatch: %s: %s: %s\n", file.c_str(), what.c_str(),
               DescribeError(code).c_str());
  return kExitFailure;
}

int ReportFault(const std::string& file, const std::string& fault) {
  std::fprintf(stderr, "vornpatch: %s: %s\n", file.c_str(), fault.c_str());
  return kExitFailure;
}

void Warn(const std::string& file, const std::string& text) {
  std::fprintf(stderr, "vornpatch: warning: %s: %s\n", file.c_str(), text.c_str());
}
