// vornpatch lzss compress|decompress IN OUT
#include <cstring>

#include "archive/lzss_file.h"
#include "coding.h"
#include "commands.h"
#include "container_write.h"
#include "copy.h"
#include "messages.h"
#include "os.h"
#include "output.h"
#include "progress.h"
#include "source_check.h"

namespace {

const OptionSpec kOptions[] = {
    {"method", 0, true}, {"block-size", 0, true}, {"fast", 0, false}, {nullptr, 0, false}};

constexpr u32 kDefaultBlockSize = 32768;
// Every block is held decoded in memory: readers refuse larger blocks.
constexpr u32 kMaxBlockSize = CLzssFile::kMaxBlockSize;

int Compress(const Args& args, const std::string& in, const std::string& out) {
  Coding coding;
  if (int status = ChooseCoding("lzss", args, &coding)) return status;
  u32 blockSize = kDefaultBlockSize;
  if (const char* text = args.Value("block-size")) {
    if (!ParseNumber(text, &blockSize) || blockSize == 0 || blockSize > kMaxBlockSize) {
      return UsageError("lzss", std::string("invalid block size '") + text + "': use 1.." +
                                    std::to_string(kMaxBlockSize));
    }
  }

  if (int status = RefuseSpecialFile(in)) return status;
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(in.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
  if (!source) return ReportError(in, "cannot open the file", error ? error : ERR_OPENFAIL);
  u64 size = source->GetSize();
  FileSize64(source, &size);
  FileIdentity inId, outId;
  const bool same = IdentifyFile(source, &inId) && IdentifyPath(out, &outId) && inId == outId;
  if (same || size > kMaxFileSize) {
    delete source;
    if (same) return ReportFault(out, "refusing to overwrite the input");
    return ReportFault(in, "the file is too large: " + TooLargeText(size));
  }

  if (coding.autoMethod) {
    if (int status = PickMethodFromSamples(&coding, {{in, size}})) {
      delete source;
      return status;
    }
  }
  OutputFile output(out);
  int status = output.Create();
  CLzssFile* container = nullptr;
  if (!status) {
    container = CreateContainerAt(output.File(), 0, blockSize, coding, out);
    if (!container) status = kExitFailure;
  }
  if (!status) {
    error = Presize(container, static_cast<u32>(size));
    if (error) status = ReportError(out, "cannot size the container", error);
  }
  if (!status) {
    Progress progress("compressing", size);
    CopyResult copy = CopyBytes(source, container, size, &progress);
    progress.Clear();
    if (copy.sourceShort) {
      status = ReportFault(in, "the file changed size while it was being read");
    } else if (copy.error) {
      status = copy.readFailed ? ReportError(in, "cannot read the file", copy.error)
                               : ReportError(out, "cannot write the container", copy.error);
    }
  }
  delete source;
  status = EndContainer(status, container, output.File(), 0, out);
  if (!status) status = output.Commit();
  return status;
}

int Decompress(const std::string& in, const std::string& out) {
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(in.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
  if (!source) return ReportError(in, "cannot open the file", error ? error : ERR_OPENFAIL);
  FileIdentity inId, outId;
  if (IdentifyFile(source, &inId) && IdentifyPath(out, &outId) && inId == outId) {
    delete source;
    return ReportFault(out, "refusing to overwrite the input");
  }
  CLzssFile* container = new (std::nothrow) CLzssFile(source, 1);
  if (!container) {
    delete source;
    return ReportError(in, "cannot open the container", ERR_NOTENOUGHMEM);
  }
  char magic[4] = {0};
  source->ReadAt(magic, 0, 4, nullptr);
  if (!container->isOpen) {
    delete container;
    if (std::memcmp(magic, "LZSS", 4) != 0) return ReportFault(in, "not an LZSS container");
    return ReportFault(in, "the container header or block table cannot be read");
  }

  OutputFile output(out);
  int status = output.Create();
  if (!status) {
    Progress progress("decompressing", container->GetSize());
    CopyResult copy = CopyBytes(container, output.File(), container->GetSize(), &progress);
    progress.Clear();
    if (copy.error) {
      status = copy.readFailed
                   ? ReportError(in,
                                 "cannot decode block " + std::to_string(container->GetPosition() /
                                                                         container->BlockSize()),
                                 copy.error)
                   : ReportError(out, "cannot write the file", copy.error);
    }
  }
  delete container;
  if (!status) status = output.Commit();
  return status;
}

int RunLzss(const Args& args) {
  const std::string& mode = args.positional[0];
  if (args.positional.size() != 3) return UsageError("lzss", "expected MODE IN OUT");
  if (mode == "compress") return Compress(args, args.positional[1], args.positional[2]);
  if (mode == "decompress") {
    if (args.Has("method") || args.Has("block-size") || args.Has("fast")) {
      return UsageError("lzss", "--method, --fast and --block-size apply to compress only");
    }
    return Decompress(args.positional[1], args.positional[2]);
  }
  return UsageError("lzss", "unknown mode '" + mode + "': use compress or decompress");
}

std::string HelpText() {
  return std::string(
             "Usage: vornpatch lzss compress IN OUT [--method M|auto] [--fast] [--block-size N]\n"
             "       vornpatch lzss decompress IN OUT\n"
             "\n"
             "Codes a file as an LZSS container of independently coded blocks, or decodes a\n"
             "container back into a plain file. OUT is written under OUT.partial and renamed\n"
             "when complete.\n"
             "\n"
             "Options (compress):\n") +
         kCodingHelp +
         "  --block-size N      uncompressed bytes per block (default 32768, the size the\n"
         "                      patcher looks for; at most 16 MiB)\n";
}

const std::string kHelp = HelpText();

}  // namespace

VORNPATCH_COMMAND(lzss, "code a file as an LZSS container, or decode one", kHelp.c_str(), kOptions,
                  1, 3, RunLzss);
