#include "patch_ini_check.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "archive/ini_table.h"
#include "commands.h"
#include "core/pools.h"
#include "messages.h"

const char kAllowMissingKeysHelp[] =
    "  --allow-missing-keys  build although Patch.ini lacks keys that the patcher looks up\n";

namespace {

constexpr char kSection[] = "str";
// The version, the language and every message of the patcher's run; the others are optional.
const char* const kRequiredKeys[] = {"ver",     "lang",    "title",          "welcome",
                                     "vornrun", "notvorn", "noneed",         "wronglang",
                                     "copy",    "errcopy", "errnotcomplete", "done"};

// Why the table found no section [str], when the file's first bytes tell.
std::string TextHint(const std::string& path) {
  CFile* file = FileServiceTable.Open(path.c_str(), OPEN_READ | OPEN_SHARE_READ, nullptr);
  if (!file) return std::string();
  char head[4096];
  u32 got = 0;
  file->Read(head, sizeof(head), &got);
  delete file;
  if (got >= 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0)
    return " (it begins with a UTF-8 byte-order mark, which the patcher reads as part of the "
           "first line: save it without one)";
  if (std::memchr(head, 0, got))
    return " (it holds NUL bytes: not text, or UTF-16, which the patcher cannot read)";
  if (got == 0) return " (it is empty)";
  return std::string();
}

// What the patcher would miss: absent keys, and keys that only the presence of another needs.
std::vector<std::string> MissingKeys(CIniTable* table) {
  std::vector<std::string> missing;
  for (const char* key : kRequiredKeys) {
    if (!table->GetValue(kSection, key)) missing.push_back(key);
  }
  const char* lowest = table->GetValue(kSection, "vermin");
  if (lowest && *lowest && !table->GetValue(kSection, "errvermin"))
    missing.push_back("errvermin (shown because vermin is set)");
  const char* shortcut = table->GetValue(kSection, "pwt_shortcut");
  if (shortcut && std::strcmp(shortcut, "1") == 0 && !table->GetValue(kSection, "pwt_name"))
    missing.push_back("pwt_name (the shortcut's name, asked for by pwt_shortcut=1)");
  return missing;
}

// The patcher reads "ver" the way strtol reads base 16: without a digit it is 0.
bool HoldsHexNumber(const char* text) {
  char* end = nullptr;
  std::strtol(text, &end, 16);
  return end != text;
}

}  // namespace

int CheckPatchIni(const std::string& path, bool allowMissing) {
  CPtrPool* nodes = new (std::nothrow) CSizedPtrPool;
  CIniTable* table = nodes ? new (std::nothrow) CIniTable(20, 500, nodes, 1) : nullptr;
  if (!table) {
    delete nodes;
    return ReportError(path, "cannot read Patch.ini", ERR_NOTENOUGHMEM);
  }
  ErrorCode error = table->LoadFile(path.c_str());
  std::vector<std::string> problems;
  if (!error && !table->FindSection(kSection)) {
    problems.push_back(std::string("has no section [") + kSection +
                       "], where the patcher looks up every text and setting" + TextHint(path));
  } else if (!error) {
    std::string list;
    for (const std::string& key : MissingKeys(table)) list += (list.empty() ? "" : ", ") + key;
    if (!list.empty())
      problems.push_back(std::string("lacks keys of [") + kSection +
                         "] that the patcher looks up: " + list);
    const char* version = table->GetValue(kSection, "ver");
    if (version && !HoldsHexNumber(version)) {
      problems.push_back(std::string("ver=") + version +
                         " is no hexadecimal version: the patcher reads it as 0 and refuses "
                         "every installed game");
    }
  }
  delete table;
  if (error) return ReportError(path, "cannot read Patch.ini", error);
  for (const std::string& problem : problems) {
    if (allowMissing) {
      Warn(path, problem);
    } else {
      ReportFault(path, problem);
    }
  }
  if (problems.empty() || allowMissing) return kExitOk;
  std::fprintf(stderr, "vornpatch: give --allow-missing-keys to build the patch anyway\n");
  return kExitFailure;
}
