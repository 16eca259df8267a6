// The seal record of a built patch (archive/payload_seal.h): its room is reserved in front of the
// container before the container is written, and the record is filled in once the container is
// finished, from the container's bytes as they were stored.
#pragma once

#include <string>

#include "file/file.h"

// Writes the record's room (zeros) at `at`. Reports and returns kExitFailure on failure.
int ReserveSeal(CFile* file, u32 at, const std::string& name);

// Reads the container that follows the record at `at` up to the end of the file, and writes
// the record with its length and CRC-32. Reports and returns kExitFailure on failure.
int WriteSealRecord(CFile* file, u32 at, const std::string& name);
