// Delegation files through the "delegation" command: the valid example,
// then one change per case with the message it must give.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

Change header(size_t column, const std::string &value) {
  return [=](Repository &r) { r.delegation[0][column] = value; };
}
Change signer(size_t column, const std::string &value) {
  return [=](Repository &r) { r.delegation[1][column] = value; };
}
Change now(const std::string &value) {
  return [=](Repository &r) { r.now = value; };
}
Change append(const Line &line) {
  return [=](Repository &r) { r.delegation.push_back(line); };
}

TEST(Delegation, EachChangeGivesItsMessage) {
  const std::string time = "delegation time/epoch", identity = "delegation identity/ABI";
  const std::string platform = "delegation platform", package = "delegated package";
  const std::string bytes = "non-ASCII/control/NUL metadata", name64(64, 'n');
  expect_cases(
      {
          {"WorkedExample", [](Repository &) {}, ""},
          // The window: not-before <= NOW < not-after.
          {"NowAtNotBefore", now("100"), ""},
          {"NowBeforeNotBefore", now("99"), time},
          {"NowJustBeforeNotAfter", now("899"), ""},
          {"NowAtNotAfter", now("900"), time},
          {"NotBeforeZero", [](Repository &r) { r.delegation[0][4] = r.now = "0"; }, time},
          {"EpochLargest", header(3, "999999999"), ""},
          {"EpochTooLarge", header(3, "1000000000"), time},
          {"EpochZero", header(3, "0"), time},
          {"EmptyFile", [](Repository &r) { r.delegation.clear(); }, "delegation header"},
          {"HeaderNineColumns", [](Repository &r) { r.delegation[0].pop_back(); }, "delegation header"},
          {"HeaderSixteenColumns", [](Repository &r) { r.delegation[0].resize(16, "x"); }, "too many columns"},
          {"MagicLowerCase", header(0, "vesk-delegation"), "delegation header"},
          {"Identity64", header(2, name64), ""},
          {"Identity65", header(2, name64 + "n"), identity},
          {"AbiUpperCase", header(6, "74A4" + abi_digest.substr(4)), identity},
          {"Architecture", header(7, "i686"), platform},
          {"Library", header(8, "glibc"), platform},
          {"Profile", header(9, "pentium-mmx"), platform},
          {"HeaderOnly", [](Repository &r) { r.delegation.resize(1); }, "signer"},
          {"SignerKeyType", signer(1, "ssh-rsa"), "signer"},
          {"Key67", signer(2, signer_key.substr(1)), "signer"},
          {"Key69", signer(2, signer_key + "A"), "signer"},
          {"KeyAllPadding", signer(2, std::string(68, '=')), ""},
          {"KeyDash", signer(2, "-" + signer_key.substr(1)), "signer encoding"},
          {"NoPackageLine", [](Repository &r) { r.delegation.resize(2); }, "empty delegation"},
          {"EmptyLine", append({""}), package},
          {"Packages", append({"packages", "x"}), package},
          {"NameNotToken", append({"package", "a/b"}), package},
          {"RepeatedName", append({"package", "hello"}), package},
          {"NamesDifferInCase", append({"package", "Hello"}), ""},
          {"CrLf", [](Repository &r) { r.delegation[2][1] += "\r"; }, bytes},
          {"Nul", [](Repository &r) { r.delegation[3][1] += std::string(1, '\0'); }, bytes},
          {"Byte80", [](Repository &r) { r.delegation[3][1] += "\x80"; }, bytes},
          {"MissingFinalLf", [](Repository &r) {
             r.delegation.pop_back();
             r.delegation_tail = "package\thello-doc"; }, "missing final LF"},
      },
      run_delegation_command);
}

// Package lines of unique names filling the file to exactly 16384 bytes.
TEST(Delegation, SixteenKibibytesAndOneByteMore) {
  Repository repository;
  size_t size = 16384 - repository.delegation_text().size();
  for (size_t count = 0; size > 0; ++count) {
    size_t line = std::min<size_t>(9 + 64, size);
    if (size - line > 0 && size - line < 20) line = size - 20;
    std::string name = "p" + std::to_string(count) + "-";
    name.resize(line - 9, 'x');
    repository.delegation_tail += "package\t" + name + "\n";
    size -= line;
  }
  ASSERT_EQ(repository.delegation_text().size(), 16384u);
  expect_index(run_delegation_command(repository), "");
  repository.delegation_tail += "\n";
  expect_index(run_delegation_command(repository), "metadata byte limit");
}

}  // namespace
