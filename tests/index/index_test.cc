// Repository indexes through the "index" command: the valid example, then
// one change per case with the message it must give.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

Change header(size_t column, const std::string &value) {
  return [=](Repository &r) { r.header()[column] = value; };
}
Change cell(size_t row, size_t column, const std::string &value) {
  return [=](Repository &r) { r.row(row)[column] = value; };
}
Change dependencies(const std::string &value) { return cell(1, kDependencies, value); }
Change caller(std::string Repository::*argument, const std::string &value) {
  return [=](Repository &r) { r.*argument = value; };
}
// Generated, expiry and NOW; a delegation valid until 9999999999 when wide.
Change window(const std::string &generated, const std::string &expiry, const std::string &now,
              bool wide = false) {
  return [=](Repository &r) {
    r.header()[kGenerated] = generated;
    r.header()[kExpiry] = expiry;
    r.now = now;
    if (wide) r.delegation[0][5] = "9999999999";
    for (size_t row = 1; row < r.index.size(); ++row) r.row(row)[kDate] = "100";
  };
}
Line hello_row(const std::string &version, const std::string &rank) {
  return package_row("hello", version, rank, digest2, "1", "-", "x", "100");
}
Change add_rows(const Lines &rows) {
  return [=](Repository &r) { r.index.insert(r.index.end(), rows.begin(), rows.end()); };
}

