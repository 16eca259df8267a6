// vornpatch extract TARGET -C DIR
#include <cstdio>

#include "coded_members.h"
#include "commands.h"
#include "copy.h"
#include "messages.h"
#include "name_coding.h"
#include "names.h"
#include "output_tree.h"
#include "progress.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {
    {"directory", 'C', true}, {"codepage", 0, true}, {"base", 0, true}, {nullptr, 0, false}};

// The folders above the file `host` ('\\'-separated below the root), made where missing.
int MakeFoldersAbove(OutputTree* tree, const std::string& host) {
  for (size_t cut = host.find('\\'); cut != std::string::npos; cut = host.find('\\', cut + 1)) {
    if (int status = tree->MakeFolder(host.substr(0, cut))) return status;
  }
  return kExitOk;
}

// A coded member decoded into the file it gives, whole or not at all.
int ExtractCoded(CFileService* service, const CodedMember& coded, const BaseTree* base,
                 const std::string& host, const std::string& targetPath, OutputTree* tree) {
  std::string fault;
  CFile* source = coded.header.dictionarySize ? OpenDeltaSource(*base, coded, &fault) : nullptr;
  if (!fault.empty()) return ReportFault(targetPath, fault);
  CFile* out = nullptr;
  int status = MakeFoldersAbove(tree, host);
  if (!status) status = tree->BeginFile(host, &out);
  ErrorCode error = status ? nullptr : DecodeCodedMember(service, coded, source, out);
  delete source;
  if (status) return status;
  if (error) {
    tree->AbandonFile();
    return ReportError(targetPath,
                       "member " + coded.member + " cannot be decoded into " +
                           tree->DiskPath(host) + "; it was not written",
                       error);
  }
  return tree->CommitFile();
}

// The files of a solid group, each whole or not at all.
int ExtractSolid(CFileService* service, const std::string& member, const NameCoding& names,
                 const std::string& targetPath, OutputTree* tree) {
  std::vector<u8> output;
  std::vector<SolidEntry> entries;
  const std::string fault = DecodeSolidGroup(service, member, &output, &entries);
  if (!fault.empty()) return ReportFault(targetPath, fault);
  for (const SolidEntry& entry : entries) {
    std::string host;
    HostName(names, kFilesRoot + entry.name, &host);  // checked before anything was written
    CFile* out = nullptr;
    int status = MakeFoldersAbove(tree, host);
    if (!status) status = tree->BeginFile(host, &out);
    if (status) return status;
    ErrorCode error = entry.size ? out->Write(&output[entry.offset], entry.size, nullptr) : nullptr;
    if (error) {
      tree->AbandonFile();
      return ReportError(tree->DiskPath(host), "cannot write the file", error);
    }
    if (int committed = tree->CommitFile()) return committed;
  }
  return kExitOk;
}

// What a coded patch needs before anything is written: sound coded members, names this host can
// write, and the installed game for deltas.
int CheckCodedMembers(CFileService* service, const BaseTree* base, const NameCoding& names,
                      const std::string& path, PatchMembers* coded) {
  const std::string fault = coded->Scan(service, base);
  if (!fault.empty()) return ReportFault(path, "refusing to extract: " + fault);
  if (const CodedMember* delta = base ? nullptr : coded->FirstDelta()) {
    return ReportFault(path, "member " + delta->member +
                                 " is a delta against the installed game: give its folder with "
                                 "--base");
  }
  for (const SolidGroup& group : coded->Groups()) {
    for (const SolidEntry& entry : group.entries) {
      std::string host;
      const std::string bad = HostName(names, kFilesRoot + entry.name, &host);
      if (!bad.empty())
        return ReportFault(path, "refusing to extract '" + entry.name + "': the name " + bad);
    }
  }
  return kExitOk;
}

// Copies one member into the tree as `host` (its path below the root in this system's names),
// whole or not at all, and holds the bytes to the CRC-32 the target keeps for it.
int ExtractFile(Target* target, const WalkEntry& entry, const std::string& host,
                const std::string& targetPath, OutputTree* tree, Progress* progress) {
  ErrorCode error = nullptr;
  CFile* member = target->Service()->Open(entry.full.c_str(), OPEN_READ, &error);
  if (!member)
    return ReportError(targetPath, "cannot open member " + entry.full,
                       error ? error : ERR_OPENFAIL);
  CFile* out = nullptr;
  int status = tree->BeginFile(host, &out);
  u32 expected = 0;
  const bool checked = target->MemberCrc(entry.full, &expected);
  u32 crc = 0;
  CopyResult copy;
  if (!status) copy = CopyBytes(member, out, member->GetSize(), progress, checked ? &crc : nullptr);
  delete member;
  if (status) return status;
  if (copy.error) {
    tree->AbandonFile();
    if (copy.readFailed)
      return ReportError(targetPath, "cannot read member " + entry.full, copy.error);
    return ReportError(tree->DiskPath(host), "cannot write the file", copy.error);
  }
  if (checked && crc != expected) {
    tree->AbandonFile();
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%08X, the pack's table says %08X", crc, expected);
    return ReportFault(targetPath, "member " + entry.full +
                                       " is damaged: the CRC-32 of its data is " + numbers +
                                       "; it was not written");
  }
  return tree->CommitFile();
}

