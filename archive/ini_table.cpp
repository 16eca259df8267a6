#include "archive/ini_table.h"

#include <cstring>

#include "core/pools.h"
#include "file/file_service.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }

i16 CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const u8 x = static_cast<u8>(FoldCase(*a));
    const u8 y = static_cast<u8>(FoldCase(*b));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

u32 HashSection(const void* node, u32 bucketCount) {
  return HashIniName(static_cast<const IniSection*>(node)->name) % bucketCount;
}

u32 HashKey(const void* node, u32 bucketCount) {
  const IniKey* key = static_cast<const IniKey*>(node);
  return (HashIniName(key->section->name) + HashIniName(key->name)) % bucketCount;
}

i16 CompareSections(const void* probe, const void* node) {
  return CompareNames(static_cast<const IniSection*>(probe)->name,
                      static_cast<const IniSection*>(node)->name);
}

i16 CompareKeys(const void* probe, const void* node) {
  const IniKey* a = static_cast<const IniKey*>(probe);
  const IniKey* b = static_cast<const IniKey*>(node);
  if (a->section != b->section) return 1;
  return CompareNames(a->name, b->name);
}

void FreeNode(void* node, void* allocator) { static_cast<CPtrPool*>(allocator)->Free(node); }

// Cuts blanks off both ends of [begin, end) in place and returns the trimmed start.
char* Trim(char* begin, char* end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  *end = '\0';
  return begin;
}

bool IsSectionHeader(const char* name) {
  const size_t length = std::strlen(name);
  return length >= 2 && name[0] == '[' && name[length - 1] == ']';
}

}  // namespace

u32 HashIniName(const char* name) {
  u32 sum = 0;
  u32 acc = 0;
  for (const char* p = name; *p; ++p) {
    const i32 c = static_cast<i8>(FoldCase(*p));
    acc = (acc << 8) + static_cast<u32>(c);
    sum += acc;
  }
  while (acc != 0) {
    acc <<= 8;
    sum += acc;
  }
  return sum;
}

const char* IniSection::Comment() const { return name + std::strlen(name) + 1; }
const char* IniKey::Value() const { return name + std::strlen(name) + 1; }
const char* IniKey::Comment() const {
  const char* value = Value();
  return value + std::strlen(value) + 1;
}

CIniTable::CIniTable(u32 sectionBuckets, u32 keyBuckets, CPtrPool* allocator_, u32 owns)
    : sections(sectionBuckets, HashSection, CompareSections, FreeNode, 0, 0, allocator_),
      keys(keyBuckets, HashKey, CompareKeys, FreeNode, 0, 0, allocator_),
      allocator(allocator_),
      ownsAllocator(owns) {}

CIniTable::~CIniTable() {
  // Once cleared, the member tables hold no node, so the allocator may go before they do.
  Clear();
  if (readBuffer) g_ptrPool->Free(readBuffer);
  if (ownsAllocator) delete allocator;
}

void CIniTable::Clear() {
  for (IniSection* section = firstSection; section; section = section->next) {
    IniKey* key = section->firstKey;
    while (key) {
      IniKey* next = key->next;
      if (key->name[0] == '\0') allocator->Free(key);  // comment lines are in no hash table
      key = next;
    }
  }
  keys.Clear();
  sections.Clear();
  firstSection = lastSection = nullptr;
}

int CIniTable::NextChar() {
  if (readPos >= readCount) {
    readCount = 0;
    readPos = 0;
    // A failed or empty read ends the input; Load reports a failure other than the end.
    ErrorCode error = source->Read(readBuffer, kIniReadBufferSize, &readCount);
    if (error && error != ERR_EOF && !readError) readError = error;
    if (readCount > kIniReadBufferSize) readCount = kIniReadBufferSize;
    if (readCount == 0) return -1;
  }
  return static_cast<u8>(readBuffer[readPos++]);
}

u32 CIniTable::ParseLine(char* line, char** name, char** value, char** comment) {
  int c;
  do {
    c = NextChar();
  } while (c == '\r' || c == '\n');
  if (c < 0) {
    line[0] = '\0';
    *name = *value = *comment = line;
    return 0;
  }
  u32 length = 0;
  while (c >= 0 && c != '\r' && c != '\n') {
    if (length == kIniLineCapacity - 1) break;  // the character at position 1024 is lost
    line[length++] = static_cast<char>(c);
    c = NextChar();
  }
  line[length] = '\0';

  char* end = line + length;
  char* semicolon = std::strchr(line, ';');
  if (semicolon) {
    *semicolon = '\0';
    *comment = semicolon + 1;
    end = semicolon;
  } else {
    *comment = end;
  }
  char* equals = std::strchr(line, '=');
  if (equals) {
    char* valueEnd = end;
    *value = Trim(equals + 1, valueEnd);
    *name = Trim(line, equals);
  } else {
    *name = Trim(line, end);
    *value = end;  // an empty string: end is NUL-terminated by now
  }
  return readCount > 0 ? 1 : 0;
}

