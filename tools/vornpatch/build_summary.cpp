#include "build_summary.h"

#include <cstdio>

const char kSummaryHelp[] =
    "  -q, --quiet         print no summary at the end\n"
    "  --json              print the summary as one JSON object: output, stub, members,\n"
    "                      input_bytes, stub_bytes, payload_bytes, patch_bytes, ratio\n"
    "                      (payload / input, null for no input), method, seconds, and for\n"
    "                      coded files unchanged, deltas, coded_alone, solid_groups,\n"
    "                      solid_files, whole\n";

namespace {

// Length of the UTF-8 sequence at text[at], or 0 when the bytes there do not form one.
size_t Utf8Length(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[at + i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

// "1,234,567".
std::string Grouped(u64 value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

void PrintText(const BuildFigures& f, u64 payload) {
  std::printf("Built %s\n", f.output.c_str());
  std::printf("  members  %s\n", Grouped(f.members).c_str());
  std::printf("  input    %s bytes\n", Grouped(f.inputBytes).c_str());
  char share[48] = "";
  if (f.inputBytes) {
    std::snprintf(share, sizeof(share), "%.2f %% of the input, ",
                  100.0 * static_cast<double>(payload) / static_cast<double>(f.inputBytes));
  }
  std::printf("  payload  %s bytes (%smethod 0x%02X)\n", Grouped(payload).c_str(), share, f.method);
  std::printf("  patch    %s bytes (stub %s bytes from %s)\n", Grouped(f.patchBytes).c_str(),
              Grouped(f.stubBytes).c_str(), f.stub.c_str());
  if (const CodedBuildFigures* c = f.coded) {
    std::printf(
        "  files    %s left out as unchanged, %s deltas, %s coded alone, %s in %s solid "
        "groups, %s whole\n",
        Grouped(c->unchanged).c_str(), Grouped(c->deltas).c_str(), Grouped(c->alone).c_str(),
        Grouped(c->solidFiles).c_str(), Grouped(c->solidGroups).c_str(), Grouped(c->whole).c_str());
  }
  std::printf("  time     %.2f s\n", static_cast<double>(f.milliseconds) / 1000.0);
}

std::string CodedJson(const CodedBuildFigures* c) {
  if (!c) return std::string();
  return ", \"unchanged\": " + std::to_string(c->unchanged) +
         ", \"deltas\": " + std::to_string(c->deltas) +
         ", \"coded_alone\": " + std::to_string(c->alone) +
         ", \"solid_groups\": " + std::to_string(c->solidGroups) +
         ", \"solid_files\": " + std::to_string(c->solidFiles) +
         ", \"whole\": " + std::to_string(c->whole);
}

void PrintJson(const BuildFigures& f, u64 payload) {
  char ratio[32] = "null";
  if (f.inputBytes) {
    std::snprintf(ratio, sizeof(ratio), "%.4f",
                  static_cast<double>(payload) / static_cast<double>(f.inputBytes));
  }
  std::printf(
      "{\"output\": %s, \"stub\": %s, \"members\": %llu, \"input_bytes\": %llu, "
      "\"stub_bytes\": %llu, \"payload_bytes\": %llu, \"patch_bytes\": %llu, \"ratio\": %s, "
      "\"method\": \"0x%02X\", \"seconds\": %.3f%s}\n",
      JsonString(f.output).c_str(), JsonString(f.stub).c_str(),
      static_cast<unsigned long long>(f.members), static_cast<unsigned long long>(f.inputBytes),
      static_cast<unsigned long long>(f.stubBytes), static_cast<unsigned long long>(payload),
      static_cast<unsigned long long>(f.patchBytes), ratio, f.method,
      static_cast<double>(f.milliseconds) / 1000.0, CodedJson(f.coded).c_str());
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const size_t length = Utf8Length(text, at);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && length) {
      out.append(text, at, length);
      at += length;
      continue;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    }
    ++at;
  }
  return out + "\"";
}

void PrintBuildSummary(const Args& args, const BuildFigures& figures) {
  const u64 payload = figures.patchBytes - figures.stubBytes;
  if (args.Has("json")) {
    PrintJson(figures, payload);
  } else if (!args.Has("quiet")) {
    PrintText(figures, payload);
  }
  std::fflush(stdout);
}
