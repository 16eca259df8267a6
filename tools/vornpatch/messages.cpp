#include "messages.h"

#include <cstdio>

#include "commands.h"
#include "os.h"
#include "progress.h"

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

#ifndef _WIN32
// Length of the UTF-8 character at text[at] (lead byte from 0x80 on), 0 when the bytes there are
// not one or code a C1 control: the smallest second byte that is neither overlong nor a C1
// control, and the largest that stays below the surrogates (ED) and U+10FFFF (F4).
size_t Utf8Length(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  const unsigned char low = lead == 0xC2 || lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (lead < 0xC2 || lead > 0xF4 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[at + i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}
#endif

// Length of the character at text[at] when it may be shown as it is, else 0. Bytes that are not
// UTF-8 pass as they are when `bytes` is set, unless they code a C1 control in UTF-8.
size_t PrintableLength(const std::string& text, size_t at, bool bytes) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x20 || lead == 0x7F) return 0;
#ifdef _WIN32
  // The console shows the ANSI code page, in which every byte from 0x80 on is a character.
  (void)bytes;
  return 1;
#else
  if (lead < 0x80) return 1;
  if (const size_t length = Utf8Length(text, at)) return length;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const bool c1 = (lead == 0xC2 && at + 1 < text.size() && byte(at + 1) < 0xA0) ||
                  (lead < 0xA0 && at > 0 && byte(at - 1) == 0xC2);
  return bytes && !c1 ? 1 : 0;
#endif
}

}  // namespace

std::string Printable(const std::string& text, std::FILE* stream) {
  const bool bytes = !IsTerminal(stream);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const size_t length = PrintableLength(text, at, bytes);
    if (length) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[at++]);
    out += "\\x";
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

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
  Progress::ClearCurrent();
  std::fprintf(stderr, "vornpatch: %s: %s: %s\n", Printable(file, stderr).c_str(),
               Printable(what, stderr).c_str(), DescribeError(code).c_str());
  return kExitFailure;
}

int ReportFault(const std::string& file, const std::string& fault) {
  Progress::ClearCurrent();
  std::fprintf(stderr, "vornpatch: %s: %s\n", Printable(file, stderr).c_str(),
               Printable(fault, stderr).c_str());
  return kExitFailure;
}

void Warn(const std::string& file, const std::string& text) {
  Progress::ClearCurrent();
  std::fprintf(stderr, "vornpatch: warning: %s: %s\n", Printable(file, stderr).c_str(),
               Printable(text, stderr).c_str());
}
