// The game's localisation pack, opened in whichever form it comes: a plain pack, a pack inside an
// LZSS container, or an HPFS block file. The returned service owns everything beneath it.
#pragma once

#include "file/file_service.h"

// Null when the file does not open or is none of the three forms.
CFileService* MountGamePack(const char* path);
