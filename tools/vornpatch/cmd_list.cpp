// vornpatch list TARGET
#include <cstdio>

#include "coded_members.h"
#include "commands.h"
#include "messages.h"
#include "name_coding.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {{"names", 'n', false}, {"codepage", 0, true}, {nullptr, 0, false}};

// The coding of a coded member or solid group, on the lines below its own.
void PrintCoding(const PatchMembers& coded, const NameCoding& names, const std::string& member) {
  if (const CodedMember* file = coded.Coded(member)) {
    const TarnHeader& h = file->header;
    std::printf("                %s: %u bytes, CRC-32 %08X", h.dictionarySize ? "delta" : "tarn",
                h.outputSize, h.outputCrc);
    if (h.dictionarySize)
      std::printf("; needs the installed %u bytes, CRC-32 %08X", h.dictionarySize, h.dictionaryCrc);
    std::printf("\n");
  } else if (const SolidGroup* group = coded.Solid(member)) {
    std::printf("                solid group of %zu files:\n", group->entries.size());
    for (const SolidEntry& entry : group->entries) {
      std::string shown;
      if (!HostName(names, entry.name, &shown).empty()) shown = entry.name;
      std::printf("    %12u  %s%s\n", entry.size, kFilesRoot, Printable(shown, stdout).c_str());
    }
  }
}

int RunList(const Args& args) {
  const std::string& path = args.positional[0];
  NameCoding names;
  if (int status = ChooseNameCoding("list", args, &names)) return status;
  CFile* file = nullptr;
  Target* target = nullptr;
  if (int status = OpenTarget(path.c_str(), &file, &target)) return status;

  int status = kExitOk;
  CFileService* service = target->Service();
  if (!service) {
    status = ReportFault(path, target->WhyNoTree());
  } else {
    const bool namesOnly = args.Has("names");
    PatchMembers coded;
    const std::string damage = coded.Scan(service, nullptr);
    if (!damage.empty())
      status = ReportFault(path, std::string(target->Kind()) + " is damaged: " + damage);
    u64 files = 0, bytes = 0;
    WalkResult walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
      if (entry.IsDirectory() || status) return status;
      ErrorCode error = nullptr;
      CFile* member = service->Open(entry.full.c_str(), OPEN_READ, &error);
      if (!member)
        return ReportError(path, "cannot open member " + entry.full, error ? error : ERR_OPENFAIL);
      const u32 size = member->GetSize();
      delete member;
      std::string shown;
      const std::string fault = HostName(names, entry.relative, &shown);
      if (!fault.empty()) {
        Warn(path, "member " + entry.relative + " is shown as stored: it " + fault);
        shown = entry.relative;
      }
      if (namesOnly) {
        std::printf("%s\n", Printable(shown, stdout).c_str());
      } else {
        std::printf("%12u  %s\n", size, Printable(shown, stdout).c_str());
        PrintCoding(coded, names, entry.relative);
      }
      ++files;
      bytes += size;
      return kExitOk;
    });
    if (walk.stopped || status) {
      status = status ? status : walk.stopped;
    } else if (walk.error) {
      status = ReportError(path, "cannot list folder '" + walk.failedDirectory + "'", walk.error);
    } else if (!namesOnly) {
      std::printf("%llu files, %llu bytes (%s)\n", static_cast<unsigned long long>(files),
                  static_cast<unsigned long long>(bytes), target->Kind());
    }
  }
  delete target;
  delete file;
  return status;
}

}  // namespace

VORNPATCH_COMMAND(list, "list the files inside a patch, LZSS container or pack",
                  "Usage: vornpatch list [-n] [--codepage N] TARGET\n"
                  "\n"
                  "Lists the files inside TARGET with their sizes, in the order the directory\n"
                  "holds them, and a total line. TARGET is a patch executable (its payload is\n"
                  "found the way the patcher finds it), a bare LZSS container holding a pack,\n"
                  "or a pack. A directory that 'vornpatch verify' would refuse is refused\n"
                  "here too. Control characters in names are shown as \\xNN, and so, on a\n"
                  "terminal, are bytes that are not UTF-8. Below a coded member (CODED\\...)\n"
                  "a line gives its coding: tarn (coded alone) or delta, with the size and\n"
                  "CRC-32 of the file it gives and, for a delta, of the installed file it\n"
                  "needs; below a solid group (SOLID\\...) its files are listed. Members\n"
                  "under FILES\\ are whole copies.\n"
                  "\n"
                  "Options:\n" CODEPAGE_HELP
                  "  -n, --names   print the names only, one a line, without the total\n",
                  kOptions, 1, 1, RunList);
