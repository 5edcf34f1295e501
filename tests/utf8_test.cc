// Tests of UTF-8: which bytes are well-formed text.
#include "common/utf8.h"

#include <gtest/gtest.h>

namespace trov {
namespace {

TEST(TypedName, IsTakenAsUtf8OnlyWhenItsBytesAreWellFormed) {
  struct Case {
    const char* word;
    bool utf8;
  } cases[] = {{"garnet", true},           {"M\xC3\xBCller/garnet", true}, {"M\xFCller/garnet", false},
               {"\xE2\x82\xAC", true},      {"\xE2\x82", false},            {"\xC0\xAF", false},
               {"\xF0\x9F\x98\x80", true}, {"\x80", false}};
  for (const Case& c : cases) EXPECT_EQ(is_utf8(c.word), c.utf8) << c.word;
}

}  // namespace
}  // namespace trov
