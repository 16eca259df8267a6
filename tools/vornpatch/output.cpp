#include "output.h"

#include "commands.h"
#include "file/file_service.h"
#include "messages.h"

OutputFile::OutputFile(const std::string& path) : path_(path), temporary_(path + ".partial") {}

OutputFile::~OutputFile() {
  if (committed_) return;
  delete file_;
  file_ = nullptr;
  FileServiceTable.Delete(temporary_.c_str());
}

int OutputFile::Create() {
  ErrorCode error = nullptr;
  file_ = FileServiceTable.Open(temporary_.c_str(),
                                OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
  if (!file_)
    return ReportError(temporary_, "cannot create the file", error ? error : ERR_OPENFAIL);
  return kExitOk;
}

int OutputFile::Commit() {
  delete file_;
  file_ = nullptr;
  ErrorCode error = ReplaceFileWith(temporary_.c_str(), path_.c_str());
  if (error) return ReportError(path_, "cannot rename " + temporary_ + " to it", error);
  committed_ = true;
  return kExitOk;
}

bool IdentifyPath(const std::string& path, FileIdentity* identity) {
  CFile* file =
      FileServiceTable.Open(path.c_str(), OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, nullptr);
  if (!file) return false;
  bool known = IdentifyFile(file, identity);
  delete file;
  return known;
}
