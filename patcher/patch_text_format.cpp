#include "patcher/patch_text_format.h"

#include <cstring>

namespace {

struct Spec {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  u32 width = 0;
  i32 precision = -1;
  char conversion = 0;
};

constexpr u32 kMaxField = 4096;  // widths and precisions beyond any buffer are refused

// Parses one conversion after its '%'; returns the character after it, or null when malformed.
const char* ParseSpec(const char* p, Spec* spec) {
  for (;; ++p) {
    if (*p == '-')
      spec->left = true;
    else if (*p == '+')
      spec->plus = true;
    else if (*p == ' ')
      spec->space = true;
    else if (*p == '#')
      spec->alternate = true;
    else if (*p == '0')
      spec->zero = true;
    else
      break;
  }
  for (; *p >= '0' && *p <= '9'; ++p) {
    spec->width = spec->width * 10 + static_cast<u32>(*p - '0');
    if (spec->width > kMaxField) return nullptr;
  }
  if (*p == '.') {
    spec->precision = 0;
    for (++p; *p >= '0' && *p <= '9'; ++p) {
      spec->precision = spec->precision * 10 + (*p - '0');
      if (spec->precision > static_cast<i32>(kMaxField)) return nullptr;
    }
  }
  if (*p == 'l') ++p;  // "%ld" names the same 32-bit number
  spec->conversion = *p;
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

void RenderNumber(Output& out, const Spec& spec, i32 value) {
  char digits[16];
  u32 count = 0;
  const bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
  const bool negative = isSigned && value < 0;
  u32 magnitude = negative ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
  const u32 base = spec.conversion == 'o'                               ? 8
                   : (spec.conversion == 'x' || spec.conversion == 'X') ? 16
                                                                        : 10;
  const char* symbols = spec.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  while (magnitude) {
    digits[count++] = symbols[magnitude % base];
    magnitude /= base;
  }
  if (count == 0 && spec.precision != 0) digits[count++] = '0';

  char prefix[3];
  u32 prefixLength = 0;
  if (negative)
    prefix[prefixLength++] = '-';
  else if (isSigned && spec.plus)
    prefix[prefixLength++] = '+';
  else if (isSigned && spec.space)
    prefix[prefixLength++] = ' ';
  if (spec.alternate && value != 0 && base == 16) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = spec.conversion;
  }
  u32 zeros = spec.precision > 0 && static_cast<u32>(spec.precision) > count
                  ? static_cast<u32>(spec.precision) - count
                  : 0;
  if (spec.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0')) {
    zeros = 1;
  }
  const u32 body = prefixLength + zeros + count;
  u32 pad = spec.width > body ? spec.width - body : 0;
  if (spec.zero && !spec.left && spec.precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!spec.left) out.Repeat(' ', pad);
  for (u32 i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
  out.Repeat('0', zeros);
  while (count) out.Put(digits[--count]);
  if (spec.left) out.Repeat(' ', pad);
}

void RenderText(Output& out, const Spec& spec, const char* text) {
  u32 length = static_cast<u32>(std::strlen(text));
  if (spec.precision >= 0 && length > static_cast<u32>(spec.precision)) {
    length = static_cast<u32>(spec.precision);
  }
  const u32 pad = spec.width > length ? spec.width - length : 0;
  if (!spec.left) out.Repeat(' ', pad);
  for (u32 i = 0; i < length; ++i) out.Put(text[i]);
  if (spec.left) out.Repeat(' ', pad);
}

bool Accepts(const char* format, const FormatArgument* args, u32 count) {
  u32 used = 0;
  for (const char* p = format; *p;) {
    if (*p++ != '%') continue;
    if (*p == '%') {
      ++p;
      continue;
    }
    Spec spec;
    p = ParseSpec(p, &spec);
    if (!p || used >= count) return false;
    const bool wantsText = args[used].text != nullptr;
    if (wantsText ? spec.conversion != 's' : !IsNumberConversion(spec.conversion)) return false;
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
    Spec spec;
    p = ParseSpec(p, &spec);
    const FormatArgument& arg = args[used++];
    if (arg.text) {
      RenderText(output, spec, arg.text);
    } else {
      RenderNumber(output, spec, arg.number);
    }
  }
  output.Finish();
  return true;
}
