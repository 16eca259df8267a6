#include "os.h"

std::string TooLargeText(u64 size) {
  return std::to_string(size) +
         " bytes: files, packs and patches must stay below 4 GiB, the most the formats (and the "
         "patcher) can address";
}
