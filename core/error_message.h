// The sentence that goes with a failure, for the checkers and writers that explain what is wrong
// beyond the bare error code.
#pragma once

#include "core/errors.h"

// A caller's buffer for that sentence; text may be null and size 0, when nobody asks.
struct ErrorMessage {
  char* text;
  u32 size;

  // Writes the sentence (cut to the buffer, always terminated) and returns error, so that one
  // `return message.Fail(ERR_..., "...", ...)` reports both.
  ErrorCode Fail(ErrorCode error, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
};
