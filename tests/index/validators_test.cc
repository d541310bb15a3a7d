// The pure field predicates and the number parser, called directly.
#include <gtest/gtest.h>

#include <string>

#include "vesk_index.h"

namespace {

TEST(Validators, ParseDecimal) {
  const std::pair<const char *, uint64_t> cases[] = {
      {"0", 0}, {"7", 7}, {"0000000001", 1}, {"0000000042", 42}, {"4294967296", 4294967296u},
      {"9999999999", 9999999999u}};
  for (const auto &[text, value] : cases) EXPECT_EQ(parse_decimal_u64(text), value) << text;
}

TEST(Validators, NameToken) {
  const std::pair<std::string, bool> cases[] = {
      {"a", true}, {"Z9", true}, {"a..", true}, {"a+-", true}, {"lib_x.y+z-1", true},
      {std::string(64, 'a'), true}, {"", false}, {std::string(65, 'a'), false}, {"-a", false},
      {".a", false}, {"_a", false}, {"+a", false}, {"a b", false}, {"a=b", false}, {"a/b", false},
      {"a:b", false}, {"a\tb", false}, {"a\xc3\xa9", false}, {"\xc3\xa9", false}, {"`", false},
      {"{", false}, {"@", false}, {"[", false}};
  for (const auto &[text, expected] : cases)
    EXPECT_EQ(is_name_token(text.c_str()), expected) << text;
}

TEST(Validators, Version) {
  const std::pair<std::string, bool> cases[] = {
      {"0", true}, {"1.2.3", true}, {"2_1", true}, {"007.01", true}, {"1.0p2", true},
      {"3.4+r1", true}, {"3.4p0+r12", true}, {"2.12p1+r2", true}, {"1+r10", true},
      {"1_2.3p04+r9009", true}, {std::string(64, '9'), true}, {"1." + std::string(62, '0'), true},
      {std::string(65, '9'), false}, {"1." + std::string(63, '0'), false}, {"", false},
      {"1.", false}, {"1..2", false}, {".1", false}, {"1.2a", false}, {"1p", false},
      {"1p2.3", false}, {"1p2p3", false}, {"1+r", false}, {"1+r0", false}, {"1+r01", false},
      {"1+r1.2", false}, {"1+r1p2", false}, {"1+r1+r2", false}, {"1-2", false}, {"p1", false},
      {"+r1", false}, {"1+1", false}, {"1r1", false}, {"1P2", false}, {"1+R1", false},
      {"1 ", false}, {"1._2", false}, {"a", false}};
  for (const auto &[text, expected] : cases)
    EXPECT_EQ(is_valid_version(text.c_str()), expected) << text;
}

}  // namespace
