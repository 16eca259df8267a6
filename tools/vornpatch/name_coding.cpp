#include "name_coding.h"

#include "codepage.h"
#include "messages.h"

namespace {

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

template <typename Text>
Text UpperAtoZ(Text text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<typename Text::value_type>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

int ChooseNameCoding(const char* command, const Args& args, NameCoding* coding) {
  const char* text = args.Value("codepage");
  if (!text) return kExitOk;
  u32 codePage = 0;
  if (!ParseNumber(text, &codePage) || codePage == 0 || !CodePageKnown(codePage)) {
    return UsageError(
        command, std::string("code page '") + text + "' is not one this system converts names to");
  }
  coding->codePage = codePage;
  return kExitOk;
}

std::string StoredComponent(const NameCoding& coding, const std::string& host,
                            std::string* stored) {
  if (IsAscii(host)) {
    *stored = host;
    return std::string();
  }
  if (!coding.codePage) {
    return "is not ASCII: the patcher writes names in the code page of the Windows it runs on; "
           "give --codepage N (1252 Western, 1251 Cyrillic, 932 Japanese, ...) to convert it";
  }
  const std::string page = "code page " + std::to_string(coding.codePage);
  std::wstring text;
  if (!DecodeText(0, host, &text)) return "is not valid text in the host's encoding";
  if (!EncodeText(coding.codePage, text, stored)) return "has a character that " + page + " lacks";
  // Bytes of two-byte characters may read as '\' or as a to z, which the pack splits at or
  // upper-cases.
  if (stored->find('\\') != std::string::npos)
    return "has a character that " + page + " writes with the byte of '\\', the pack's separator";
  std::wstring back;
  if (!DecodeText(coding.codePage, UpperAtoZ(*stored), &back) || back != UpperAtoZ(text))
    return "becomes another name in " + page + " when the pack upper-cases a to z";
  return std::string();
}

std::string HostName(const NameCoding& coding, const std::string& stored, std::string* host) {
  if (!coding.codePage || IsAscii(stored)) {
    *host = stored;
    return std::string();
  }
  std::wstring text;
  if (!DecodeText(coding.codePage, stored, &text))
    return "is not valid text in code page " + std::to_string(coding.codePage);
  if (!EncodeText(0, text, host)) return "has a character that this host's names cannot hold";
  return std::string();
}

std::wstring WindowsFolderKey(const NameCoding& coding, const std::string& stored) {
  std::wstring text;
  if (!DecodeText(coding.codePage, stored, &text)) text.assign(stored.begin(), stored.end());
  UpperCaseText(&text);
  return text;
}
