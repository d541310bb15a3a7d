// Repository indexes through the "index" command: the valid example, then
// one change per case with the message it must give.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

class Index : public ::testing::TestWithParam<RepositoryCase> {};

TEST_P(Index, GivesItsMessage) {
  Repository repository;
  GetParam().change(repository);
  expect_outcome(run_index_command(repository), GetParam().message);
}

Change header(size_t column, const std::string &value) {
  return [=](Repository &r) { r.header()[column] = value; };
}
Change cell(size_t row, size_t column, const std::string &value) {
  return [=](Repository &r) { r.row(row)[column] = value; };
}
Change dependencies(const std::string &value) { return cell(1, kDependencies, value); }
Change version(const std::string &value) { return cell(1, kVersion, value); }
Change now(const std::string &value) {
  return [=](Repository &r) { r.now = value; };
}
Change window(const std::string &generated, const std::string &expiry,
              const std::string &at = "500") {
  return [=](Repository &r) {
    r.header()[kGenerated] = generated;
    r.header()[kExpiry] = expiry;
    r.now = at;
    for (size_t row = 1; row < r.index.size(); ++row) r.row(row)[kDate] = "100";
  };
}
// A delegation wide enough for the longest validity window.
Change wide_delegation(const std::string &generated, const std::string &expiry,
                       const std::string &at) {
  return [=](Repository &r) {
    r.delegation[0][5] = "9999999999";
    window(generated, expiry, at)(r);
  };
}
Change add_row(const Line &row) {
  return [=](Repository &r) { r.index.push_back(row); };
}
Line hello_row(const std::string &version, const std::string &rank) {
  return package_row("hello", version, rank, digest2, "1", "-", "x", "100");
}

const std::string token64(64, 't');
const std::string text512(512, 'd');
const std::string url512 = "https://" + std::string(504, 'u');

