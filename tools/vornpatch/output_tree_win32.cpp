#include <new>

#include "commands.h"
#include "file/disk_file.h"
#include "file/file_service.h"
#include "file/win32_api.h"
#include "messages.h"
#include "os.h"
#include "output_tree.h"
#include "tree.h"

namespace {

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int RefuseLink(const std::string& path) {
  return ReportFault(path,
                     "is a link or another reparse point, which extract never follows; "
                     "refusing it");
}

// Every folder from the root down to `relative` must be a folder and no reparse point.
int CheckFolders(const OutputTree& tree, const std::string& relative) {
  for (size_t end = 0; !relative.empty() && end != std::string::npos;) {
    end = relative.find('\\', end ? end + 1 : 0);
    const std::string path = tree.DiskPath(relative.substr(0, end));
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (IsReparsePoint(attributes)) return RefuseLink(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return ReportFault(path, "is not a folder");
  }
  return kExitOk;
}

}  // namespace

struct OutputTree::State {
  std::string root;
  std::string checked;  // the folder below the root last found free of reparse points
  bool anyChecked = false;
  std::string target, temporary;  // of the file being written
  CFile* file = nullptr;
  bool replacing = false;  // a file of that name exists
};

OutputTree::OutputTree() : state_(new State) {}

OutputTree::~OutputTree() {
  AbandonFile();
  delete state_;
}

std::string OutputTree::DiskPath(const std::string& relative) const {
  return JoinPath(state_->root, relative, kDiskSeparator);
}

int OutputTree::Open(const std::string& root) {
  state_->root = root;
  std::string parent, name = root;
  const size_t cut = root.find_last_of("\\/");
  if (cut != std::string::npos) {
    parent = root.substr(0, cut + 1);
    name = root.substr(cut + 1);
  }
  if (name.empty()) return kExitOk;  // a drive's root or a trailing separator: nothing to make
  ErrorCode error = FileServiceTable.CreateDir(parent.c_str(), name.c_str());
  if (error && error != ERR_ALREADYEXISTS && error != ERR_FILEEXIST)
    return ReportError(root, "cannot create the folder", error);
  return kExitOk;
}

int OutputTree::MakeFolder(const std::string& relative) {
  std::string parent, name;
  SplitPath(relative, &parent, &name);
  if (int status = CheckFolders(*this, parent)) return status;
  ErrorCode error = FileServiceTable.CreateDir(DiskPath(parent).c_str(), name.c_str());
  if (error && error != ERR_ALREADYEXISTS && error != ERR_FILEEXIST)
    return ReportError(DiskPath(relative), "cannot create the folder", error);
  // What is there now must be a folder, not a link that was there before.
  return CheckFolders(*this, relative);
}

int OutputTree::BeginFile(const std::string& relative, CFile** file) {
  AbandonFile();
  State& s = *state_;
  std::string folder, name;
  SplitPath(relative, &folder, &name);
  if (!s.anyChecked || folder != s.checked) {
    if (int status = CheckFolders(*this, folder)) return status;
    s.checked = folder;
    s.anyChecked = true;
  }
  const std::string path = DiskPath(relative);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (IsReparsePoint(attributes)) return RefuseLink(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ReportFault(path, "is a folder");
  s.replacing = attributes != INVALID_FILE_ATTRIBUTES;
  const std::string temporary = path + kReplacementSuffix;
  // Left by a killed run; deleting a link removes the link itself.
  if (GetFileAttributesA(temporary.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ErrorCode error = FileServiceTable.Delete(temporary.c_str());
    if (error)
      return ReportError(temporary, "cannot remove the file left by an earlier run", error);
  }
  ErrorCode error = nullptr;
  // Created new: never an existing file or whatever a link points at.
  s.file = FileServiceTable.Open(temporary.c_str(), OPEN_READ | OPEN_WRITE | OPEN_CREATE, &error);
  if (!s.file)
    return ReportError(temporary, "cannot create the file", error ? error : ERR_OPENFAIL);
  s.target = path;
  s.temporary = temporary;
  *file = s.file;
  return kExitOk;
}

int OutputTree::CommitFile() {
  State& s = *state_;
  ErrorCode error = s.replacing ? s.file->Flush() : nullptr;
  delete s.file;
  s.file = nullptr;
  if (error) {
    AbandonFile();
    return ReportError(s.target + kReplacementSuffix, "cannot flush the file to the disk", error);
  }
  error = ReplaceFileWith(s.temporary.c_str(), s.target.c_str());
  if (error) {
    const std::string target = s.target;
    AbandonFile();
    return ReportError(
        target, "cannot rename its " + std::string(kReplacementSuffix) + " file to it", error);
  }
  s.temporary.clear();
  return kExitOk;
}

void OutputTree::AbandonFile() {
  State& s = *state_;
  delete s.file;
  s.file = nullptr;
  if (!s.temporary.empty()) FileServiceTable.Delete(s.temporary.c_str());
  s.temporary.clear();
}
