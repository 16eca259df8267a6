// vornpatch build SRC -o PATCH.exe [--stub STUB.exe] [--method M|auto] [--fast] [...]
#include <cstring>

#include "archive/payload_bounds.h"
#include "archive/payload_scan.h"
#include "build_summary.h"
#include "coded_build.h"
#include "coding.h"
#include "commands.h"
#include "container_write.h"
#include "copy.h"
#include "messages.h"
#include "os.h"
#include "output.h"
#include "pack_build.h"
#include "patch_ini_check.h"
#include "progress.h"
#include "seal_write.h"
#include "source_check.h"
#include "stub_locate.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {
    {"output", 'o', true},  {"stub", 0, true},
    {"method", 0, true},    {"fast", 0, false},
    {"codec", 0, true},     {"base", 0, true},
    {"no-delta", 0, false}, {"follow-links", 0, false},
    {"codepage", 0, true},  {"allow-missing-keys", 0, false},
    {"quiet", 'q', false},  {"json", 0, false},
    {nullptr, 0, false},
};

// The patcher finds its payload by this block size, so patches always use it.
constexpr u32 kPatchBlockSize = kPayloadBlockSize;

bool SameLetters(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// Finds Patch.ini and the Files folder in SRC, in any letter case.
int FindSourceParts(const std::string& source, std::string* ini, std::string* files) {
  CFileService* disk = nullptr;
  const char* rest = "";
  disk = ResolvePath(&rest);
  FindRecord record{};
  ErrorCode error = disk->FindFirst(&record, source.c_str());
  if (error == ERR_NOMOREFILES) {
    if (record.service) disk->FindClose(&record);
    return ReportFault(source, "the folder is empty: a patch source holds Patch.ini and Files");
  }
  int status = kExitOk;
  for (; !error && !status; error = disk->FindNext(&record)) {
    const bool folder = (record.attributes & ATTR_DIRECTORY) != 0;
    const std::string path = JoinPath(source, record.name, kDiskSeparator);
    std::string* slot = nullptr;
    if (!folder && SameLetters(record.name, "patch.ini")) slot = ini;
    if (folder && SameLetters(record.name, "files")) slot = files;
    if (!slot) {
      Warn(path, "ignored: a patch source holds only Patch.ini and the folder Files");
    } else if (!slot->empty()) {
      status = ReportFault(
          source, "holds both " + *slot + " and " + path + "; pack names ignore letter case");
    } else {
      *slot = path;
    }
  }
  if (record.service) disk->FindClose(&record);
  if (status) return status;
  if (error != ERR_NOMOREFILES) return ReportError(source, "cannot list the folder", error);
  if (ini->empty()) return ReportFault(source, "has no Patch.ini, which the patcher reads first");
  if (files->empty()) return ReportFault(source, "has no folder Files with the files to install");
  return kExitOk;
}

// RunBuild's steps.

// The stub, opened once and closed when the build ends.
struct Stub {
  CFile* file = nullptr;
  std::string path;
  u64 size = 0;

  Stub() = default;
  ~Stub() { delete file; }
  Stub(const Stub&) = delete;
  Stub& operator=(const Stub&) = delete;
};

// Opens the stub and refuses it when it is the output or already holds a payload. *outputExists
// tells whether the output exists, and *existing then identifies it.
int OpenStubFor(const Args& args, const std::string& output, Stub* stub, FileIdentity* existing,
                bool* outputExists) {
  stub->file = OpenStub(args.Value("stub"), &stub->path);
  if (!stub->file) return kExitFailure;
  stub->size = stub->file->GetSize();
  FileSize64(stub->file, &stub->size);
  FileIdentity stubId;
  *outputExists = IdentifyPath(output, existing);
  if (*outputExists && IdentifyFile(stub->file, &stubId) && stubId == *existing) {
    return ReportFault(output, "refusing to overwrite the stub " + stub->path);
  }
  if (stub->size >= 0x80000000ull)
    return ReportFault(stub->path, "the stub is implausibly large (2 GiB or more)");
  u32 falseStart = 0;
  PayloadSeal stubSeal;
  ErrorCode error = FindPayload(stub->file, &falseStart, &stubSeal);
  if (!error) {
    return ReportFault(stub->path, std::string("the stub already holds a ") +
                                       (stubSeal.length ? "seal record in front of a container at "
                                                        : "container header at ") +
                                       "offset " + std::to_string(falseStart) +
                                       " (is it a built patch?); the patcher would read that "
                                       "instead of the payload");
  }
  if (error != ERR_NOTFOUND) return ReportError(stub->path, "cannot read the stub", error);
  return kExitOk;
}

// The sources: Patch.ini and the tree under Files, as PATCH.INI and FILES\...; with --method auto
// the method is picked from them.
int GatherSources(const Args& args, const std::string& source, SourceSet* set, Coding* coding) {
  std::string ini, files;
  if (int status = FindSourceParts(source, &ini, &files)) return status;
  if (int status = CheckSourceEntry(files, true, set->followLinks)) return status;
  if (int status = AddSourceFile(set, ini, "PATCH.INI")) return status;
  if (int status = CheckPatchIni(ini, args.Has("allow-missing-keys"))) return status;
  const size_t before = set->files.size();
  if (int status = AddSourceTree(set, files, "FILES\\")) return status;
  if (set->files.size() == before) Warn(files, "holds no files: the patch installs nothing");
  if (int status = FinishSourceSet(set)) return status;
  if (coding->autoMethod) {
    std::vector<SampleInput> samples;
    for (const SourceFile& file : set->files) samples.push_back({file.diskPath, file.size});
    if (int status = PickMethodFromSamples(coding, samples)) return status;
  }
  return kExitOk;
}

int CopyStub(const Stub& stub, CFile* out, const std::string& output, Progress* progress) {
  ErrorCode error = stub.file->Seek(0, SEEK_FROM_START);
  CopyResult copy;
  if (!error) copy = CopyBytes(stub.file, out, stub.size, progress);
  if (error || copy.error) {
    progress->Clear();
    if (error || copy.readFailed)
      return ReportError(stub.path, "cannot read the stub", error ? error : copy.error);
    return ReportError(output, "cannot write the stub", copy.error);
  }
  return kExitOk;
}

// Behind the stub (at sealOffset): the seal record, reserved first and filled in at the end, and
// the container with the pack.
int WritePayload(const SourceSet& set, const Coding& coding, CFile* out, u32 sealOffset,
                 const std::string& output, Progress* progress, CFile* spool) {
  const u32 payloadOffset = sealOffset + kSealSize;
  if (int status = ReserveSeal(out, sealOffset, output)) return status;
  CLzssFile* container =
      CreateContainerAt(out, payloadOffset, kPatchBlockSize, coding, output, kSealedSpare);
  if (!container) return kExitFailure;
  int status = WritePackFromSources(
      set, container, output, progress,
      [&](u32 packSize) -> int {
        // The whole patch must stay addressable, for this tool and for the patcher.
        const u64 blocks = packSize / kPatchBlockSize + 1;
        const u64 bound =
            payloadOffset + CLzssFile::kHeaderSize + 4 * blocks + static_cast<u64>(packSize);
        if (bound > kMaxFileSize) {
          return ReportFault(output, "the patch would be too large: up to " + TooLargeText(bound));
        }
        ErrorCode sizing = Presize(container, packSize);
        return sizing ? ReportError(output, "cannot size the payload", sizing) : kExitOk;
      },
      spool);
  progress->Clear();
  if (status) {
    delete container;
    return status;
  }
  if (int finished = FinishContainer(container, out, payloadOffset, output)) return finished;
  return WriteSealRecord(out, sealOffset, output);
}

// The patcher takes the first seal or container header it meets: it must be this payload.
int CheckPayloadFound(CFile* out, u32 payloadOffset, const std::string& output) {
  PayloadBounds found;
  ErrorCode error = LocatePayload(out, &found);
  if (error || !found.sealed || found.offset != payloadOffset) {
    return ReportFault(
        output, error
                    ? "the payload cannot be found in the result: " + DescribeError(error)
                    : "the patcher would find a payload at offset " + std::to_string(found.offset) +
                          " instead of the sealed one at " + std::to_string(payloadOffset));
  }
  return kExitOk;
}

// --codec, --base and --no-delta; *code tells whether any file is to be coded.
int ChooseCodedBuild(const Args& args, CodedBuildOptions* options, std::string* base, bool* code) {
  const char* codec = args.Value("codec");
  if (codec && std::strcmp(codec, "tarn") != 0 && std::strcmp(codec, "lzss") != 0)
    return UsageError("build", std::string("invalid codec '") + codec + "': use tarn or lzss");
  options->tarn = !codec || std::strcmp(codec, "tarn") == 0;
  options->fast = args.Has("fast");
  const char* old = args.Value("base");
  if (old && !*old) return UsageError("build", "--base needs the folder of the installed game");
  if (old && !args.Has("no-delta")) *base = old;
  *code = options->tarn || !base->empty();
  return kExitOk;
}

// The coded members, spooled beside the output until the pack is written.
int CodeMembers(const CodedBuildOptions& options, const std::string& base, const NameCoding& names,
                SourceSet* set, OutputFile* spool, CodedBuildFigures* figures) {
  BaseTree tree;
  CodedBuildOptions chosen = options;
  if (!base.empty()) {
    if (int status = CheckSourceEntry(base, true, true)) return status;
    if (int status = tree.Index(base, names)) return status;
    chosen.base = &tree;
  }
  if (int status = spool->Create()) return status;
  return PlanCodedMembers(set, chosen, spool->File(), spool->Path() + ".partial", figures);
}

int RunBuild(const Args& args) {
  const u64 started = MonotonicMilliseconds();
  const std::string& source = args.positional[0];
  const char* outputName = args.Value("output");
  if (!outputName || !*outputName)
    return UsageError("build", "the output file (-o FILE) is missing");
  Coding coding;
  if (int status = ChooseCoding("build", args, &coding)) return status;
  SourceSet set;
  if (int status = ReadSourceOptions("build", args, &set)) return status;
  CodedBuildOptions codedOptions;
  std::string base;
  bool code = false;
  if (int status = ChooseCodedBuild(args, &codedOptions, &base, &code)) return status;
  const std::string output = outputName;

  Stub stub;
  FileIdentity existing;
  bool outputExists = false;
  if (int status = OpenStubFor(args, output, &stub, &existing, &outputExists)) return status;
  set.outputName = output;
  if (outputExists) set.output = &existing;
  if (int status = GatherSources(args, source, &set, &coding)) return status;
  const u64 inputBytes = set.totalBytes;
  OutputFile spool(output + ".coded");
  CodedBuildFigures figures;
  if (code) {
    if (int status = CodeMembers(codedOptions, base, set.names, &set, &spool, &figures))
      return status;
  }

  OutputFile out(output);
  if (int status = out.Create()) return status;
  Progress progress("building", stub.size + set.totalBytes);
  if (int status = CopyStub(stub, out.File(), output, &progress)) return status;
  const u32 sealOffset = static_cast<u32>(stub.size);
  if (int status =
          WritePayload(set, coding, out.File(), sealOffset, output, &progress, spool.File()))
    return status;
  if (int status = CheckPayloadFound(out.File(), sealOffset + kSealSize, output)) return status;
  u64 patchBytes = out.File()->GetSize();
  FileSize64(out.File(), &patchBytes);
  if (int committed = out.Commit()) return committed;
  PrintBuildSummary(
      args, {output, stub.path, set.files.size(), inputBytes, stub.size, patchBytes, coding.method,
             MonotonicMilliseconds() - started, code ? &figures : nullptr});
  return kExitOk;
}

std::string HelpText() {
  return std::string(
             "Usage: vornpatch build SRC -o PATCH.exe [--stub STUB.exe] [--method M|auto] "
             "[--fast]\n"
             "                       [--codec tarn|lzss] [--base OLD_GAME_DIR [--no-delta]]\n"
             "                       [--follow-links] [--codepage N] [--allow-missing-keys]\n"
             "                       [-q | --json]\n"
             "\n"
             "Builds a patch: the patcher executable (the stub) followed by its payload, an\n"
             "LZSS container with blocks of 32768 bytes holding a pack with the members\n"
             "PATCH.INI (from SRC/Patch.ini) and FILES\\... (the tree SRC/Files, names\n"
             "upper-cased). A seal record between the two gives the container's length and\n"
             "CRC-32: the patcher refuses a damaged or cut patch before it asks anything.\n"
             "The patch may be signed afterwards. The same inputs always give the same\n"
             "bytes. The result is written to PATCH.exe.partial and renamed when complete;\n"
             "the stub and the source files are never overwritten. Patch.ini must hold the\n"
             "texts and settings that the patcher looks up in its section [str]. At the end\n"
             "it prints a summary on stdout.\n"
             "\n"
             "With --codec tarn (the default) a file that the Tarn codec shrinks travels as\n"
             "CODED\\NAME, coded alone, and files below 16 MiB as solid groups SOLID\\NNNN\n"
             "of at most 64 MiB (programs, compressed files and the rest apart), ordered by\n"
             "extension and name; the others stay FILES\\NAME.\n"
             "With --base, files equal to the installed game's are left out and changed\n"
             "ones become deltas CODED\\NAME against the installed file where that is the\n"
             "smallest; installed files that the new tree lacks are named in a warning.\n"
             "Coded members are spooled to PATCH.exe.coded.partial while the build runs.\n"
             "--fast also gives the Tarn codec a cheaper search: on the benchmark corpus\n"
             "(bench/RESULTS.md) about 70 % of the CPU time for a patch about 2 % larger.\n"
             "\n"
             "Options:\n"
             "  -o, --output FILE   the patch to write (required)\n"
             "  --codec C           tarn (default) or lzss: every file whole, as before\n"
             "  --base DIR          the installed game the patch applies to, for deltas\n"
             "  --no-delta          ignore --base: the patch of a build without it\n") +
         kStubHelp + kCodingHelp + SOURCE_OPTIONS_HELP + kAllowMissingKeysHelp + kSummaryHelp;
}

const std::string kHelp = HelpText();

}  // namespace

VORNPATCH_COMMAND(build, "build a patch executable from Patch.ini and a Files tree", kHelp.c_str(),
                  kOptions, 1, 1, RunBuild);
