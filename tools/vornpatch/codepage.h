// Text in a Windows code page and in the host's own names, through wide characters. Code page 0
// stands for the host's names: UTF-8 bytes on POSIX, the ANSI code page on Windows (the A calls
// that list and open files speak it).
#pragma once

#include <string>

#include "core/types.h"

// Whether this system converts between the host's names and `codePage`.
bool CodePageKnown(u32 codePage);
// False when the bytes are not valid text in the code page, or the text has a character that
// the code page cannot write; nothing is replaced by a look-alike.
bool DecodeText(u32 codePage, const std::string& bytes, std::wstring* text);
bool EncodeText(u32 codePage, const std::wstring& text, std::string* bytes);
// Every letter in upper case, as a Windows folder compares names.
void UpperCaseText(std::wstring* text);
