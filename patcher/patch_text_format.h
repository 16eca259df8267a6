// Formatting of the two message texts that the payload supplies as print formats ("welcome2"
// with two integers and a folder, "errcopy" with a path). A format from data is never handed
// to the runtime's printf: it is checked against the arguments it will receive, and rendered
// here, bounded by the output buffer.
#pragma once

#include "core/types.h"

struct FormatArgument {
  const char* text;  // a string argument when not null, else the number
  i32 number;
};

// Renders format with args into out (size bytes, always NUL-terminated when size > 0).
// Accepted conversions: %% and, for each argument in order, one conversion of its kind (d i u x
// X o for a number, s for a text), with flags (- + space # 0), a width and a precision. A format
// with any other conversion (%n, %p, %*d, positional, more conversions than arguments, a
// conversion of the wrong kind) is copied as it stands, so the user still reads its words.
// Returns true when the format was accepted.
bool FormatPatchText(char* out, u32 size, const char* format, const FormatArgument* args,
                     u32 count);
