// Delegation files through the "delegation" command: the valid example,
// then one change per case with the message it must give.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

class Delegation : public ::testing::TestWithParam<RepositoryCase> {};

TEST_P(Delegation, GivesItsMessage) {
  Repository repository;
  GetParam().change(repository);
  expect_outcome(run_delegation_command(repository), GetParam().message);
}

Change header(size_t column, const std::string &value) {
  return [=](Repository &r) { r.delegation[0][column] = value; };
}
Change signer(const std::string &key) {
  return [=](Repository &r) { r.delegation[1][2] = key; };
}
Change now(const std::string &value) {
  return [=](Repository &r) { r.now = value; };
}
Change append(const Line &line) {
  return [=](Repository &r) { r.delegation.push_back(line); };
}

const std::string name64(64, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, Delegation,
    ::testing::Values(
        RepositoryCase{"WorkedExample", [](Repository &) {}, ""},
        RepositoryCase{"WorkedExampleAtNotAfter", now("900"), "delegation time/epoch"},
        RepositoryCase{"WorkedExampleRepeatedName", append({"package", "hello"}),
                       "delegated package"},
        // The window: not-before <= NOW < not-after.
        RepositoryCase{"NowAtNotBefore", now("100"), ""},
        RepositoryCase{"NowBeforeNotBefore", now("99"), "delegation time/epoch"},
        RepositoryCase{"NowJustBeforeNotAfter", now("899"), ""},
        RepositoryCase{"NowZero", now("0"), "delegation time/epoch"},
        RepositoryCase{"NotBeforeZero", [](Repository &r) {
                         r.delegation[0][4] = "0";
                         r.now = "0";
                       }, "delegation time/epoch"},
        RepositoryCase{"LargestTimes", [](Repository &r) {
                         r.delegation[0][5] = "9999999999";
                         r.now = "9999999998";
                       }, ""},
        RepositoryCase{"EpochOne", header(3, "1"), ""},
        RepositoryCase{"EpochLargest", header(3, "999999999"), ""},
        RepositoryCase{"EpochZero", header(3, "0"), "delegation time/epoch"},
        RepositoryCase{"EpochTooLarge", header(3, "1000000000"), "delegation time/epoch"},
        RepositoryCase{"EpochLeadingZeros", header(3, "0000000003"), ""},
        RepositoryCase{"EpochElevenDigits", header(3, "00000000003"), "integer length"},
        RepositoryCase{"NotAfterSpace", header(5, "9 00"), "integer syntax"},
        // Header form, in the order the rules run.
        RepositoryCase{"EmptyFile", [](Repository &r) { r.delegation.clear(); },
                       "delegation header"},
        RepositoryCase{"HeaderNineColumns", [](Repository &r) { r.delegation[0].pop_back(); },
                       "delegation header"},
        RepositoryCase{"HeaderElevenColumns",
                       [](Repository &r) { r.delegation[0].push_back("x"); },
                       "delegation header"},
        RepositoryCase{"HeaderSixteenColumns",
                       [](Repository &r) { r.delegation[0].resize(16, "x"); },
                       "too many columns"},
        RepositoryCase{"MagicLowerCase", header(0, "vesk-delegation"), "delegation header"},
        RepositoryCase{"FormatTwo", header(1, "2"), "delegation header"},
        RepositoryCase{"Identity64", header(2, name64), ""},
        RepositoryCase{"Identity65", header(2, name64 + "n"), "delegation identity/ABI"},
        RepositoryCase{"IdentityLeadingDash", header(2, "-core"), "delegation identity/ABI"},
        RepositoryCase{"AbiUpperCase", header(6, "74A4" + abi_digest.substr(4)),
                       "delegation identity/ABI"},
        // The identity test comes before the numbers are converted.
        RepositoryCase{"IdentityBeforeNumbers", [](Repository &r) {
                         r.delegation[0][2] = "";
                         r.delegation[0][3] = "x";
                       }, "delegation identity/ABI"},
        RepositoryCase{"TimeBeforePlatform", [](Repository &r) {
                         r.delegation[0][3] = "0";
                         r.delegation[0][7] = "i686";
                       }, "delegation time/epoch"},
        RepositoryCase{"Architecture", header(7, "i686"), "delegation platform"},
        RepositoryCase{"Library", header(8, "glibc"), "delegation platform"},
        RepositoryCase{"Profile", header(9, "pentium-mmx"), "delegation platform"},
        // Signer line.
        RepositoryCase{"HeaderOnly", [](Repository &r) { r.delegation.resize(1); }, "signer"},
        RepositoryCase{"SignerKind", [](Repository &r) { r.delegation[1][0] = "Signer"; },
                       "signer"},
        RepositoryCase{"SignerKeyType", [](Repository &r) { r.delegation[1][1] = "ssh-rsa"; },
                       "signer"},
        RepositoryCase{"SignerFourColumns",
                       [](Repository &r) { r.delegation[1].push_back("comment"); }, "signer"},
        RepositoryCase{"Key67", signer(signer_key.substr(1)), "signer"},
        RepositoryCase{"Key69", signer(signer_key + "A"), "signer"},
        RepositoryCase{"KeyAllPadding", signer(std::string(68, '=')), ""},
        RepositoryCase{"KeyDash", signer("-" + signer_key.substr(1)), "signer encoding"},
        RepositoryCase{"KeyUnderscore", signer(signer_key.substr(1) + "_"), "signer encoding"},
        RepositoryCase{"KeySpace", signer(signer_key.substr(1) + " "), "signer encoding"},
        // Package lines.
        RepositoryCase{"NoPackageLine", [](Repository &r) { r.delegation.resize(2); },
                       "empty delegation"},
        RepositoryCase{"OnePackageLine", [](Repository &r) { r.delegation.resize(3); }, ""},
        RepositoryCase{"EmptyLine", append({""}), "delegated package"},
        RepositoryCase{"ThreeColumns", append({"package", "x", "y"}), "delegated package"},
        RepositoryCase{"Packages", append({"packages", "x"}), "delegated package"},
        RepositoryCase{"PackageUpperCase", append({"Package", "x"}), "delegated package"},
        RepositoryCase{"NameNotToken", append({"package", "a/b"}), "delegated package"},
        RepositoryCase{"Name64", append({"package", name64}), ""},
        RepositoryCase{"Name65", append({"package", name64 + "n"}), "delegated package"},
        RepositoryCase{"NamesDifferInCase", append({"package", "Hello"}), ""},
        // Byte rules of the reader.
        RepositoryCase{"CrLf", [](Repository &r) { r.delegation[2][1] += "\r"; },
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"MissingFinalLf", [](Repository &r) {
                         r.delegation.pop_back();
                         r.delegation_tail = "package\thello-doc";
                       }, "missing final LF"},
        RepositoryCase{"Nul", [](Repository &r) { r.delegation[3][1] += std::string(1, '\0'); },
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"Byte80", [](Repository &r) { r.delegation[3][1] += "\x80"; },
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"ByteFF", [](Repository &r) { r.delegation[0][2] = "\xff"; },
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"VerticalTab", [](Repository &r) { r.delegation[3][1] += "\v"; },
                       "non-ASCII/control/NUL metadata"},
        // The byte rule is met while the line is read, the column count after it.
        RepositoryCase{"ByteRuleBeforeColumnCount", [](Repository &r) {
                         r.delegation[0].resize(20, "x");
                         r.delegation[0][19] = "\x7f";
                       }, "non-ASCII/control/NUL metadata"}),
    case_name);