TEST(Index, EachChangeGivesItsMessage) {
  const std::string trusted = "trusted context", identity = "index identity/ABI/delegation";
  const std::string serial = "index serial/epoch", validity = "index validity";
  const std::string rank_size = "package rank/size", file = "package filename/system";
  const std::string platform = "package platform", texts = "description/upstream/date";
  const std::string syntax = "dependency syntax", token = "dependency token/self dependency";
  const std::string duplicate = "duplicate version/rank", t64(64, 't');
  const std::string text512(512, 'd'), url512 = "https://" + std::string(504, 'u');
  expect_cases(
      {
          {"WorkedExample", [](Repository &) {}, ""},
          {"HeaderOnly", [](Repository &r) { r.index.resize(1); }, ""},
          // The delegation is judged first, whatever the index holds.
          {"DelegationFirst", [](Repository &r) { r.delegation.resize(2); r.index.clear(); r.repo = ""; }, "empty delegation"},
          {"RepoNotDelegated", caller(&Repository::repo, "other"), trusted},
          {"RepoNotToken", caller(&Repository::repo, "core/"), trusted},
          {"AbiOther", caller(&Repository::abi, digest1), trusted},
          {"DelegShaUpperCase", [](Repository &r) { r.header()[kDelegationSha] = r.deleg_sha = "78544670B" + delegation_digest.substr(9); }, trusted},
          {"DelegShaOtherThanHeader", caller(&Repository::deleg_sha, digest1), identity},
          {"EmptyIndex", [](Repository &r) { r.index.clear(); }, "index header"},
          {"HeaderNineColumns", [](Repository &r) { r.header().pop_back(); }, "index header"},
          {"Magic", header(0, "VESK-INDEX2"), "index header"},
          {"HeaderRepo", header(2, "core2"), identity},
          {"HeaderSystem", header(5, "0.2"), identity},
          {"SerialSyntax", header(kSerial, "4x"), "integer syntax"},
          {"SerialLargest", header(kSerial, "999999999"), ""},
          {"SerialTooLarge", header(kSerial, "1000000000"), serial},
          {"EpochOther", header(kEpoch, "4"), serial},
          {"EpochLeadingZeros", header(kEpoch, "003"), ""},
          // Validity: not-before <= generated <= NOW < expiry <= not-after, at most 604800 s.
          {"GeneratedAtNotBefore", window("100", "700", "500"), ""},
          {"GeneratedBeforeNotBefore", window("99", "700", "500"), validity},
          {"GeneratedAtNow", window("500", "700", "500"), ""},
          {"GeneratedAfterNow", window("501", "700", "500"), validity},
          {"NowJustBeforeExpiry", window("450", "700", "699"), ""},
          {"NowAtExpiry", window("450", "700", "700"), validity},
          {"ExpiryAtNotAfter", window("450", "900", "500"), ""},
          {"ExpiryAfterNotAfter", window("450", "901", "500"), validity},
          {"SevenDays", window("1000", "605800", "1000", true), ""},
          {"SevenDaysAndASecond", window("1000", "605801", "1000", true), validity},
          {"LargestTimes", window("9999999000", "9999999999", "9999999998", true), ""},
          {"FourteenColumns", [](Repository &r) { r.row(3).pop_back(); }, "package column count"},
          {"NameNotDelegated", cell(3, kName, "hello-docs"), "package name/version"},
          {"VersionR0", cell(1, kVersion, "2.12+r0"), "package name/version"},
          {"RankLargest", cell(1, kRank, "99999999"), ""},
          {"RankTooLarge", cell(1, kRank, "100000000"), rank_size},
          {"RankZero", cell(1, kRank, "0"), rank_size},
          {"SizeLargest", cell(1, kSize, "35651584"), ""},
          {"SizeTooLarge", cell(1, kSize, "35651585"), rank_size},
          {"SizeZero", cell(1, kSize, "0"), rank_size},
          {"DigestUpperCase", [](Repository &r) { r.row(1)[kFilename] = (r.row(1)[kDigest] = "CD429" + digest1.substr(5)) + ".vesk"; }, "package digest"},
          {"FilenameExtension", cell(1, kFilename, digest1 + ".tar"), file},
          {"FilenameOtherDigest", cell(1, kFilename, digest2 + ".vesk"), file},
          {"System", cell(1, kSystem, "0.10"), file},
          {"Architecture", cell(1, kArchitecture, "i686"), platform},
          {"Library", cell(1, kLibrary, "uclibc"), platform},
          {"RowAbi", cell(1, kRowAbi, digest1), platform},
          {"Profile", cell(1, kProfile, "pentium"), platform},
          {"Description512", cell(1, kDescription, text512), ""},
          {"Description513", cell(1, kDescription, text512 + "d"), texts},
          {"DescriptionEmpty", cell(1, kDescription, ""), texts},
          {"Upstream512", cell(1, kUpstream, url512), ""},
          {"Upstream513", cell(1, kUpstream, url512 + "u"), texts},
          {"UpstreamHttp", cell(1, kUpstream, "http://hello.example/"), texts},
          {"DateAtGenerated", cell(2, kDate, "450"), ""},
          {"DateAfterGenerated", cell(2, kDate, "451"), texts},
          // Dependencies: "-", or name=value entries separated by single spaces.
          {"TwoEntriesOneUndelegated", dependencies("a=1 libfoo=2.0-r1_x"), ""},
          {"EmptyDependencies", dependencies(""), "empty dependency"},
          {"TwoSpaces", dependencies("a=1  b=2"), "dependency spacing"},
          {"TrailingSpace", dependencies("a=1 "), "dependency spacing"},
          {"LeadingSpace", dependencies(" a=1"), syntax},
          {"BareName", dependencies("a"), syntax},
          {"NoName", dependencies("=1"), syntax},
          {"NoValue", dependencies("a="), syntax},
          {"DoubleEquals", dependencies("a==1"), token},
          {"SelfDependency", dependencies("hello=2"), token},
          {"NameNotToken", dependencies("-a=1"), token},
          {"Tokens64", dependencies(t64 + "=" + t64), ""},
          {"Name65", dependencies(t64 + "t=1"), "dependency token length"},
          {"Value65", dependencies("a=" + t64 + "t"), "dependency token length"},
          // Two rows of one name differ in version text and in rank value.
          {"SecondRowRankSeven", cell(2, kRank, "7"), duplicate},
          {"VersionTextDiffers", add_rows({hello_row("2.110", "5")}), ""},
          {"SameVersion", add_rows({hello_row("2.11", "5")}), duplicate},
          {"RankWithZeros", add_rows({hello_row("1.0", "5"), hello_row("1.00", "005")}), duplicate},
          {"OtherName", add_rows({package_row("hello-doc", "2.11", "6", digest2, "1", "-", "x", "100")}), ""},
      },
      run_index_command);
}

