// Writing LZSS containers through CLzssFile, sequentially and in bounded memory.
#pragma once

#include <string>

#include "archive/lzss_file.h"
#include "coding.h"

// Creates an empty container in `disk` at `offset` (everything before it is left alone), with
// `spare` in its header's spare byte, and opens a CLzssFile on it, which the caller deletes.
// Reports and returns null on failure.
CLzssFile* CreateContainerAt(CFile* disk, u32 offset, u32 blockSize, const Coding& coding,
                             const std::string& name, u8 spare = 0);

// Sizes the stream before it is written, so that the blocks written afterwards never move the
// stored blocks behind them.
ErrorCode Presize(CLzssFile* container, u32 length);

// Flushes the container, destroys it and cuts `disk` at the container's end (the window a
// container is written through cannot shorten the file). Reports and returns kExitFailure on
// failure; the container is destroyed in any case.
int FinishContainer(CLzssFile* container, CFile* disk, u32 offset, const std::string& name);

// Ends a command's container: with status 0 it is finished as above, otherwise (an earlier
// failure) only destroyed. container may be null. Returns status, or FinishContainer's result.
int EndContainer(int status, CLzssFile* container, CFile* disk, u32 offset,
                 const std::string& name);
