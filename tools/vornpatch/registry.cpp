#include <algorithm>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "file/file_service.h"
#include "messages.h"
#include "os.h"

namespace {

// Function-local tables: registrars in other files run before main, in any order.
std::vector<Command>& CommandTable() {
  static std::vector<Command> table;
  return table;
}

struct OpenerEntry {
  int order;
  const char* kind;
  TargetOpener opener;
};

std::vector<OpenerEntry>& OpenerTable() {
  static std::vector<OpenerEntry> table;
  return table;
}

}  // namespace

void RegisterCommand(const Command& command) {
  std::vector<Command>& table = CommandTable();
  auto at = std::lower_bound(
      table.begin(), table.end(), command,
      [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  table.insert(at, command);
}

const std::vector<Command>& Commands() { return CommandTable(); }

const Command* FindCommand(const char* name) {
  for (const Command& command : CommandTable()) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "vornpatch %s: %s\nTry 'vornpatch %s --help'.\n", command, message.c_str(),
               command);
  return kExitUsage;
}

void RegisterTargetOpener(int order, const char* kind, TargetOpener opener) {
  std::vector<OpenerEntry>& table = OpenerTable();
  OpenerEntry entry{order, kind, opener};
  auto at = std::upper_bound(
      table.begin(), table.end(), entry,
      [](const OpenerEntry& a, const OpenerEntry& b) { return a.order < b.order; });
  table.insert(at, entry);
}

std::string TargetKindList() {
  std::string text;
  const std::vector<OpenerEntry>& table = OpenerTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (i > 0) text += (i + 1 == table.size()) ? " or " : ", ";
    text += table[i].kind;
  }
  return text;
}

int OpenTarget(const char* path, CFile** file, Target** target) {
  *file = nullptr;
  *target = nullptr;
  ErrorCode error = nullptr;
  CFile* opened = FileServiceTable.Open(path, OPEN_READ | OPEN_SHARE_READ, &error);
  if (!opened) return ReportError(path, "cannot open the file", error ? error : ERR_OPENFAIL);
  u64 size = 0;
  if (FileSize64(opened, &size) && size > kMaxFileSize) {
    delete opened;
    return ReportFault(path, "the file is too large: " + TooLargeText(size));
  }

  for (const OpenerEntry& entry : OpenerTable()) {
    std::string fault;
    Target* made = nullptr;
    OpenOutcome outcome = entry.opener(path, opened, &made, &fault);
    if (outcome == OpenOutcome::kNotMine) continue;
    if (outcome == OpenOutcome::kBroken) {
      delete made;
      delete opened;
      return ReportFault(path, std::string("broken ") + entry.kind + ": " + fault);
    }
    *file = opened;
    *target = made;
    return kExitOk;
  }
  delete opened;
  return ReportFault(path, "not a " + TargetKindList());
}
