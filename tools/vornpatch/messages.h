// What the tool tells its user: every failure names the file and what is wrong with it, and
// toolkit error codes are turned into a sentence with the code's name behind it.
#pragma once

#include <cstdio>
#include <string>

#include "core/errors.h"

// "file not found", "invalid format", ... for a toolkit error code.
const char* ErrorSentence(ErrorCode code);
// "file not found (FILENOTFOUND)".
std::string DescribeError(ErrorCode code);

// `text` made safe to show on `stream`: control characters (C0, DEL and, on POSIX, C1 coded in
// UTF-8) become \xNN, and so, on POSIX and when the stream is a terminal, do bytes that are not
// UTF-8 (a raw C1 byte is a command to some terminals). A name taken from a target can then
// neither move the cursor nor send the terminal any command, while a pipe still receives the
// bytes of names in a code page that was not given (--codepage).
std::string Printable(const std::string& text, std::FILE* stream);

// The reports below pass their texts through Printable.
// "vornpatch: FILE: WHAT: SENTENCE (CODE)" on stderr; returns kExitFailure.
int ReportError(const std::string& file, const std::string& what, ErrorCode code);
// "vornpatch: FILE: FAULT" on stderr; returns kExitFailure.
int ReportFault(const std::string& file, const std::string& fault);
// "vornpatch: warning: FILE: TEXT" on stderr.
void Warn(const std::string& file, const std::string& text);
