#include "names.h"

#include <cctype>
#include <cstring>

#include "file/disk_file.h"

namespace {

bool IsDeviceName(const std::string& component) {
  // Windows opens a device for these names whatever the extension.
  std::string base = component.substr(0, component.find('.'));
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
      base[3] >= '1' && base[3] <= '9') {
    return true;
  }
  return false;
}

const char* WindowsFault(const std::string& component) {
  if (IsDeviceName(component)) return "is a Windows device name";
  char last = component.back();
  if (last == '.' || last == ' ') return "ends in a dot or a space";
  return nullptr;
}

}  // namespace

const char* UnsafeComponent(const std::string& component) {
  if (component.empty()) return "has an empty path component";
  if (component == "." || component == "..") return "has a '.' or '..' path component";
  for (unsigned char c : component) {
    if (c == '/' || c == '\\') return "has a path separator inside a component";
    if (c == ':') return "has a ':' (drive or stream name)";
    if (c < 0x20 || c == 0x7F) return "has a control character";
  }
#ifdef _WIN32
  return WindowsFault(component);
#else
  return nullptr;
#endif
}

const char* UnportableComponent(const std::string& component) {
  if (const char* fault = UnsafeComponent(component)) return fault;
  for (char c : component) {
    if (std::strchr("<>\"|?*", c)) return "has a character Windows does not allow in names";
  }
  // Extract writes each file under its name and this suffix before it replaces the file, and
  // the patcher's staging folder ends in it; Windows compares names without regard to case.
  const size_t suffix = sizeof kReplacementSuffix - 1;
  std::string tail = component.substr(component.size() > suffix ? component.size() - suffix : 0);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (tail == kReplacementSuffix) return "ends in .vp~, the suffix of files being replaced";
  return WindowsFault(component);
}

const char* CheckMemberPath(const std::string& path, const char* (*check)(const std::string&)) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    const char* fault =
        check(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (fault) return fault;
    if (end == std::string::npos) return nullptr;
    start = end + 1;
  }
}
