// vornpatch: builds, lists, extracts and verifies patches, packs and LZSS containers.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "file/disk_file.h"
#include "file/file_service.h"

#ifndef VORNPATCH_VERSION
#define VORNPATCH_VERSION "unknown"
#endif

namespace {

void PrintTopHelp(FILE* out) {
  std::fprintf(out,
               "Usage: vornpatch COMMAND [ARGS...]\n"
               "  or:  vornpatch COMMAND --help\n"
               "  or:  vornpatch --version\n"
               "\n"
               "Commands:\n");
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\n"
               "list, extract and verify take a TARGET: a %s.\n"
               "Exit status: 0 success, 1 failure, 2 wrong usage.\n",
               TargetKindList().c_str());
}

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

int RunCommand(const Command& command, int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::fputs(command.help, stdout);
    return kExitOk;
  }
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv, command.options, &args, &error)) {
    return UsageError(command.name, error);
  }
  const int count = static_cast<int>(args.positional.size());
  if (count < command.minPositional) return UsageError(command.name, "missing argument");
  if (command.maxPositional >= 0 && count > command.maxPositional) {
    return UsageError(command.name,
                      "unexpected argument '" + args.positional[command.maxPositional] + "'");
  }

  // Every file the tool touches goes through the disk service under the empty prefix.
  InitMountTable(8);
  StartDiskService();
  const int status = command.run(args);
  ExitDiskService();
  ShutdownMountTable();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintTopHelp(stderr);
    return kExitUsage;
  }
  const char* word = argv[1];
  if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0 ||
      std::strcmp(word, "help") == 0) {
    if (argc > 2 && std::strcmp(word, "help") == 0) {
      const Command* command = FindCommand(argv[2]);
      if (!command) return UsageError("help", std::string("no command '") + argv[2] + "'");
      std::fputs(command->help, stdout);
      return kExitOk;
    }
    PrintTopHelp(stdout);
    return kExitOk;
  }
  if (std::strcmp(word, "--version") == 0) {
    std::printf("vornpatch %s\n", VORNPATCH_VERSION);
    return kExitOk;
  }
  const Command* command = FindCommand(word);
  if (!command) {
    std::fprintf(stderr, "vornpatch: unknown command '%s'\nTry 'vornpatch --help'.\n", word);
    return kExitUsage;
  }
  return RunCommand(*command, argc - 2, argv + 2);
}
