#include "core/error_message.h"

#include <cstdarg>
#include <cstdio>

ErrorCode ErrorMessage::Fail(ErrorCode error, const char* format, ...) {
  if (text && size) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, size, format, arguments);
    va_end(arguments);
  }
  return error;
}
