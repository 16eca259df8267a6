#include "core/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

TEST(ErrorCodes, AreDistinctNamesComparedByIdentity) {
  std::set<std::string> texts;
  for (u32 i = 0; i < kErrorCodeCount; ++i) texts.insert(kAllErrorCodes[i]);
  EXPECT_EQ(texts.size(), kErrorCodeCount);
  EXPECT_EQ(kErrorCodeCount, 51u);
  EXPECT_EQ(kAllErrorCodes[kErrorCodeCount], nullptr);
  char copy[32];
  std::strcpy(copy, ERR_READFAIL);
  EXPECT_NE(static_cast<ErrorCode>(copy), ERR_READFAIL);
  EXPECT_STREQ(copy, ERR_READFAIL);
}

TEST(ErrorCodes, QuotedPhrasesKeepTheirQuoteMarks) {
  EXPECT_EQ(std::strlen(ERR_UNKNOWN), 15u);
  EXPECT_STREQ(ERR_UNKNOWN, "\"Unknown error\"");
  EXPECT_STREQ(ERR_NOTIMPLEMENTED, "\"Not implemented yet\"");
  EXPECT_EQ(kAllErrorCodes[0], ERR_UNKNOWN);
  EXPECT_EQ(kAllErrorCodes[1], ERR_NOTIMPLEMENTED);
}

TEST(ErrorCodes, PackWriteAccessIsPrintableWithoutDereference) {
  EXPECT_STREQ(ErrorText(ERR_PACK_WRITEACCESS), "8001");
  EXPECT_STREQ(ErrorText(nullptr), "success");
  EXPECT_STREQ(ErrorText(ERR_EOF), "EOF");
}
