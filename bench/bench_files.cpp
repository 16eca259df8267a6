#include "bench/bench_files.h"

#include <cstdio>
#include <cstdlib>

#include "file/disk_file.h"
#include "file/file_service.h"

void StartBenchFiles() {
  static bool started = false;
  if (started) return;
  if (InitMountTable(8) || StartDiskService()) {
    std::fprintf(stderr, "cannot start the disk service\n");
    std::exit(2);
  }
  started = true;
}

CFile* OpenBenchFile(const std::string& path, u16 flags) {
  StartBenchFiles();
  ErrorCode error = nullptr;
  CFile* file = FileServiceTable.Open(path.c_str(), flags, &error);
  if (!file) {
    std::fprintf(stderr, "%s: cannot open (%s)\n", path.c_str(), ErrorText(error));
    std::exit(2);
  }
  return file;
}
