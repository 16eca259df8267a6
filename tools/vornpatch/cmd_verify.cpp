// vornpatch verify TARGET
#include <cstdio>

#include "coded_members.h"
#include "commands.h"
#include "messages.h"
#include "names.h"
#include "progress.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {
    {"quiet", 'q', false}, {"base", 0, true}, {"codepage", 0, true}, {nullptr, 0, false}};

// A file that takes every byte written and keeps none: the decoder checks the output's CRC-32.
class Discard : public CFile {
 public:
  Discard() : CFile(nullptr, 0) { isOpen = 1; }
  ErrorCode Write(const void*, u32 size, u32* done) override {
    if (done) *done = size;
    return nullptr;
  }
};

// Decodes every coded member (deltas only with the installed game) and checks the solid groups;
// false and *fault on the first that fails. Notes go to *summary.
bool VerifyCodedMembers(CFileService* service, const BaseTree* base, std::string* fault,
                        std::string* summary) {
  PatchMembers coded;
  *fault = coded.Scan(service, base);
  if (!fault->empty()) return false;
  size_t decoded = 0, deltas = 0, files = 0;
  for (const CodedMember& member : coded.Files()) {
    if (member.header.dictionarySize) ++deltas;
    if (member.header.dictionarySize && !base) continue;
    CFile* source = member.header.dictionarySize ? OpenDeltaSource(*base, member, fault) : nullptr;
    if (!fault->empty()) return false;
    Discard discard;
    ErrorCode error = DecodeCodedMember(service, member, source, &discard);
    delete source;
    if (error) {
      *fault = "member " + member.member + " cannot be decoded: " + DescribeError(error);
      return false;
    }
    ++decoded;
  }
  for (const SolidGroup& group : coded.Groups()) files += group.entries.size();
  if (coded.Files().empty() && coded.Groups().empty()) return true;
  *summary += "; " + std::to_string(decoded) + " coded members decoded, " +
              std::to_string(coded.Groups().size()) + " solid groups of " + std::to_string(files) +
              " files checked";
  if (deltas && !base)
    *summary += "; " + std::to_string(deltas) + " deltas not decoded (no --base)";
  return true;
}

int RunVerify(const Args& args) {
  const std::string& path = args.positional[0];
  NameCoding names;
  if (int status = ChooseNameCoding("verify", args, &names)) return status;
  BaseTree baseTree;
  const BaseTree* base = nullptr;
  if (int status = IndexBaseOption("verify", args, names, &baseTree, &base)) return status;
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
    if (sound) sound = VerifyCodedMembers(target->Service(), base, &fault, &summary);
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
                  "PATCH.INI. Coded members are decoded and held to their CRC-32, solid\n"
                  "groups also to their tables and their files' CRC-32 values, and no file may\n"
                  "be given twice; deltas are decoded with --base, which also checks that\n"
                  "each delta's installed file is the version it needs. Exits 1 with a message\n"
                  "naming the first fault found.\n"
                  "\n"
                  "Options:\n"
                  "  -q, --quiet   print nothing when the target is sound\n"
                  "  --base DIR    the installed game, the source of deltas\n" CODEPAGE_HELP,
                  kOptions, 1, 1, RunVerify);
