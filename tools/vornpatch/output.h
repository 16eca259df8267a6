// Results are written under a temporary name beside their final name and renamed into place
// only when complete, so a failed or interrupted run never leaves a half-written file under the
// name the user asked for.
#pragma once

#include <string>

#include "file/file.h"
#include "os.h"

class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();  // deletes the temporary file unless Commit succeeded

  // Creates the temporary file; reports and returns kExitFailure when it cannot.
  int Create();
  CFile* File() { return file_; }
  const std::string& Path() const { return path_; }
  // Closes the temporary file and renames it to the final name.
  int Commit();

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

 private:
  std::string path_;
  std::string temporary_;
  CFile* file_ = nullptr;
  bool committed_ = false;
};

// Identity of an existing file, so that a run can refuse to overwrite one of its own inputs.
// False when the file does not exist or cannot be opened.
bool IdentifyPath(const std::string& path, FileIdentity* identity);
