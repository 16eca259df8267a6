// vornpatch pack DIR -o FILE.pak
#include "commands.h"
#include "messages.h"
#include "output.h"
#include "pack_build.h"
#include "progress.h"

namespace {

const OptionSpec kOptions[] = {
    {"output", 'o', true},
    {"follow-links", 0, false},
    {"codepage", 0, true},
    {nullptr, 0, false},
};

int RunPack(const Args& args) {
  const std::string& source = args.positional[0];
  const char* outputName = args.Value("output");
  if (!outputName || !*outputName)
    return UsageError("pack", "the output file (-o FILE) is missing");

  FileIdentity existing;
  SourceSet set;
  if (int status = ReadSourceOptions("pack", args, &set)) return status;
  set.outputName = outputName;
  if (IdentifyPath(outputName, &existing)) set.output = &existing;
  if (int status = AddSourceTree(&set, source, std::string())) return status;
  if (set.files.empty()) return ReportFault(source, "holds no files to pack");
  if (int status = FinishSourceSet(&set)) return status;

  OutputFile output(outputName);
  if (int status = output.Create()) return status;
  {
    Progress progress("packing", set.totalBytes);
    if (int status = WritePackFromSources(set, output.File(), outputName, &progress)) return status;
  }
  return output.Commit();
}

}  // namespace

VORNPATCH_COMMAND(
    pack, "store a folder tree in a pack file",
    "Usage: vornpatch pack DIR -o FILE.pak [--follow-links] [--codepage N]\n"
    "\n"
    "Stores every file below DIR in a pack. Member names are the paths relative\n"
    "to DIR, upper-cased, with '\\' between components, in the pack directory's\n"
    "order; the same tree always gives the same bytes. Empty folders are not\n"
    "stored; only files and folders are (no pipes, devices or, unless followed,\n"
    "links). Files must be below 4 GiB, and so must the pack.\n"
    "\n"
    "Options:\n" SOURCE_OPTIONS_HELP
    "  -o, --output FILE   the pack to write (written to FILE.partial, then renamed)\n",
    kOptions, 1, 1, RunPack);
