#include "core/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ErrorCodes, AreDistinctAndPrintable) {
  const std::set<std::string> texts(kAllErrorCodes, kAllErrorCodes + kErrorCodeCount);
  EXPECT_EQ(texts.size(), kErrorCodeCount);
  EXPECT_EQ(kAllErrorCodes[kErrorCodeCount], nullptr);
  const std::pair<ErrorCode, const char*> rows[] = {
      {nullptr, "success"}, {ERR_PACK_WRITEACCESS, "8001"}, {ERR_UNKNOWN, "\"Unknown error\""}};
  for (const auto& [code, text] : rows) EXPECT_STREQ(ErrorText(code), text);
}
