#include <string>

#include "codepage.h"
#include "file/win32_api.h"

namespace {

UINT Windows(u32 codePage) { return codePage == 0 ? CP_ACP : codePage; }

}  // namespace

bool CodePageKnown(u32 codePage) { return codePage == 0 || IsValidCodePage(codePage) != FALSE; }

bool DecodeText(u32 codePage, const std::string& bytes, std::wstring* text) {
  text->clear();
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  const int length =
      MultiByteToWideChar(Windows(codePage), MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return false;
  text->resize(static_cast<size_t>(length));
  return MultiByteToWideChar(Windows(codePage), MB_ERR_INVALID_CHARS, bytes.data(), size,
                             &(*text)[0], length) == length;
}

bool EncodeText(u32 codePage, const std::wstring& text, std::string* bytes) {
  bytes->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(Windows(codePage), 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  bytes->resize(static_cast<size_t>(length));
  WideCharToMultiByte(Windows(codePage), 0, text.data(), size, &(*bytes)[0], length, nullptr,
                      nullptr);
  // A character the code page lacks comes out as a default or a look-alike: it does not come
  // back as itself.
  std::wstring back;
  return DecodeText(codePage, *bytes, &back) && back == text;
}

void UpperCaseText(std::wstring* text) {
  if (text->empty()) return;
  std::wstring upper(text->size(), L'\0');
  const int size = static_cast<int>(text->size());
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text->data(), size, &upper[0], size) == size)
    *text = upper;
}