// Package lines "package TAB name LF" with unique names, filling exactly
// `size` bytes; every line is at least 20 bytes long.
std::string package_lines(size_t size) {
  std::string text;
  for (size_t count = 0; size > 0; ++count) {
    size_t line = std::min<size_t>(9 + 64, size);
    if (size - line > 0 && size - line < 20) line = size - 20;
    std::string name = "p" + std::to_string(count) + "-";
    name.resize(line - 9, 'x');
    text += "package\t" + name + "\n";
    size -= line;
  }
  return text;
}

TEST(DelegationLimits, ExactlySixteenKibibytesPass) {
  Repository repository;
  size_t base = repository.delegation_text().size();
  repository.delegation_tail = package_lines(16384 - base);
  ASSERT_EQ(repository.delegation_text().size(), 16384u);
  expect_outcome(run_delegation_command(repository), "");
}

TEST(DelegationLimits, OneByteOverFailsWhateverTheByte) {
  Repository repository;
  size_t base = repository.delegation_text().size();
  const std::vector<std::string> extras = {"\n", std::string(1, '\0'), "package\tzz\n"};
  for (const std::string &extra : extras) {
    repository.delegation_tail = package_lines(16384 - base) + extra;
    expect_outcome(run_delegation_command(repository), "metadata byte limit");
  }
}

// More names than the table holds never fit in the byte budget.
TEST(DelegationLimits, ShortestPackageLinesRunOutOfBytesFirst) {
  Repository repository;
  for (int i = 0; i < 1639; ++i) repository.delegation.push_back({"package", std::to_string(i)});
  expect_outcome(run_delegation_command(repository), "metadata byte limit");
}

}  // namespace
