// A full structural check of an HPFS store, read straight from its blocks: every handle's tree
// within its depth and the store, every directory entry within its directory, the free list,
// and every block of the store either used exactly once or free exactly once.
#pragma once

#include "file/file.h"

// Null when the store is sound; otherwise INVALIDFORMAT (or the read error) with a sentence in
// message naming the fault. Counts of what was checked go to files, directories and bytes
// (each may be null).
ErrorCode VerifyHpfsStore(CFile* store, char* message, u32 messageSize, u32* files = nullptr,
                          u32* directories = nullptr, u64* bytes = nullptr);
