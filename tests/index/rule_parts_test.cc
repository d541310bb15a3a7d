// Rules that test several fields at once: each field alone must make the
// rule fail, so that no field can drop out of a check without a test
// noticing. (The other tables reach each message; these reach each part.)
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

std::string upper_case_digest(const std::string &digest) { return "A" + digest.substr(1); }

TEST(RuleParts, DelegationFile) {
  expect_cases(
      {
          {"HeaderVersion", [](Repository &r) { r.delegation[0][1] = "2"; }, "delegation header"},
          {"SignerKind", [](Repository &r) { r.delegation[1][0] = "signers"; }, "signer"},
          {"SignerKeyType", [](Repository &r) { r.delegation[1][1] = "ssh-rsa"; }, "signer"},
          // Padding, as base64 ends, is part of the alphabet.
          {"SignerKeyPadding", [](Repository &r) { r.delegation[1][2].back() = '='; }, ""},
          {"SignerKeyUrlSafeAlphabet", [](Repository &r) { r.delegation[1][2].back() = '-'; },
           "signer encoding"},
      },
      run_delegation_command);
}

TEST(RuleParts, IndexFile) {
  expect_cases(
      {
          {"CallerAbiUpperCase",
           [](Repository &r) { r.abi = upper_case_digest(r.abi); }, "trusted context"},
          {"HeaderVersion", [](Repository &r) { r.header()[1] = "3"; }, "index header"},
          {"HeaderAbi", [](Repository &r) { r.header()[4] = digest1; },
           "index identity/ABI/delegation"},
          {"SerialZero", [](Repository &r) { r.header()[kSerial] = "0"; }, "index serial/epoch"},
          {"SerialLargest", [](Repository &r) { r.header()[kSerial] = "999999999"; }, ""},
          {"SerialAboveLargest", [](Repository &r) { r.header()[kSerial] = "1000000000"; },
           "index serial/epoch"},
          {"RowNameNotDelegated", [](Repository &r) { r.row(3)[kName] = "hello-man"; },
           "package name/version"},
          {"RowNameNotToken", [](Repository &r) { r.row(3)[kName] = "-hello"; },
           "package name/version"},
          {"RowDigestShort",
           [](Repository &r) {
             r.row(1)[kDigest] = digest1.substr(1);
             r.row(1)[kFilename] = r.row(1)[kDigest] + ".vesk";
           },
           "package digest"},
          {"RowDigestUpperCase",
           [](Repository &r) {
             r.row(1)[kDigest] = upper_case_digest(digest1);
             r.row(1)[kFilename] = r.row(1)[kDigest] + ".vesk";
           },
           "package digest"},
      },
      run_index_command);
}

}  // namespace
