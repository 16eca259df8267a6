// The few operating-system services the tool needs beyond the toolkit's disk layer: whether
// a stream is a terminal (for the progress bar and names shown), a clock, 64-bit file sizes (the
// toolkit's sizes are 32-bit, so large files must be caught here), file identity (so a build never
// overwrites its own inputs) and an atomic replace for the write-to-temporary-then-rename
// protocol.
#pragma once

#include <cstdio>
#include <string>

#include "core/errors.h"
#include "file/file.h"

bool IsTerminal(std::FILE* stream);
u64 MonotonicMilliseconds();

// Size of an open disk file in full width; false when the file holds no operating-system handle.
bool FileSize64(CFile* diskFile, u64* size);

// Largest file the formats and the toolkit can address: positions and sizes are unsigned 32-bit
// values (member offsets and sizes, block table entries, the stream length). Inputs and outputs
// of the tool stay within this, and so stay readable by the patcher.
constexpr u64 kMaxFileSize = 0xFFFFFFFFull;
// "N bytes: files, packs and patches must stay below 4 GiB".
std::string TooLargeText(u64 size);

struct FileIdentity {
  u64 volume = 0;
  u64 index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};
bool IdentifyFile(CFile* diskFile, FileIdentity* identity);

// What a path names. Windows knows no pipes, sockets or devices in its folders; its links are
// reparse points (symbolic links and junctions).
// kLinkLoop: followed links that lead round to one another and so never to a file or folder.
enum class PathKind { kMissing, kFile, kFolder, kLink, kLinkLoop, kPipe, kSocket, kDevice };
// The kind of `path`, of the link itself or (follow) of what it leads to; with follow, also the
// identity of a file or folder, so that a walk can tell a folder it is already inside.
PathKind InspectPath(const std::string& path, bool follow, FileIdentity* identity);

// The folder that holds the running tool, with a trailing separator; "" when unknown.
std::string ExecutableDirectory();

// Renames `from` to `to`, replacing `to` when it exists.
ErrorCode ReplaceFileWith(const char* from, const char* to);

#ifndef _WIN32
// The toolkit's error code for an errno value of a file call.
ErrorCode ErrorFromErrno(int error);
#endif
