#include "patcher/patch_text_format.h"

#include <cstring>

namespace {

struct Conversion {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  u32 width = 0;
  i32 precision = -1;
  char conversion = 0;
};

constexpr u32 kMaxField = 4096;  // widths and precisions beyond any buffer are refused

// Parses one conversion after its '%'; returns the character after it, or null when malformed.
const char* ParseConversion(const char* p, Conversion* conv) {
  for (;; ++p) {
    if (*p == '-')
      conv->left = true;
    else if (*p == '+')
      conv->plus = true;
    else if (*p == ' ')
      conv->space = true;
    else if (*p == '#')
      conv->alternate = true;
    else if (*p == '0')
      conv->zero = true;
    else
      break;
  }
  for (; *p >= '0' && *p <= '9'; ++p) {
    conv->width = conv->width * 10 + static_cast<u32>(*p - '0');
    if (conv->width > kMaxField) return nullptr;
  }
  if (*p == '.') {
    conv->precision = 0;
    for (++p; *p >= '0' && *p <= '9'; ++p) {
      conv->precision = conv->precision * 10 + (*p - '0');
      if (conv->precision > static_cast<i32>(kMaxField)) return nullptr;
    }
  }
  if (*p == 'l') ++p;  // "%ld" names the same 32-bit number
  conv->conversion = *p;
  return *p ? p + 1 : nullptr;
}

bool IsNumberConversion(char c) { return c && std::strchr("diuxXo", c) != nullptr; }

class Output {
 public:
  Output(char* out, u32 size) : at(out), left(size ? size - 1 : 0) {}
  void Put(char c) {
    if (left) {
      *at++ = c;
      --left;
    }
  }
  void Repeat(char c, u32 n) {
    while (n--) Put(c);
  }
  void Finish() { *at = '\0'; }

 private:
  char* at;
  u32 left;
};

void RenderNumber(Output& out, const Conversion& conv, i32 value) {
  char digits[16];
  u32 count = 0;
  const bool isSigned = conv.conversion == 'd' || conv.conversion == 'i';
  const bool negative = isSigned && value < 0;
  u32 magnitude = negative ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
  const u32 base = conv.conversion == 'o'                               ? 8
                   : (conv.conversion == 'x' || conv.conversion == 'X') ? 16
                                                                        : 10;
  const char* symbols = conv.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  while (magnitude) {
    digits[count++] = symbols[magnitude % base];
    magnitude /= base;
  }
  if (count == 0 && conv.precision != 0) digits[count++] = '0';

  char prefix[3];
  u32 prefixLength = 0;
  if (negative)
    prefix[prefixLength++] = '-';
  else if (isSigned && conv.plus)
    prefix[prefixLength++] = '+';
  else if (isSigned && conv.space)
    prefix[prefixLength++] = ' ';
  if (conv.alternate && value != 0 && base == 16) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = conv.conversion;
  }
  u32 zeros = conv.precision > 0 && static_cast<u32>(conv.precision) > count
                  ? static_cast<u32>(conv.precision) - count
                  : 0;
  if (conv.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0')) {
    zeros = 1;
  }
  const u32 body = prefixLength + zeros + count;
  u32 pad = conv.width > body ? conv.width - body : 0;
  if (conv.zero && !conv.left && conv.precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!conv.left) out.Repeat(' ', pad);
  for (u32 i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
  out.Repeat('0', zeros);
  while (count) out.Put(digits[--count]);
  if (conv.left) out.Repeat(' ', pad);
}

void RenderText(Output& out, const Conversion& conv, const char* text) {
  u32 length = static_cast<u32>(std::strlen(text));
  if (conv.precision >= 0 && length > static_cast<u32>(conv.precision)) {
    length = static_cast<u32>(conv.precision);
  }
  const u32 pad = conv.width > length ? conv.width - length : 0;
  if (!conv.left) out.Repeat(' ', pad);
  for (u32 i = 0; i < length; ++i) out.Put(text[i]);
  if (conv.left) out.Repeat(' ', pad);
}

bool Accepts(const char* format, const FormatArgument* args, u32 count) {
  u32 used = 0;
  for (const char* p = format; *p;) {
    if (*p++ != '%') continue;
    if (*p == '%') {
      ++p;
      continue;
    }
    Conversion conv;
    p = ParseConversion(p, &conv);
    if (!p || used >= count) return false;
    const bool wantsText = args[used].text != nullptr;
    if (wantsText ? conv.conversion != 's' : !IsNumberConversion(conv.conversion)) return false;
    ++used;
  }
  return true;
}

}  // namespace

bool FormatPatchText(char* out, u32 size, const char* format, const FormatArgument* args,
                     u32 count) {
  if (!out || size == 0) return false;
  Output output(out, size);
  if (!format || !Accepts(format, args, count)) {
    for (const char* p = format ? format : ""; *p; ++p) output.Put(*p);
    output.Finish();
    return false;
  }
  u32 used = 0;
  for (const char* p = format; *p;) {
    if (*p != '%') {
      output.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      output.Put(*p++);
      continue;
    }
    Conversion conv;
    p = ParseConversion(p, &conv);
    const FormatArgument& arg = args[used++];
    if (arg.text) {
      RenderText(output, conv, arg.text);
    } else {
      RenderNumber(output, conv, arg.number);
    }
  }
  output.Finish();
  return true;
}