IniSection* CIniTable::AddSection(const char* name, u32 nameLength, const char* comment) {
  const u32 commentLength = static_cast<u32>(std::strlen(comment));
  IniSection* section = static_cast<IniSection*>(
      allocator->Alloc(static_cast<u32>(sizeof(IniSection)) + nameLength + commentLength + 2));
  if (!section) return nullptr;
  section->chain = nullptr;
  section->next = nullptr;
  section->prev = lastSection;
  section->firstKey = section->lastKey = nullptr;
  section->name = reinterpret_cast<char*>(section + 1);
  std::memcpy(section->name, name, nameLength);
  section->name[nameLength] = '\0';
  std::memcpy(section->name + nameLength + 1, comment, commentLength + 1);
  if (lastSection) {
    lastSection->next = section;
  } else {
    firstSection = section;
  }
  lastSection = section;
  sections.Insert(section);
  return section;
}

bool CIniTable::AddKey(IniSection* section, const char* name, const char* value,
                       const char* comment) {
  const u32 nameLength = static_cast<u32>(std::strlen(name));
  const u32 valueLength = static_cast<u32>(std::strlen(value));
  const u32 commentLength = static_cast<u32>(std::strlen(comment));
  IniKey* key = static_cast<IniKey*>(allocator->Alloc(
      static_cast<u32>(sizeof(IniKey)) + nameLength + valueLength + commentLength + 3));
  if (!key) return false;
  key->chain = nullptr;
  key->next = nullptr;
  key->prev = section->lastKey;
  key->section = section;
  key->name = reinterpret_cast<char*>(key + 1);
  char* at = key->name;
  std::memcpy(at, name, nameLength + 1);
  at += nameLength + 1;
  std::memcpy(at, value, valueLength + 1);
  at += valueLength + 1;
  std::memcpy(at, comment, commentLength + 1);
  if (section->lastKey) {
    section->lastKey->next = key;
  } else {
    section->firstKey = key;
  }
  section->lastKey = key;
  if (nameLength > 0) keys.Insert(key);
  return true;
}

ErrorCode CIniTable::Load(CFile* file) {
  Clear();
  if (!file) return ERR_BADPARAMS;
  if (!Usable()) return ERR_NOTENOUGHMEM;
  readBuffer = static_cast<char*>(g_ptrPool->Alloc(kIniReadBufferSize));
  if (!readBuffer) return ERR_NOTENOUGHMEM;
  source = file;
  readCount = readPos = 0;
  readError = nullptr;

  char line[kIniLineCapacity];
  char *name, *value, *comment;
  ErrorCode result = nullptr;
  IniSection* section = nullptr;
  for (;;) {
    // Lines before the first header are ignored, and so is a header on the very last line.
    if (!ParseLine(line, &name, &value, &comment)) break;
    if (IsSectionHeader(name)) {
      section = AddSection(name + 1, static_cast<u32>(std::strlen(name)) - 2, comment);
      if (!section) result = ERR_NOTENOUGHMEM;
      break;
    }
  }
  // After the first header, the line for which ParseLine reports the end is still taken.
  for (u32 more = section ? 1 : 0; more && !result;) {
    more = ParseLine(line, &name, &value, &comment);
    if (name[0] == '\0' && comment[0] == '\0') continue;
    if (IsSectionHeader(name)) {
      section = AddSection(name + 1, static_cast<u32>(std::strlen(name)) - 2, comment);
      if (!section) result = ERR_NOTENOUGHMEM;
    } else if (!AddKey(section, name, value, comment)) {
      result = ERR_NOTENOUGHMEM;
    }
  }
  g_ptrPool->Free(readBuffer);
  readBuffer = nullptr;
  source = nullptr;
  if (!result) result = readError;
  if (result) Clear();  // a half-read table would answer some keys and silently lack others
  return result;
}

ErrorCode CIniTable::LoadFile(const char* path) {
  ErrorCode error = ERR_FILENOTFOUND;
  CFile* file = FileServiceTable.Open(path, OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, &error);
  if (!file) return error ? error : ERR_FILENOTFOUND;
  error = Load(file);
  delete file;
  return error;
}

IniSection* CIniTable::FindSection(const char* section) {
  if (!section) return nullptr;
  IniSection probe{};
  probe.name = const_cast<char*>(section);
  return static_cast<IniSection*>(sections.Find(&probe, nullptr));
}

IniKey* CIniTable::FindKey(const char* section, const char* key) {
  IniSection* found = FindSection(section);
  if (!found || !key) return nullptr;
  IniKey probe{};
  probe.section = found;
  probe.name = const_cast<char*>(key);
  return static_cast<IniKey*>(keys.Find(&probe, nullptr));
}

const char* CIniTable::GetValue(const char* section, const char* key) {
  IniKey* found = FindKey(section, key);
  return found ? found->Value() : nullptr;
}

ErrorCode CIniTable::GetString(const char* section, const char* key, char* buffer, u32 size) {
  const char* value = GetValue(section, key);
  if (!value) return ERR_NOTFOUND;
  if (!buffer || size == 0) return ERR_UNKNOWN;
  if (size == kIniTextBufferSize) {
    std::strcpy(buffer, value);
    return nullptr;
  }
  std::strncpy(buffer, value, size);
  buffer[size - 1] = '\0';
  return nullptr;
}
