// vornpatch verify TARGET
#include <cstdio>

#include "commands.h"
#include "messages.h"
#include "names.h"
#include "progress.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {{"quiet", 'q', false}, {nullptr, 0, false}};

int RunVerify(const Args& args) {
  const std::string& path = args.positional[0];
  CFile* file = nullptr;
  Target* target = nullptr;
  if (int status = OpenTarget(path.c_str(), &file, &target)) return status;

  std::string fault, summary;
  bool sound;
  {
    Progress progress("verifying", target->VerifyWork());
    sound = target->Verify(&progress, &fault, &summary);
  }
  // Names the patcher or extract would refuse, or that would leave the game folder.
  if (sound && target->Service()) {
    WalkResult walk =
        WalkTree(target->Service(), std::string(), '\\', [&](const WalkEntry& entry) -> int {
          if (const char* reason = CheckMemberPath(entry.relative, UnsafeComponent)) {
            fault = "member '" + entry.relative + "' has an unsafe name: it " + reason;
            return kExitFailure;
          }
          return kExitOk;
        });
    if (walk.error) {
      fault = "the directory cannot be listed: " + DescribeError(walk.error);
    }
    sound = !walk.stopped && !walk.error;
  }
  int status = kExitOk;
  if (!sound) {
    status = ReportFault(path, std::string(target->Kind()) + " is damaged: " + fault);
  } else if (!args.Has("quiet")) {
    std::printf("%s: OK (%s; %s)\n", Printable(path, stdout).c_str(), target->Kind(),
                summary.c_str());
  }
  delete target;
  delete file;
  return status;
}

}  // namespace

VORNPATCH_COMMAND(verify, "check a patch, LZSS container or pack for damage",
                  "Usage: vornpatch verify [-q] TARGET\n"
                  "\n"
                  "Checks everything in TARGET that can be checked: for containers the block\n"
                  "table and every coded block, for packs the directory's order, the member\n"
                  "ranges and the CRC-32 of every member, and that no member name could land\n"
                  "outside the folder it is copied to. A patch executable must also carry\n"
                  "PATCH.INI. Exits 1 with a message naming the first fault found.\n"
                  "\n"
                  "Options:\n"
                  "  -q, --quiet   print nothing when the target is sound\n",
                  kOptions, 1, 1, RunVerify);
