#include <cstring>

#include "archive/ini_table.h"
#include "file/file.h"
#include "patcher/patcher_state.h"

uintptr_t Instance;
CIniTable* PatchIni;
char TextBuffer[kTextBufferSize];
char InstallPath[kPathSize];
u8 CopyIncomplete;
PlatformWindow ProgressWindow;
u32 ShortcutsMade;
CFile* OwnFile;

const char* GetPatchText(const char* key) {
  TextBuffer[0] = '\0';
  if (!PatchIni) return TextBuffer;
  if (PatchIni->GetString("str", key, TextBuffer, kTextBufferSize)) {
    TextBuffer[0] = '\0';
    return TextBuffer;
  }
  for (char* p = TextBuffer; *p; ++p) {
    if (*p == '|') *p = '\n';
  }
  return TextBuffer;
}

int ShowPatchMessage(const char* key, u32 type, PlatformWindow owner) {
  char caption[kPathSize];
  std::strncpy(caption, GetPatchText("title"), sizeof caption - 1);
  caption[sizeof caption - 1] = '\0';
  return g_platform.MessageBox(owner, GetPatchText(key), caption, type);
}

bool SameText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
    if (!x) return true;
  }
}

bool AppendText(char* buffer, u32 size, const char* text) {
  const size_t used = std::strlen(buffer);
  const size_t more = std::strlen(text);
  if (used + more >= size) return false;
  std::memcpy(buffer + used, text, more + 1);
  return true;
}

void FailWithMessage(const char* key, PlatformWindow owner) {
  ShowPatchMessage(key, MB_TYPE_ERROR, owner);
  g_platform.ExitProcess(-1);
  __builtin_trap();  // the platform's exit does not come back
}

u32 ParseVersionText(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    const char c = p[2];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) p += 2;
  }
  u64 value = 0;
  for (;; ++p) {
    u32 digit;
    if (*p >= '0' && *p <= '9')
      digit = static_cast<u32>(*p - '0');
    else if (*p >= 'a' && *p <= 'f')
      digit = static_cast<u32>(*p - 'a' + 10);
    else if (*p >= 'A' && *p <= 'F')
      digit = static_cast<u32>(*p - 'A' + 10);
    else
      break;
    value = value * 16 + digit;
    if (value > 0x80000000ull) value = 0x80000000ull;  // past every 32-bit long
  }
  // strtol clamps to the range of a 32-bit long: 0x7FFFFFFF, or -0x80000000 when negative.
  if (negative) return value >= 0x80000000ull ? 0x80000000u : 0u - static_cast<u32>(value);
  return value > 0x7FFFFFFFull ? 0x7FFFFFFFu : static_cast<u32>(value);
}
