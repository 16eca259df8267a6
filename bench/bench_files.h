// Files the stream and pack benchmarks work on, made once per run in the corpus folder.
#pragma once

#include <string>
#include <vector>

#include "file/file.h"

// Starts the mount table and the disk service once; stops the process with a message on failure.
void StartBenchFiles();

// Opens a disk file through the file services; stops the process on failure.
CFile* OpenBenchFile(const std::string& path, u16 flags);
