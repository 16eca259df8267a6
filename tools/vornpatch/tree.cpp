#include "tree.h"

std::string JoinPath(const std::string& directory, const std::string& name, char separator) {
  if (directory.empty()) return name;
  if (directory.back() == separator || directory.back() == '\\' || directory.back() == '/') {
    return directory + name;
  }
  return directory + separator + name;
}

void SplitPath(const std::string& relative, std::string* folder, std::string* name) {
  const size_t cut = relative.rfind('\\');
  *folder = cut == std::string::npos ? std::string() : relative.substr(0, cut);
  *name = cut == std::string::npos ? relative : relative.substr(cut + 1);
}

namespace {

// A listing ends with NOMOREFILES (disk, HPFS) or NOTFOUND (pack); an empty directory fails its
// FindFirst the same way.
bool EndsListing(ErrorCode error) { return error == ERR_NOMOREFILES || error == ERR_NOTFOUND; }

void WalkDirectory(CFileService* service, const std::string& full, const std::string& relative,
                   char separator, const WalkVisitor& visit, WalkResult* result) {
  FindRecord record{};
  ErrorCode error = service->FindFirst(&record, full.c_str());
  while (!error) {
    WalkEntry entry;
    entry.attributes = record.attributes;
    entry.name = record.name;
    entry.relative = JoinPath(relative, record.name, '\\');
    entry.full = JoinPath(full, record.name, separator);
    result->stopped = visit(entry);
    if (result->stopped) break;
    if (entry.IsDirectory()) {
      WalkDirectory(service, entry.full, entry.relative, separator, visit, result);
      if (result->stopped || result->error) break;
    }
    error = service->FindNext(&record);
  }
  if (record.service) service->FindClose(&record);
  if (error && !EndsListing(error) && !result->stopped && !result->error) {
    result->error = error;
    result->failedDirectory = full;
  }
}

}  // namespace

WalkResult WalkTree(CFileService* service, const std::string& root, char separator,
                    const WalkVisitor& visit) {
  WalkResult result;
  WalkDirectory(service, root, std::string(), separator, visit, &result);
  return result;
}