INSTANTIATE_TEST_SUITE_P(
    WorkedExample, Index,
    ::testing::Values(
        RepositoryCase{"Accepted", [](Repository &) {}, ""},
        RepositoryCase{"SecondRowRankSeven", cell(2, kRank, "7"), "duplicate version/rank"},
        RepositoryCase{"NowAtExpiry", now("700"), "index validity"},
        RepositoryCase{"ExpiryPastTheLongestWindow", header(kExpiry, "605251"),
                       "index validity"},
        RepositoryCase{"SelfDependency", dependencies("hello=2"),
                       "dependency token/self dependency"},
        RepositoryCase{"DelegationAtNotAfter", now("900"), "delegation time/epoch"},
        RepositoryCase{"HeaderOnly", [](Repository &r) { r.index.resize(1); }, ""}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    CallerAndHeader, Index,
    ::testing::Values(
        // The delegation is judged first, whatever the index holds.
        RepositoryCase{"DelegationFirst", [](Repository &r) {
                         r.delegation.resize(2);
                         r.index.clear();
                         r.repo = "";
                       }, "empty delegation"},
        RepositoryCase{"RepoNotDelegated", [](Repository &r) { r.repo = "other"; },
                       "trusted context"},
        RepositoryCase{"RepoNotToken", [](Repository &r) { r.repo = "core/"; },
                       "trusted context"},
        RepositoryCase{"AbiOther", [](Repository &r) { r.abi = digest1; }, "trusted context"},
        RepositoryCase{"AbiUpperCase", [](Repository &r) { r.abi = "74A4" + abi_digest.substr(4); },
                       "trusted context"},
        RepositoryCase{"DelegShaUpperCase", [](Repository &r) {
                         r.deleg_sha = "78544670B" + delegation_digest.substr(9);
                         r.header()[kDelegationSha] = r.deleg_sha;
                       }, "trusted context"},
        RepositoryCase{"DelegShaShort", [](Repository &r) { r.deleg_sha.pop_back(); },
                       "trusted context"},
        RepositoryCase{"DelegShaOtherThanHeader", [](Repository &r) { r.deleg_sha = digest1; },
                       "index identity/ABI/delegation"},
        RepositoryCase{"EmptyIndex", [](Repository &r) { r.index.clear(); }, "index header"},
        RepositoryCase{"HeaderNineColumns", [](Repository &r) { r.header().pop_back(); },
                       "index header"},
        RepositoryCase{"HeaderElevenColumns", [](Repository &r) { r.header().push_back(""); },
                       "index header"},
        RepositoryCase{"Magic", header(0, "VESK-INDEX2"), "index header"},
        RepositoryCase{"FormatOne", header(1, "1"), "index header"},
        RepositoryCase{"HeaderRepo", header(2, "core2"), "index identity/ABI/delegation"},
        RepositoryCase{"HeaderAbi", header(4, digest1), "index identity/ABI/delegation"},
        RepositoryCase{"HeaderSystem", header(5, "0.2"), "index identity/ABI/delegation"},
        RepositoryCase{"HeaderDelegation", header(kDelegationSha, digest1),
                       "index identity/ABI/delegation"},
        RepositoryCase{"SerialSyntax", header(kSerial, "4x"), "integer syntax"},
        RepositoryCase{"GeneratedLength", header(kGenerated, "00000000450"), "integer length"},
        RepositoryCase{"ExpiryEmpty", header(kExpiry, ""), "integer length"},
        // The serial is judged before the epoch column is even converted.
        RepositoryCase{"SerialZeroEpochNotANumber", [](Repository &r) {
                         r.header()[kSerial] = "0";
                         r.header()[kEpoch] = "three";
                       }, "index serial/epoch"},
        RepositoryCase{"EpochNotANumber", header(kEpoch, "three"), "integer syntax"},
        RepositoryCase{"SerialOne", header(kSerial, "1"), ""},
        RepositoryCase{"SerialLargest", header(kSerial, "999999999"), ""},
        RepositoryCase{"SerialTooLarge", header(kSerial, "1000000000"), "index serial/epoch"},
        RepositoryCase{"EpochOther", header(kEpoch, "4"), "index serial/epoch"},
        RepositoryCase{"EpochLeadingZeros", header(kEpoch, "003"), ""},
        // Validity window: not-before <= generated <= NOW < expiry <= not-after.
        RepositoryCase{"GeneratedAtNotBefore", window("100", "700"), ""},
        RepositoryCase{"GeneratedBeforeNotBefore", window("99", "700"), "index validity"},
        RepositoryCase{"GeneratedAtNow", window("500", "700"), ""},
        RepositoryCase{"GeneratedAfterNow", window("501", "700"), "index validity"},
        RepositoryCase{"NowJustBeforeExpiry", now("699"), ""},
        RepositoryCase{"ExpiryAtNotAfter", window("450", "900"), ""},
        RepositoryCase{"ExpiryAfterNotAfter", window("450", "901"), "index validity"},
        RepositoryCase{"SevenDays", wide_delegation("1000", "605800", "1000"), ""},
        RepositoryCase{"SevenDaysAndASecond", wide_delegation("1000", "605801", "1000"),
                       "index validity"},
        RepositoryCase{"LargestTimes",
                       wide_delegation("9999999000", "9999999999", "9999999998"), ""}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Rows, Index,
    ::testing::Values(
        RepositoryCase{"FourteenColumns", [](Repository &r) { r.row(3).pop_back(); },
                       "package column count"},
        RepositoryCase{"SixteenColumns", [](Repository &r) { r.row(3).push_back("x"); },
                       "too many columns"},
        RepositoryCase{"EmptyLine", add_row({""}), "package column count"},
        RepositoryCase{"NameNotDelegated", cell(3, kName, "hello-docs"),
                       "package name/version"},
        RepositoryCase{"NameOtherCase", cell(3, kName, "Hello-doc"), "package name/version"},
        RepositoryCase{"NameNotToken", cell(3, kName, "_hello"), "package name/version"},
        RepositoryCase{"VersionP", version("2.12p"), "package name/version"},
        RepositoryCase{"VersionR0", version("2.12+r0"), "package name/version"},
        RepositoryCase{"Version64", version(std::string(64, '1')), ""},
        RepositoryCase{"Version65", version(std::string(65, '1')), "package name/version"},
        // The rank and size are converted before either is judged.
        RepositoryCase{"RankZeroSizeNotANumber", [](Repository &r) {
                         r.row(1)[kRank] = "0";
                         r.row(1)[kSize] = "9 1 3";
                       }, "integer syntax"},
        RepositoryCase{"RankLargest", cell(1, kRank, "99999999"), ""},
        RepositoryCase{"RankTooLarge", cell(1, kRank, "100000000"), "package rank/size"},
        RepositoryCase{"RankZero", cell(1, kRank, "0"), "package rank/size"},
        RepositoryCase{"SizeLargest", cell(1, kSize, "35651584"), ""},
        RepositoryCase{"SizeTooLarge", cell(1, kSize, "35651585"), "package rank/size"},
        RepositoryCase{"SizeZero", cell(1, kSize, "0"), "package rank/size"},
        RepositoryCase{"DigestUpperCase", [](Repository &r) {
                         std::string upper = "CD429" + digest1.substr(5);
                         r.row(1)[kDigest] = upper;
                         r.row(1)[kFilename] = upper + ".vesk";
                       }, "package digest"},
        RepositoryCase{"FilenameUpperCase",
                       cell(1, kFilename, "CD429" + digest1.substr(5) + ".vesk"),
                       "package filename/system"},
        RepositoryCase{"FilenameExtension", cell(1, kFilename, digest1 + ".tar"),
                       "package filename/system"},
        RepositoryCase{"FilenameOtherDigest", cell(1, kFilename, digest2 + ".vesk"),
                       "package filename/system"},
        RepositoryCase{"FilenameWithPath", cell(1, kFilename, "./" + digest1 + ".vesk"),
                       "package filename/system"},
        RepositoryCase{"System", cell(1, kSystem, "0.10"), "package filename/system"},
        RepositoryCase{"Architecture", cell(1, kArchitecture, "i686"), "package platform"},
        RepositoryCase{"Library", cell(1, kLibrary, "uclibc"), "package platform"},
        RepositoryCase{"RowAbi", cell(1, kRowAbi, digest1), "package platform"},
        RepositoryCase{"Profile", cell(1, kProfile, "pentium"), "package platform"},
        RepositoryCase{"Description512", cell(1, kDescription, text512), ""},
        RepositoryCase{"Description513", cell(1, kDescription, text512 + "d"),
                       "description/upstream/date"},
        RepositoryCase{"DescriptionEmpty", cell(1, kDescription, ""),
                       "description/upstream/date"},
        RepositoryCase{"DescriptionPunctuation", cell(1, kDescription, " ~!\"#$%&'()*+,-./ "),
                       ""},
        RepositoryCase{"Upstream512", cell(1, kUpstream, url512), ""},
        RepositoryCase{"Upstream513", cell(1, kUpstream, url512 + "u"),
                       "description/upstream/date"},
        RepositoryCase{"UpstreamSchemeOnly", cell(1, kUpstream, "https://"), ""},
        RepositoryCase{"UpstreamHttp", cell(1, kUpstream, "http://hello.example/"),
                       "description/upstream/date"},
        RepositoryCase{"UpstreamUpperCase", cell(1, kUpstream, "HTTPS://hello.example/"),
                       "description/upstream/date"},
        RepositoryCase{"DateAtGenerated", cell(2, kDate, "450"), ""},
        RepositoryCase{"DateAfterGenerated", cell(2, kDate, "451"), "description/upstream/date"},
        RepositoryCase{"DateZero", cell(2, kDate, "0"), ""},
        // The date is converted only once the texts have passed.
        RepositoryCase{"DateNotANumber", cell(2, kDate, "yesterday"), "integer syntax"},
        RepositoryCase{"TextsBeforeDate", [](Repository &r) {
                         r.row(2)[kDescription] = "";
                         r.row(2)[kDate] = "yesterday";
                       }, "description/upstream/date"},
        // Rules run in row order: the first broken rule decides.
        RepositoryCase{"NameBeforeRank", [](Repository &r) {
                         r.row(1)[kName] = "nobody";
                         r.row(1)[kRank] = "x";
                       }, "package name/version"},
        RepositoryCase{"DependenciesBeforePlatform", [](Repository &r) {
                         r.row(1)[kDependencies] = "";
                         r.row(1)[kArchitecture] = "";
                       }, "empty dependency"},
        RepositoryCase{"CrLf", [](Repository &r) { r.row(3)[kDate] += "\r"; },
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"NulInDescription", cell(1, kDescription, std::string("a\0b", 3)),
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"DelInDescription", cell(1, kDescription, "\x7f"),
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"Utf8InDescription", cell(1, kDescription, "caf\xc3\xa9"),
                       "non-ASCII/control/NUL metadata"},
        RepositoryCase{"MissingFinalLf", [](Repository &r) {
                         r.index.pop_back();
                         r.index_tail = "hello";
                       }, "missing final LF"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Dependencies, Index,
    ::testing::Values(
        RepositoryCase{"TwoEntries", dependencies("a=1 b=2"), ""},
        RepositoryCase{"RepeatedEntry", dependencies("a=1 a=1"), ""},
        RepositoryCase{"UndelegatedName", dependencies("libfoo=2.0-r1_x"), ""},
        RepositoryCase{"Empty", dependencies(""), "empty dependency"},
        RepositoryCase{"TwoSpaces", dependencies("a=1  b=2"), "dependency spacing"},
        RepositoryCase{"TrailingSpace", dependencies("a=1 "), "dependency spacing"},
        RepositoryCase{"LeadingSpace", dependencies(" a=1"), "dependency syntax"},
        RepositoryCase{"BareName", dependencies("a"), "dependency syntax"},
        RepositoryCase{"NoName", dependencies("=1"), "dependency syntax"},
        RepositoryCase{"NoValue", dependencies("a="), "dependency syntax"},
        RepositoryCase{"NoValueBeforeSpace", dependencies("a= b=2"), "dependency syntax"},
        RepositoryCase{"SecondEntryBare", dependencies("a=1 b"), "dependency syntax"},
        RepositoryCase{"DoubleEquals", dependencies("a==1"), "dependency token/self dependency"},
        RepositoryCase{"TwoEquals", dependencies("a=1=2"), "dependency token/self dependency"},
        RepositoryCase{"OwnName", dependencies("hello=2"), "dependency token/self dependency"},
        RepositoryCase{"OwnNameSecond", dependencies("a=1 hello=2"),
                       "dependency token/self dependency"},
        RepositoryCase{"NameNotToken", dependencies("-a=1"), "dependency token/self dependency"},
        RepositoryCase{"ValueNotToken", dependencies("a=1:2"),
                       "dependency token/self dependency"},
        RepositoryCase{"Dash", dependencies("--"), "dependency syntax"},
        RepositoryCase{"Tokens64", dependencies(token64 + "=" + token64), ""},
        RepositoryCase{"Name65", dependencies(token64 + "t=1"), "dependency token length"},
        RepositoryCase{"Value65", dependencies("a=" + token64 + "t"), "dependency token length"},
        // The length rule comes before the token rule.
        RepositoryCase{"LongBeforeBadToken", dependencies("-" + token64 + "=1"),
                       "dependency token length"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Duplicates, Index,
    ::testing::Values(
        // Versions compare as text, ranks as numbers.
        RepositoryCase{"VersionTextDiffers", add_row(hello_row("2.11" "0", "5")), ""},
        RepositoryCase{"OneAndOnePointOh", [](Repository &r) {
                         r.index.push_back(hello_row("1.0", "5"));
                         r.index.push_back(hello_row("1.00", "8"));
                       }, ""},
        RepositoryCase{"SameVersion", add_row(hello_row("2.11", "5")), "duplicate version/rank"},
        RepositoryCase{"RankWithZeros", [](Repository &r) {
                         r.index.push_back(hello_row("1.0", "5"));
                         r.index.push_back(hello_row("1.00", "005"));
                       }, "duplicate version/rank"},
        RepositoryCase{"SameRankAsFirstRow", add_row(hello_row("3", "0000007")),
                       "duplicate version/rank"},
        RepositoryCase{"SameVersionAndRankOtherName",
                       add_row(package_row("hello-doc", "2.11", "6", digest2, "1", "-", "x",
                                           "100")),
                       ""}),
    case_name);

// Rows of one name, with versions 1.N and ranks N, whose description pads
// them to exactly `size` bytes.
std::string padded_rows(size_t size) {
  std::string text;
  for (size_t count = 1; size > 0; ++count) {
    Line row = hello_row("1." + std::to_string(count), std::to_string(count));
    size_t shortest = join({row}).size();  // with a one-byte description
    size_t line = std::min(shortest + 511, size);
    if (size - line > 0 && size - line < shortest + 20) line = size - shortest - 20;
    row[kDescription] = std::string(line - shortest + 1, 'd');
    text += join({row});
    size -= line;
  }
  return text;
}

TEST(IndexLimits, ExactlyQuarterMebibytePasses) {
  Repository repository;
  repository.index.resize(1);
  repository.index_tail = padded_rows(262144 - repository.index_text().size());
  ASSERT_EQ(repository.index_text().size(), 262144u);
  expect_outcome(run_index_command(repository), "");
}

TEST(IndexLimits, OneByteOverFailsWhateverTheByte) {
  Repository repository;
  repository.index.resize(1);
  std::string rows = padded_rows(262144 - repository.index_text().size());
  for (const std::string &extra : std::vector<std::string>{"\n", "\x80", "hello"}) {
    repository.index_tail = rows + extra;
    expect_outcome(run_index_command(repository), "metadata byte limit");
  }
}

// The dependency list "d=1 d=1 ... d=vvv" of exactly `length` bytes (>= 3).
std::string dependency_list(size_t length) {
  size_t last_value = (length - 3) % 4 + 1;
  std::string text;
  for (size_t i = 0; i < (length - 2 - last_value) / 4; ++i) text += "d=1 ";
  return text + "d=" + std::string(last_value, 'v');
}

Repository row_of_length(size_t length) {
  Repository repository;
  Line &row = repository.row(1);
  row[kDependencies] = "";
  size_t others = join({row}).size() - 1;  // without the LF
  row[kDependencies] = dependency_list(length - others);
  return repository;
}

TEST(IndexLimits, LineOf4096BytesIsRead) {
  Repository repository = row_of_length(4096);
  ASSERT_EQ(join({repository.row(1)}).size(), 4097u);
  expect_outcome(run_index_command(repository), "");
}

TEST(IndexLimits, LineOf4097BytesIsRefused) {
  Repository repository = row_of_length(4097);
  ASSERT_EQ(join({repository.row(1)}).size(), 4098u);
  expect_outcome(run_index_command(repository), "line length");
  // However many columns it holds.
  repository.row(1).resize(40, "x");
  expect_outcome(run_index_command(repository), "line length");
}

// A delegation that fills its byte budget with short names, and an index
// without rows.
Repository full_delegation(std::vector<std::string> *names) {
  Repository repository;
  repository.delegation.resize(2);
  while (repository.delegation_text().size() + 14 <= 16384) {
    names->push_back("p" + std::to_string(names->size()));
    repository.delegation.push_back({"package", names->back()});
  }
  repository.index.resize(1);
  return repository;
}

Line row_named(const std::string &name) {
  return package_row(name, "1", "1", digest2, "1", "-", "x", "100");
}

// However full the table of delegated names, each is found and no other.
TEST(FullDelegation, FindsEveryNameAndNoOther) {
  std::vector<std::string> names;
  Repository repository = full_delegation(&names);
  ASSERT_GT(names.size(), 1100u);
  for (size_t i = names.size(); i-- > 0;)
    if (i % 2 == 0 || i == names.size() - 1) repository.index.push_back(row_named(names[i]));
  expect_outcome(run_index_command(repository), "");

  for (const std::string &stranger : {"p" + std::to_string(names.size()), std::string("q0"),
                                      std::string("p")}) {
    Repository with_stranger = repository;
    with_stranger.index.push_back(row_named(stranger));
    expect_outcome(run_index_command(with_stranger), "package name/version");
  }
}

TEST(FullDelegation, RefusesARepeatedName) {
  std::vector<std::string> names;
  Repository repository = full_delegation(&names);
  expect_outcome(run_delegation_command(repository), "");
  for (size_t repeated : {size_t{0}, names.size() / 2, names.size() - 2}) {
    Repository with_repeat = repository;
    with_repeat.delegation.back()[1] = names[repeated];
    expect_outcome(run_delegation_command(with_repeat), "delegated package");
  }
}

// More rows than the table holds never fit in the byte budget.
TEST(IndexLimits, ShortestRowsRunOutOfBytesFirst) {
  Repository repository;
  repository.index.resize(1);
  for (int i = 1; i <= 1024; ++i)
    repository.index.push_back(hello_row(std::to_string(i), std::to_string(i)));
  expect_outcome(run_index_command(repository), "metadata byte limit");
}

}  // namespace
