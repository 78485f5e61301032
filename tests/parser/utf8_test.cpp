#include "parser/utf8.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

const std::string R = "\uFFFD";

struct Case {
  std::string bytes;
  std::string text;
};

class LossyUtf8 : public testing::TestWithParam<Case> {};

TEST_P(LossyUtf8, OneReplacementPerMaximalSubpart) {
  EXPECT_EQ(decode_utf8_lossy(GetParam().bytes), GetParam().text);
  std::string in_place = GetParam().bytes;
  repair_utf8(in_place);
  EXPECT_EQ(in_place, GetParam().text);
  EXPECT_TRUE(is_valid_utf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Table, LossyUtf8,
                         testing::Values(Case{"plain ascii", "plain ascii"}, Case{"é€𝄞", "é€𝄞"},
                                         Case{std::string("a\0b", 3), std::string("a\0b", 3)},
                                         Case{"a\xFF"
                                              "b",
                                              "a" + R + "b"},         // never a lead byte
                                         Case{"\x80\xBF", R + R},     // lone continuation bytes
                                         Case{"\xC0\xAF", R + R},     // overlong lead
                                         Case{"\xE2\x82", R},         // truncated at the end
                                         Case{"\xE2\x82x", R + "x"},  // truncated before ASCII
                                         Case{"\xE0\x80\x80", R + R + R},  // overlong 3-byte
                                         Case{"\xED\xA0\x80", R + R + R},  // surrogate
                                         Case{"\xF0\x9F\x98", R},          // truncated 4-byte
                                         Case{"\xF4\x90\x80\x80", R + R + R + R},  // above U+10FFFF
                                         Case{"\xF1\x80\xE2\x82\xAC",
                                              R + "€"},            // subpart then valid
                                         Case{"\xF5\x80", R + R},  // F5 is never a lead
                                         Case{"ok\xC3", "ok" + R}));

}  // namespace
}  // namespace brackwen
