// The command table of the vornpatch tool and its two extension points.
//
// 1. Subcommands. Each subcommand lives in its own file cmd_<name>.cpp in this folder; the build
//    compiles every .cpp file here, and the file registers itself from a static constructor:
//
//      static const OptionSpec kOptions[] = {{"output", 'o', true}, {nullptr, 0, false}};
//      static int RunFoo(const Args& args) { ... return kExitOk; }
//      VORNPATCH_COMMAND(foo, "one line for the top-level help",
//                        "Usage: vornpatch foo IN -o OUT\n...full help...\n",
//                        kOptions, 1, 1, RunFoo);
//
//    The dispatcher (main.cpp) answers --help/-h for every command with its help text, parses
//    the options against the table and checks the count of positional arguments (min, max;
//    max -1 = any) before Run is called, so Run sees only well-formed arguments. Run returns an
//    exit code: kExitOk, kExitFailure (the work failed; a message has been printed) or kExitUsage.
//
// 2. Target kinds. `list`, `extract` and `verify` take a TARGET file and ask the registered
//    target openers, in ascending order, whether they recognise it. The built-in kinds are
//      100 patch executable (payload found by the patcher's own scan),
//      200 LZSS container,
//      300 pack.
//    A further kind (an HPFS block file, say) adds a file with
//      VORNPATCH_TARGET_KIND(400, OpenMyKind);
//    and implements Target: a file service whose root "" is the target's top level (walked with
//    FindFirst/FindNext, files read through Open), and a full integrity check. A target whose
//    tree the integrity check would refuse on its structure alone (a damaged directory) offers
//    no service, so that list and extract refuse it too.
#pragma once

#include <string>
#include <vector>

#include "core/errors.h"
#include "file/file_service.h"

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// ---------------------------------------------------------------------------------------------
// Options and arguments.

struct OptionSpec {
  const char* longName;  // without the leading "--"; null ends a table
  char shortName;        // 0 when the option has no short form
  bool takesValue;
};

struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // long name, value ("" for flags)

  bool Has(const char* longName) const;
  // The last value given for the option, or null when it was not given.
  const char* Value(const char* longName) const;
};

// Parses argv[0..argc) against specs. "--" ends the options; "--name=value", "--name value",
// "-n value" and "-nvalue" are accepted. On a usage error returns false and fills *error.
bool ParseArgs(int argc, char** argv, const OptionSpec* specs, Args* args, std::string* error);

// Parses an unsigned number given in decimal or with a 0x prefix in hexadecimal.
bool ParseNumber(const char* text, u32* value);

// ---------------------------------------------------------------------------------------------
// Subcommands.

struct Command {
  const char* name;
  const char* summary;
  const char* help;
  const OptionSpec* options;
  int minPositional;
  int maxPositional;  // -1: no limit
  int (*run)(const Args& args);
};

void RegisterCommand(const Command& command);
// All commands, sorted by name.
const std::vector<Command>& Commands();
const Command* FindCommand(const char* name);

struct CommandRegistrar {
  explicit CommandRegistrar(const Command& command) { RegisterCommand(command); }
};

#define VORNPATCH_COMMAND(id, summary, help, options, minPositional, maxPositional, run) \
  static const CommandRegistrar kRegister_##id(                                          \
      Command{#id, summary, help, options, minPositional, maxPositional, run})

// Prints "vornpatch NAME: MESSAGE" and the hint to --help; returns kExitUsage.
int UsageError(const char* command, const std::string& message);

// ---------------------------------------------------------------------------------------------
// Targets of list, extract and verify.

class Progress;

class Target {
 public:
  virtual ~Target() = default;

  // What the target is, for messages ("patch executable", "pack", ...).
  virtual const char* Kind() const = 0;
  // The tree inside the target, or null when the target holds no tree (an LZSS container of
  // other data); why() then says what it holds. The root directory is "".
  virtual CFileService* Service() = 0;
  virtual std::string WhyNoTree() const { return std::string(); }
  // Checks everything that can be checked. On a fault returns false and fills *fault with a
  // sentence naming it; notes (what was checked) go to *summary.
  virtual bool Verify(Progress* progress, std::string* fault, std::string* summary) = 0;
  // Total bytes Verify reads, for the progress bar (0 if unknown).
  virtual u64 VerifyWork() { return 0; }
  // The CRC-32 that the target's own integrity data give for the file `full` (as the service
  // names it); false when the target keeps none.
  virtual bool MemberCrc(const std::string& /*full*/, u32* /*crc*/) { return false; }

  Target() = default;
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
};

enum class OpenOutcome {
  kNotMine,  // the opener does not recognise the file; the next one is asked
  kOpened,   // *target is set
  kBroken,   // the file is of this kind but unusable; *fault says why
};

// Looks at `file` (the target opened read-only; it stays owned by the caller and outlives the
// Target). `path` is for messages only.
typedef OpenOutcome (*TargetOpener)(const char* path, CFile* file, Target** target,
                                    std::string* fault);

void RegisterTargetOpener(int order, const char* kind, TargetOpener opener);

struct TargetKindRegistrar {
  TargetKindRegistrar(int order, const char* kind, TargetOpener opener) {
    RegisterTargetOpener(order, kind, opener);
  }
};

#define VORNPATCH_TARGET_KIND(order, kind, opener) \
  static const TargetKindRegistrar kRegisterTarget_##order(order, kind, opener)

// Opens `path` and finds its kind. On success returns kExitOk with *file and *target set (the
// caller deletes the target first, then the file); otherwise prints the fault and returns
// kExitFailure.
int OpenTarget(const char* path, CFile** file, Target** target);
// "patch executable, LZSS container or pack" from the registered kinds.
std::string TargetKindList();
