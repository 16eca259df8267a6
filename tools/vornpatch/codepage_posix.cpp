#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <string>

#include "codepage.h"

namespace {

std::string CharsetOf(u32 codePage) {
  return codePage == 0 ? std::string("UTF-8") : "CP" + std::to_string(codePage);
}

// Converts all of `in` or nothing. iconv without //TRANSLIT fails on what it cannot convert.
bool Convert(const std::string& to, const std::string& from, const char* in, size_t size,
             std::string* out) {
  iconv_t converter = iconv_open(to.c_str(), from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(size * 4 + 8, '\0');
  char* input = const_cast<char*>(in);
  char* output = &(*out)[0];
  size_t inLeft = size, outLeft = out->size();
  const bool done =
      iconv(converter, &input, &inLeft, &output, &outLeft) != static_cast<size_t>(-1) &&
      iconv(converter, nullptr, nullptr, &output, &outLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  out->resize(out->size() - outLeft);
  return done && inLeft == 0;
}

}  // namespace

bool CodePageKnown(u32 codePage) {
  iconv_t converter = iconv_open(CharsetOf(codePage).c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(converter);
  return true;
}

bool DecodeText(u32 codePage, const std::string& bytes, std::wstring* text) {
  std::string wide;
  if (!Convert("WCHAR_T", CharsetOf(codePage), bytes.data(), bytes.size(), &wide)) return false;
  text->assign(reinterpret_cast<const wchar_t*>(wide.data()), wide.size() / sizeof(wchar_t));
  return true;
}

bool EncodeText(u32 codePage, const std::wstring& text, std::string* bytes) {
  return Convert(CharsetOf(codePage), "WCHAR_T", reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(wchar_t), bytes);
}

void UpperCaseText(std::wstring* text) {
  // The process runs in the C locale, whose case tables know only ASCII.
  static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  for (wchar_t& c : *text) {
    c = static_cast<wchar_t>(unicode ? towupper_l(static_cast<wint_t>(c), unicode)
                                     : towupper(static_cast<wint_t>(c)));
  }
}
