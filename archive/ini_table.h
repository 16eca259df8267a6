// INI reader: sections of key=value lines, looked up by section and key name (ASCII case
// ignored) in constant time. Sections and keys are also kept in file order, each with the
// comment of its line; comment-only lines are kept in the lists but can never be found.
#pragma once

#include "archive/hash_table.h"
#include "file/file.h"

class CPtrPool;
struct IniKey;

// One allocation; the name and the header line's comment are stored inline behind the fields.
struct IniSection {
  IniSection* chain;
  IniSection* next;
  IniSection* prev;
  IniKey* firstKey;
  IniKey* lastKey;
  char* name;
  const char* Comment() const;
};

// One allocation; name, value and comment are stored inline, the value right behind the name.
struct IniKey {
  IniKey* chain;
  IniKey* next;
  IniKey* prev;
  IniSection* section;
  char* name;
  const char* Value() const;
  const char* Comment() const;
};

// The name hash: upper-cases a..z, sign-extends bytes of 0x80 and above, and folds the whole
// accumulator into the sum byte by byte. "ab" and "AB" both give 0x83838383.
u32 HashIniName(const char* name);

constexpr u32 kIniLineCapacity = 1024;
constexpr u32 kIniReadBufferSize = 4097;
constexpr u32 kIniTextBufferSize = 0xFFFFFFFFu;  // GetString size meaning "no bound"

class CIniTable {
 public:
  // Nodes come from allocator; the destructor deletes it when ownsAllocator is set.
  CIniTable(u32 sectionBuckets, u32 keyBuckets, CPtrPool* allocator, u32 ownsAllocator);

  // Splits the next line of the input in place (buffer of kIniLineCapacity bytes) into name,
  // value and comment. Nonzero while more input may follow.
  virtual u32 ParseLine(char* line, char** name, char** value, char** comment);
  virtual ~CIniTable();

  // Replaces the content with the file's. ERR_BADPARAMS for a null file; ERR_NOTENOUGHMEM when
  // a node or the read buffer cannot be had; the file's error when a read fails for another
  // reason than its end (the table is then left empty, nothing leaked).
  ErrorCode Load(CFile* file);
  // Opens path through the mount table; the open's error when it does not open (content kept).
  ErrorCode LoadFile(const char* path);
  void Clear();

  IniSection* FindSection(const char* section);
  IniKey* FindKey(const char* section, const char* key);
  const char* GetValue(const char* section, const char* key);
  // At most size-1 characters and a NUL (the rest of the buffer padded with NULs); size
  // kIniTextBufferSize copies without bound. ERR_NOTFOUND, or ERR_UNKNOWN for no buffer.
  ErrorCode GetString(const char* section, const char* key, char* buffer, u32 size);

  IniSection* FirstSection() const { return firstSection; }
  bool Usable() const { return sections.HasBuckets() && keys.HasBuckets() && allocator; }

  CIniTable(const CIniTable&) = delete;
  CIniTable& operator=(const CIniTable&) = delete;

 protected:
  // Next input character, or -1 at the end of the input.
  int NextChar();
  u32 readCount = 0;

 private:
  IniSection* AddSection(const char* name, u32 nameLength, const char* comment);
  bool AddKey(IniSection* section, const char* name, const char* value, const char* comment);

  CHashTable sections;
  CHashTable keys;
  IniSection* firstSection = nullptr;
  IniSection* lastSection = nullptr;
  CPtrPool* allocator;
  u32 ownsAllocator;
  char* readBuffer = nullptr;
  u32 readPos = 0;
  CFile* source = nullptr;
  ErrorCode readError = nullptr;  // the first failed read's, the end of the file aside
};