int RunExtract(const Args& args) {
  const std::string& path = args.positional[0];
  const char* directory = args.Value("directory");
  if (!directory || !*directory)
    return UsageError("extract", "the destination (-C DIR) is missing");
  const std::string root = directory;
  NameCoding names;
  if (int status = ChooseNameCoding("extract", args, &names)) return status;
  BaseTree baseTree;
  const BaseTree* base = nullptr;
  if (int status = IndexBaseOption("extract", args, names, &baseTree, &base)) return status;

  CFile* file = nullptr;
  Target* target = nullptr;
  if (int status = OpenTarget(path.c_str(), &file, &target)) return status;
  CFileService* service = target->Service();
  if (!service) {
    int status = ReportFault(path, target->WhyNoTree());
    delete target;
    delete file;
    return status;
  }

  // Every name is checked before anything is written: a target with one name that would land
  // outside the destination is refused whole.
  u64 total = 0;
  WalkResult walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
    if (const char* fault = CheckMemberPath(entry.relative, UnsafeComponent)) {
      return ReportFault(path, "refusing to extract '" + entry.relative + "': the name " + fault);
    }
    std::string host;
    const std::string fault = HostName(names, entry.relative, &host);
    if (!fault.empty())
      return ReportFault(path, "refusing to extract '" + entry.relative + "': the name " + fault);
    if (entry.IsDirectory()) return kExitOk;
    CFile* member = service->Open(entry.full.c_str(), OPEN_READ, nullptr);
    if (member) total += member->GetSize();
    delete member;
    return kExitOk;
  });
  int status = walk.stopped;
  if (!status && walk.error) {
    status = ReportError(path, "cannot list folder '" + walk.failedDirectory + "'", walk.error);
  }
  PatchMembers codedMembers;
  if (!status) status = CheckCodedMembers(service, base, names, path, &codedMembers);
  OutputTree tree;
  if (!status) status = tree.Open(root);
  if (!status) {
    Progress progress("extracting", total);
    walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
      std::string host, rest;
      HostName(names, entry.relative, &host);  // checked above
      const MemberRoot kind = RootOf(entry.relative + (entry.IsDirectory() ? "\\" : ""), &rest);
      if (entry.IsDirectory()) {
        // The folders of coded files are made under FILES as their files are written.
        const bool coded = kind == MemberRoot::kCoded || kind == MemberRoot::kSolid;
        return coded ? kExitOk : tree.MakeFolder(host);
      }
      switch (kind) {
        case MemberRoot::kCoded:
          HostName(names, kFilesRoot + rest, &host);
          return ExtractCoded(service, *codedMembers.Coded(entry.relative), &baseTree, host, path,
                              &tree);
        case MemberRoot::kSolid:
          return ExtractSolid(service, entry.relative, names, path, &tree);
        default:
          return ExtractFile(target, entry, host, path, &tree, &progress);
      }
    });
    status = walk.stopped;
    if (!status && walk.error) {
      status = ReportError(path, "cannot list folder '" + walk.failedDirectory + "'", walk.error);
    }
  }
  delete target;
  delete file;
  return status;
}

}  // namespace

VORNPATCH_COMMAND(extract, "recreate the files inside a target in a folder",
                  "Usage: vornpatch extract TARGET -C DIR [--codepage N]\n"
                  "\n"
                  "Recreates the tree inside TARGET (a patch executable, an LZSS container\n"
                  "holding a pack, a pack, or another kind named by 'vornpatch --help') below\n"
                  "DIR, which is created when missing. Names are written as stored (packs store\n"
                  "them upper-cased). Nothing is written outside DIR: a target holding a name\n"
                  "with a '.' or '..' component, an empty component, a drive colon, a leading\n"
                  "separator or a control character, or a directory that 'vornpatch verify'\n"
                  "would refuse, is refused before any file is written, and a link found below\n"
                  "DIR is refused, never followed. Each file is written to NAME.vp~, checked\n"
                  "against the pack's CRC-32 and renamed over NAME (flushed to the disk first\n"
                  "when NAME exists), so existing files are replaced whole or, after a\n"
                  "failure, left as they were. Coded members are written as the files they\n"
                  "give, below FILES: CODED\\NAME as FILES\\NAME (a delta with the installed\n"
                  "file of --base, which must be the version it was made against) and the\n"
                  "files of each solid group SOLID\\NNNN under their own names.\n"
                  "\n"
                  "Options:\n" CODEPAGE_HELP
                  "  -C, --directory DIR   the folder to extract into (required)\n"
                  "  --base DIR            the installed game, the source of deltas\n",
                  kOptions, 1, 1, RunExtract);
