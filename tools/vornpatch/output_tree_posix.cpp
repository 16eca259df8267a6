#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "commands.h"
#include "file/disk_file.h"
#include "messages.h"
#include "os.h"
#include "output_tree.h"
#include "tree.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The folder part and the last component of a '\'-separated relative path.
bool IsLink(int folder, const char* name) {
  struct stat info {};
  return fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

// Reports why the folder `relative`, called `name` in the folder `parent`, could not be opened
// without following a link.
int FolderFault(const OutputTree& tree, const std::string& relative, int parent,
                const std::string& name, int error) {
  const std::string path = tree.DiskPath(relative);
  // Linux answers ENOTDIR rather than ELOOP for a link opened with O_DIRECTORY.
  if ((error == ELOOP || error == ENOTDIR) && IsLink(parent, name.c_str()))
    return ReportFault(path, "is a symbolic link, which extract never follows; refusing it");
  if (error == ENOTDIR) return ReportFault(path, "exists and is not a folder");
  return ReportError(path, "cannot open the folder", ErrorFromErrno(error));
}

// Opens the folder `relative` one component at a time from the root, never through a link.
int OpenFolder(const OutputTree& tree, int rootFd, const std::string& relative, int* fd) {
  int current = dup(rootFd);
  if (current < 0) return ReportError(tree.DiskPath(""), "cannot open the folder", ERR_FILE);
  for (size_t start = 0; !relative.empty() && start <= relative.size();) {
    size_t end = relative.find('\\', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    const int next = openat(current, name.c_str(), kFolderFlags);
    if (next < 0) {
      const int status = FolderFault(tree, relative.substr(0, end), current, name, errno);
      close(current);
      return status;
    }
    close(current);
    current = next;
    start = end + 1;
  }
  *fd = current;
  return kExitOk;
}

}  // namespace

struct OutputTree::State {
  std::string root;
  int rootFd = -1;
  // The folder opened last (the one that holds the file being written) and its path.
  std::string folder;
  int folderFd = -1;
  std::string name, temporary;  // of the file being written, in folderFd
  CFile* file = nullptr;
  bool replacing = false;  // a file of that name exists
};

OutputTree::OutputTree() : state_(new State) {}

OutputTree::~OutputTree() {
  AbandonFile();
  if (state_->folderFd >= 0) close(state_->folderFd);
  if (state_->rootFd >= 0) close(state_->rootFd);
  delete state_;
}

std::string OutputTree::DiskPath(const std::string& relative) const {
  std::string native = relative;
  for (char& c : native) {
    if (c == '\\') c = kDiskSeparator;
  }
  return JoinPath(state_->root, native, kDiskSeparator);
}

int OutputTree::Open(const std::string& root) {
  state_->root = root;
  if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST)
    return ReportError(root, "cannot create the folder", ErrorFromErrno(errno));
  state_->rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (state_->rootFd < 0) return ReportError(root, "cannot open the folder", ErrorFromErrno(errno));
  return kExitOk;
}

int OutputTree::MakeFolder(const std::string& relative) {
  std::string parent, name;
  SplitPath(relative, &parent, &name);
  int parentFd = -1;
  if (int status = OpenFolder(*this, state_->rootFd, parent, &parentFd)) return status;
  int status = kExitOk;
  if (mkdirat(parentFd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    status = ReportError(DiskPath(relative), "cannot create the folder", ErrorFromErrno(errno));
  } else {
    // What is there now must be a folder, not a link that was there before.
    const int fd = openat(parentFd, name.c_str(), kFolderFlags);
    if (fd < 0) {
      status = FolderFault(*this, relative, parentFd, name, errno);
    } else {
      close(fd);
    }
  }
  close(parentFd);
  return status;
}

int OutputTree::BeginFile(const std::string& relative, CFile** file) {
  AbandonFile();
  std::string folder, name;
  SplitPath(relative, &folder, &name);
  State& s = *state_;
  if (s.folderFd < 0 || folder != s.folder) {
    if (s.folderFd >= 0) close(s.folderFd);
    s.folderFd = -1;
    if (int status = OpenFolder(*this, s.rootFd, folder, &s.folderFd)) return status;
    s.folder = folder;
  }
  const std::string path = DiskPath(relative);
  struct stat info {};
  s.replacing = fstatat(s.folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (s.replacing) {
    if (S_ISLNK(info.st_mode))
      return ReportFault(path,
                         "is a symbolic link, which extract never writes through; refusing it");
    if (S_ISDIR(info.st_mode)) return ReportFault(path, "is a folder");
  }
  const std::string temporary = name + kReplacementSuffix;
  if (unlinkat(s.folderFd, temporary.c_str(), 0) != 0 && errno != ENOENT)
    return ReportError(path + kReplacementSuffix, "cannot remove the file left by an earlier run",
                       ErrorFromErrno(errno));
  const int fd = openat(s.folderFd, temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0)
    return ReportError(path + kReplacementSuffix, "cannot create the file", ErrorFromErrno(errno));
  s.file = new (std::nothrow) CDiskFile(static_cast<OsHandle>(fd), OPEN_READ | OPEN_WRITE);
  s.name = name;
  s.temporary = temporary;
  if (!s.file) {
    close(fd);
    AbandonFile();
    return ReportError(path, "cannot create the file", ERR_NOTENOUGHMEM);
  }
  *file = s.file;
  return kExitOk;
}

int OutputTree::CommitFile() {
  State& s = *state_;
  const std::string path = DiskPath(s.folder.empty() ? s.name : s.folder + '\\' + s.name);
  ErrorCode error = s.replacing ? s.file->Flush() : nullptr;
  delete s.file;
  s.file = nullptr;
  if (error) {
    AbandonFile();
    return ReportError(path + kReplacementSuffix, "cannot flush the file to the disk", error);
  }
  if (renameat(s.folderFd, s.temporary.c_str(), s.folderFd, s.name.c_str()) != 0) {
    error = ErrorFromErrno(errno);
    AbandonFile();
    return ReportError(path, "cannot rename " + s.name + kReplacementSuffix + " to it", error);
  }
  s.temporary.clear();
  return kExitOk;
}

void OutputTree::AbandonFile() {
  State& s = *state_;
  delete s.file;
  s.file = nullptr;
  if (!s.temporary.empty()) unlinkat(s.folderFd, s.temporary.c_str(), 0);
  s.temporary.clear();
}
