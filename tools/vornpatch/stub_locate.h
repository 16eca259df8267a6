// Where `vornpatch build` finds the patcher executable (the stub) that it puts in front of a
// payload. A stub the user names (--stub, else the environment variable VORNPATCH_STUB) is taken
// as given. Otherwise the first of these that exists is used:
//   vornpatch-stub.exe beside the tool (where the Windows build puts its patcher),
//   ../share/vornpatch/vornpatch-stub.exe from the tool's folder (an installed tool),
//   the patcher configured at build time (-DVORNPATCH_STUB, by default the Windows build of the
//   same tree), only while the tool runs from the folder it was built in.
#pragma once

#include <string>

#include "file/file.h"

// Opens the stub for reading and names it in *path; the caller deletes the file. When there is
// none, reports where it looked and how to get one, and returns null.
CFile* OpenStub(const char* option, std::string* path);

// The --stub option with the places searched, for the build's help.
extern const char kStubHelp[];
