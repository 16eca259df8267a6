// A plain decoder of Tarn streams for the tests, written apart from the product's: everything in
// one vector (dictionary, then output), one bit at a time, every rule checked where it applies.
#pragma once

#include <vector>

#include "core/types.h"

// Returns false for any stream the format refuses.
bool TarnReferenceDecode(const std::vector<u8>& stream, const std::vector<u8>& dictionary,
                         std::vector<u8>* output);
