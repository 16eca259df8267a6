#include "source_check.h"

#include "commands.h"
#include "messages.h"

namespace {

const char* KindName(PathKind kind) {
  switch (kind) {
    case PathKind::kPipe:
      return "a named pipe";
    case PathKind::kSocket:
      return "a socket";
    case PathKind::kDevice:
      return "a device";
    case PathKind::kFolder:
      return "a folder";
    default:
      return "a file";
  }
}

}  // namespace

int CheckSourceEntry(const std::string& path, bool folder, bool follow, FileIdentity* identity) {
  PathKind kind = InspectPath(path, false, nullptr);
  if (kind == PathKind::kLink && !follow) {
    return ReportFault(path,
                       "refusing a symbolic link, which may lead out of the source; give "
                       "--follow-links to pack what it leads to");
  }
  if (follow) kind = InspectPath(path, true, identity);
  if (kind == PathKind::kMissing) return ReportFault(path, "leads nowhere (or cannot be read)");
  if (kind == PathKind::kLinkLoop) {
    return ReportFault(path, "leads round a loop of links, never to a file or folder");
  }
  const PathKind wanted = folder ? PathKind::kFolder : PathKind::kFile;
  if (kind == wanted) return kExitOk;
  return ReportFault(path, std::string("is ") + KindName(kind) + ", not " + KindName(wanted) +
                               ": only files and folders are packed");
}

int RefuseSpecialFile(const std::string& path) {
  const PathKind kind = InspectPath(path, true, nullptr);
  if (kind != PathKind::kPipe && kind != PathKind::kSocket && kind != PathKind::kDevice)
    return kExitOk;
  return ReportFault(path, std::string("is ") + KindName(kind) + ", not a file");
}

FolderTrail::FolderTrail(const std::string& root, const FileIdentity& rootIdentity)
    : levels_{{std::string(), root, rootIdentity}} {}

int FolderTrail::Enter(const std::string& relative, const std::string& full,
                       const FileIdentity& identity) {
  // Leave the folders that the walk has finished: those that do not hold this one.
  while (levels_.size() > 1) {
    const std::string& inside = levels_.back().relative;
    if (relative.compare(0, inside.size() + 1, inside + '\\') == 0) break;
    levels_.pop_back();
  }
  for (const Level& level : levels_) {
    if (level.identity == identity) {
      return ReportFault(full,
                         "leads back to " + level.full + ", which holds it: the links make a loop");
    }
  }
  levels_.push_back(Level{relative, full, identity});
  return kExitOk;
}