// Rows of one name, versions 1.N and ranks N, whose descriptions pad the
// index to exactly 262144 bytes.
TEST(Index, QuarterMebibyteAndOneByteMore) {
  Repository repository;
  repository.index.resize(1);
  size_t size = 262144 - repository.index_text().size();
  for (size_t count = 1; size > 0; ++count) {
    Line row = hello_row("1." + std::to_string(count), std::to_string(count));
    size_t shortest = join({row}).size();  // with a one-byte description
    size_t line = std::min(shortest + 511, size);
    if (size - line > 0 && size - line < shortest + 20) line = size - shortest - 20;
    row[kDescription] = std::string(line - shortest + 1, 'd');
    repository.index_tail += join({row});
    size -= line;
  }
  ASSERT_EQ(repository.index_text().size(), 262144u);
  expect_index(run_index_command(repository), "");
  repository.index_tail += "\n";
  expect_index(run_index_command(repository), "metadata byte limit");
}

// A first row of 4096 and 4097 bytes, its dependency list "d=1 d=1 ... d=vvv"
// taking up what the other columns leave.
TEST(Index, LinesOf4096And4097Bytes) {
  for (size_t length : {4096, 4097}) {
    Repository repository;
    repository.row(1)[kDependencies] = "";
    size_t list = length - (join({repository.row(1)}).size() - 1), last_value = (list - 3) % 4 + 1;
    std::string text;
    for (size_t i = 0; i < (list - 2 - last_value) / 4; ++i) text += "d=1 ";
    repository.row(1)[kDependencies] = text + "d=" + std::string(last_value, 'v');
    ASSERT_EQ(join({repository.row(1)}).size(), length + 1);
    expect_index(run_index_command(repository), length == 4096 ? "" : "line length");
  }
}

// The duplicate rule and the delegated names are looked up by hash; texts
// whose FNV-1a hashes agree (n512789 and n749192, 40189 and 797186) must
// still be told apart.
TEST(Index, TextsOfOneHashStayApart) {
  auto delegate = [](Repository &r, const std::string &name) {
    r.delegation.push_back({"package", name});
  };
  auto row = [](const std::string &name, const std::string &version, const std::string &rank) {
    return package_row(name, version, rank, digest2, "1", "-", "x", "100");
  };
  expect_cases(
      {
          {"Names", [&](Repository &r) {
             delegate(r, "n512789");
             delegate(r, "n749192");
             r.index.push_back(row("n512789", "1", "1"));
             r.index.push_back(row("n749192", "1", "1"));
           }, ""},
          {"NameNotDelegated", [&](Repository &r) {
             delegate(r, "n512789");
             r.index.push_back(row("n749192", "1", "1"));
           }, "package name/version"},
          {"Versions", add_rows({hello_row("40189", "40"), hello_row("797186", "41")}), ""},
          {"VersionsSameRank", add_rows({hello_row("40189", "40"), hello_row("797186", "40")}),
           "duplicate version/rank"},
      },
      run_index_command);
}

// A delegation that fills its byte budget with names p0, p1, ..., and an
// index without rows: however full the table of delegated names, each name
// is found and no other, and a repeated one is refused.
TEST(Index, FullDelegationFindsEveryNameAndNoOther) {
  Repository repository;
  repository.delegation.resize(2);
  repository.index.resize(1);
  std::vector<std::string> names;
  while (repository.delegation_text().size() + 14 <= 16384) {
    names.push_back("p" + std::to_string(names.size()));
    repository.delegation.push_back({"package", names.back()});
  }
  ASSERT_GT(names.size(), 1100u);
  auto row = [](const std::string &name) {
    return package_row(name, "1", "1", digest2, "1", "-", "x", "100");
  };
  for (size_t i = names.size(); i-- > 0;)
    if (i % 2 == 0 || i == names.size() - 1) repository.index.push_back(row(names[i]));
  expect_index(run_index_command(repository), "");

  for (const std::string &stranger : {"p" + std::to_string(names.size()), std::string("q0"),
                                      std::string("p")}) {
    Repository with_stranger = repository;
    with_stranger.index.push_back(row(stranger));
    expect_index(run_index_command(with_stranger), "package name/version");
  }
  for (size_t repeated : {size_t{0}, names.size() / 2, names.size() - 2}) {
    Repository with_repeat = repository;
    with_repeat.delegation.back()[1] = names[repeated];
    expect_index(run_delegation_command(with_repeat), "delegated package");
  }
}

}  // namespace
