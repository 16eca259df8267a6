// The operating system's name for an open file or search, as the disk-os table and the disk
// files above it pass it around: a HANDLE on Windows, a descriptor on POSIX.
#pragma once

#include "core/types.h"

typedef uintptr_t OsHandle;
