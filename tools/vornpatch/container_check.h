// The container half of `verify`: every block of an LZSS container is read from the base file
// and every coded block decoded, so that a damaged table or coded stream is named precisely
// (which block, where it is stored, what is wrong) rather than surfacing later as bad data.
#pragma once

#include <string>

#include "archive/lzss_file.h"

class Progress;

// Stored bytes the check reads, for the progress bar.
u64 ContainerCheckWork(CLzssFile* container);

// The block table alone: the first block right behind it, entries that never decrease or pass
// the end of the data. Readers that list or extract run it, so they never accept a table the
// full check refuses. False with *fault set on the first fault.
bool CheckContainerTable(CLzssFile* container, std::string* fault);

// The table, then every block read and every coded block decoded. False with *fault set on the
// first fault; *summary describes what was checked.
bool CheckContainer(CLzssFile* container, Progress* progress, std::string* fault,
                    std::string* summary);
