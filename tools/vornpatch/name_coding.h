// How member names are written. The patcher creates its files through the ANSI calls, which read
// a name in the code page of the Windows it runs on, so a pack name is bytes in one code page.
// Without a code page only ASCII names are stored; with one, names are converted between the
// host's names (UTF-8 on POSIX, the ANSI code page on Windows) and that code page, when they are
// stored (build, pack) and when they are shown or written back (list, extract).
#pragma once

#include <string>

#include "commands.h"

struct NameCoding {
  u32 codePage = 0;  // 0: ASCII names only
};

// The --codepage option's lines for a command's help (a literal, to join the help's literals).
#define CODEPAGE_HELP                                                                         \
  "  --codepage N        member names are in Windows code page N (1252 Western, 1250, 1251\n" \
  "                      Cyrillic, 932 Japanese, 936 Chinese, ...), converted from and to\n"  \
  "                      this system's names; without it they stay bytes, and build and\n"    \
  "                      pack refuse names that are not ASCII\n"

// Reads --codepage; reports a usage error (returning kExitUsage) for a code page that this
// system cannot convert to.
int ChooseNameCoding(const char* command, const Args& args, NameCoding* coding);

// The stored form of one host name component; "" and *stored set, or why it cannot be stored.
std::string StoredComponent(const NameCoding& coding, const std::string& host, std::string* stored);

// The host form of a stored name ('\' separators kept); "" and *host set, or why it cannot be
// written on this host.
std::string HostName(const NameCoding& coding, const std::string& stored, std::string* host);

// The stored name as a Windows folder compares it: every letter upper case, not only a to z.
// Two names with one key would be written over each other there.
std::wstring WindowsFolderKey(const NameCoding& coding, const std::string& stored);
