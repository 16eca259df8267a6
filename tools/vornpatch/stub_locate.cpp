#include "stub_locate.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file/file_service.h"
#include "messages.h"
#include "os.h"
#include "tree.h"

const char kStubHelp[] =
    "  --stub FILE         the patcher executable to put in front of the payload; default:\n"
    "                      $VORNPATCH_STUB, else the first found of vornpatch-stub.exe\n"
    "                      beside vornpatch, ../share/vornpatch/vornpatch-stub.exe from its\n"
    "                      folder and, for a tool in its build folder, the patcher of the\n"
    "                      Windows build of its source tree\n";

namespace {

constexpr char kDefaultStubName[] = "vornpatch-stub.exe";
constexpr char kStubVariable[] = "VORNPATCH_STUB";

// "/usr/bin/" gives "/usr/"; "" when the folder has no parent.
std::string ParentFolder(const std::string& folder) {
  if (folder.size() < 2) return std::string();
  const size_t cut = folder.find_last_of("/\\", folder.size() - 2);
  return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

// The places searched when the user names no stub, in order.
std::vector<std::string> DefaultPlaces() {
  std::vector<std::string> places;
  const std::string self = ExecutableDirectory();
  if (!self.empty()) places.push_back(self + kDefaultStubName);
  const std::string prefix = ParentFolder(self);
  if (!prefix.empty()) {
    places.push_back(prefix + "share" + kDiskSeparator + "vornpatch" + kDiskSeparator +
                     kDefaultStubName);
  }
#if defined(VORNPATCH_BUILD_FOLDER) && defined(VORNPATCH_TREE_STUB)
  // An installed copy of the tool must not depend on the tree it was built from.
  if (self == VORNPATCH_BUILD_FOLDER && *VORNPATCH_TREE_STUB) places.push_back(VORNPATCH_TREE_STUB);
#endif
  return places;
}

CFile* OpenForReading(const std::string& path, ErrorCode* error) {
  *error = nullptr;
  CFile* file = FileServiceTable.Open(path.c_str(), OPEN_READ | OPEN_SHARE_READ, error);
  if (!file && !*error) *error = ERR_OPENFAIL;
  return file;
}

void ReportNoStub(const std::vector<std::string>& places) {
  std::fprintf(stderr, "vornpatch: no patcher stub found; looked for\n  %s (not set)\n",
               kStubVariable);
  for (const std::string& place : places) std::fprintf(stderr, "  %s\n", place.c_str());
  std::fprintf(stderr,
               "vornpatch: name one with --stub FILE or %s=FILE, or build the patcher from the "
               "source tree:\n"
               "  cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "
               "-DCMAKE_BUILD_TYPE=Release\n"
               "  cmake --build build/win-i686 --target patcher\n",
               kStubVariable);
}

}  // namespace

CFile* OpenStub(const char* option, std::string* path) {
  const char* variable = std::getenv(kStubVariable);
  if (variable && !*variable) variable = nullptr;
  ErrorCode error = nullptr;
  if (option || variable) {
    *path = option ? option : variable;
    CFile* stub = OpenForReading(*path, &error);
    if (!stub) {
      ReportError(*path,
                  option ? "cannot open the patcher stub"
                         : "cannot open the patcher stub named by VORNPATCH_STUB",
                  error);
    }
    return stub;
  }
  const std::vector<std::string> places = DefaultPlaces();
  for (const std::string& place : places) {
    if (CFile* stub = OpenForReading(place, &error)) {
      *path = place;
      return stub;
    }
    // A stub that is there but unreadable is reported, not passed over for another one.
    if (error != ERR_FILENOTFOUND && error != ERR_PATHNOTFOUND) {
      ReportError(place, "cannot open the patcher stub", error);
      return nullptr;
    }
  }
  ReportNoStub(places);
  return nullptr;
}
