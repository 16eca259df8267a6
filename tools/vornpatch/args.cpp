#include <cstring>

#include "commands.h"

bool Args::Has(const char* longName) const { return Value(longName) != nullptr; }

const char* Args::Value(const char* longName) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it) {
    if (it->first == longName) return it->second.c_str();
  }
  return nullptr;
}

namespace {

const OptionSpec* FindLong(const OptionSpec* specs, const std::string& name) {
  for (; specs && specs->longName; ++specs) {
    if (name == specs->longName) return specs;
  }
  return nullptr;
}

const OptionSpec* FindShort(const OptionSpec* specs, char name) {
  for (; specs && specs->longName; ++specs) {
    if (specs->shortName != 0 && specs->shortName == name) return specs;
  }
  return nullptr;
}

}  // namespace

bool ParseArgs(int argc, char** argv, const OptionSpec* specs, Args* args, std::string* error) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      args->positional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionSpec* option = nullptr;
    std::string value;
    bool hasInlineValue = false;
    if (word[1] == '-') {
      std::string name = word.substr(2);
      size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
        hasInlineValue = true;
      }
      option = FindLong(specs, name);
      if (!option) {
        *error = "unknown option '--" + name + "'";
        return false;
      }
    } else {
      option = FindShort(specs, word[1]);
      if (!option) {
        *error = std::string("unknown option '-") + word[1] + "'";
        return false;
      }
      if (word.size() > 2) {
        if (!option->takesValue) {
          *error = "option '" + word.substr(0, 2) + "' takes no value";
          return false;
        }
        value = word.substr(2);
        hasInlineValue = true;
      }
    }
    if (option->takesValue && !hasInlineValue) {
      if (i + 1 >= argc) {
        *error = std::string("option '--") + option->longName + "' needs a value";
        return false;
      }
      value = argv[++i];
    } else if (!option->takesValue && hasInlineValue) {
      *error = std::string("option '--") + option->longName + "' takes no value";
      return false;
    }
    args->options.emplace_back(option->longName, value);
  }
  return true;
}

bool ParseNumber(const char* text, u32* value) {
  if (!text || !*text) return false;
  u32 base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
    if (!*text) return false;
  }
  u64 result = 0;
  for (; *text; ++text) {
    u32 digit;
    char c = *text;
    if (c >= '0' && c <= '9') {
      digit = static_cast<u32>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<u32>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<u32>(c - 'A' + 10);
    } else {
      return false;
    }
    if (digit >= base) return false;
    result = result * base + digit;
    if (result > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<u32>(result);
  return true;
}
