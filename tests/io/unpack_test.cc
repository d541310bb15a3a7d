// Package archives through "unpack": what is accepted, what is refused
// with which message, and what is left in the stage directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;
using namespace std::string_literals;

namespace {

// The sum a signed-char reader would compute; only the unsigned one counts.
std::string signed_checksum(TarHeader header, size_t data_size) {
  header.chksum = "        ";
  std::string block = tar_header(header, data_size);
  int sum = 0;
  for (char c : block) sum += static_cast<signed char>(c);
  return octal(static_cast<unsigned>(sum), 6) + "\0 "s;
}

RunResult unpack_into(const std::string &stage, const std::string &archive) {
  return run_io({"unpack"}, {.stdin_data = archive, .cwd = stage});
}

// Every entry below the stage: type, mode, owner, size of files, path.
std::string tree_of(const std::string &stage) {
  return shell("cd '" + stage +
               "' && find . -mindepth 1 -type d -printf '%y %m %U %p\\n' -o "
               "-printf '%y %m %U %s %p\\n' | LC_ALL=C sort")
      .out;
}

void expect_failure(const RunResult &r, const std::string &message) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure(message));
  EXPECT_EQ(r.out, "");
}

struct UnpackCase {
  std::string name;
  std::string archive;
  std::string message;  // empty: accepted
};

// The sample package with one header field of one member replaced.
std::string with(size_t member, std::string TarHeader::*field, const std::string &value) {
  return Package().set(member, field, value).bytes();
}

void PrintTo(const UnpackCase &c, std::ostream *out) { *out << c.name; }

class Unpack : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(Unpack, GivesItsMessage) {
  const UnpackCase &c = GetParam();
  TempDir stage;
  RunResult r = unpack_into(stage.path(), c.archive);
  if (c.message.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
  } else {
    expect_failure(r, c.message);
  }
}

const std::string links = "links/extensions/types forbidden";
const std::string bad_number = "invalid tar number";
const std::string mismatch = "payload size/mode mismatch";
const std::string bad_path = "unexpected/unsafe archive path";
const std::string non_ascii = "non-ASCII metadata";
const std::string refused_path = "manifest type/mode/path";
const std::string meta_rule = "meta limit/mode";

std::string with_bad_padding() {
  Package p;
  std::string hello = p.member(2);
  hello[tar_block + 6 + 100] = 'x';
  return p.head(2) + hello + zero_blocks(2);
}

std::string with_extra_member() {
  Package p;
  return p.head(5) + tar_member(member_named("data/usr/local/share/zzz", "0644", "").header, "") +
         zero_blocks(2);
}

std::string signed_sum_archive() {
  Package p;
  p.set(0, &TarHeader::uname, "\xff\xfe\xfd");
  return p.set(0, &TarHeader::chksum, signed_checksum(p.members[0].header, 9)).bytes();
}

const std::vector<Payload> format2_payloads = {{"usr/bin/hello", "0755", "hello\n"}};

INSTANTIATE_TEST_SUITE_P(
    Archives, Unpack,
    ::testing::Values(
        UnpackCase{"SamplePackage", Package().bytes()},
        UnpackCase{"TwentyZeroBlocks", Package().end(20).bytes()},
        UnpackCase{"EmptyInput", "", "incomplete archive"},
        UnpackCase{"OnlyZeroBlocks", zero_blocks(2), "incomplete archive"},
        UnpackCase{"OneZeroBlock", Package().end(1).bytes(), "incomplete archive"},
        UnpackCase{"TwentyOneZeroBlocks", Package().end(21).bytes(), "excess tar padding"},
        UnpackCase{"ZeroBlockBetweenMembers",
                   Package().head(2) + zero_blocks(1) + Package().member(2),
                   "content after end marker"},
        UnpackCase{"HeaderAfterEndMarker", Package().bytes() + Package().member(2),
                   "content after end marker"},
        UnpackCase{"PartialBlockAfterEndMarker", Package().bytes() + std::string(100, '\0'),
                   "truncated header"},
        UnpackCase{"HeaderCutShort", Package().head(2) + Package().member(2).substr(0, 300),
                   "truncated header"},
        UnpackCase{"DataCutShort", Package().head(2) + Package().member(2).substr(0, 512 + 3),
                   "truncated input"},
        UnpackCase{"PaddingCutShort", Package().head(2) + Package().member(2).substr(0, 512 + 16),
                   "truncated input"},
        UnpackCase{"NonzeroPadding", with_bad_padding(), "nonzero padding"},
        UnpackCase{"MissingLastPayload", Package().head(4) + zero_blocks(2), "incomplete archive"},
        UnpackCase{"OnlyMetaAndFiles", Package().head(2) + zero_blocks(2), "incomplete archive"},
        // The header as a whole: checksum, magic, type.
        UnpackCase{"WrongChecksum", with(0, &TarHeader::chksum, "0000000"), "tar header checksum"},
        UnpackCase{"ChecksumNotANumber", with(0, &TarHeader::chksum, "01x3456"), bad_number},
        UnpackCase{"SignedChecksum", signed_sum_archive(), "tar header checksum"},
        UnpackCase{"HighBytesCountUnsigned", with(0, &TarHeader::uname, "\xff\xfe")},
        UnpackCase{
            "ChecksumBeforeMagic",
            Package().set(0, &TarHeader::magic, "xxxxx").set(0, &TarHeader::chksum, "1").bytes(),
            "tar header checksum"},
        UnpackCase{"OldGnuMagic",
                   Package()
                       .set(0, &TarHeader::magic, "ustar ")
                       .set(0, &TarHeader::version, " \0"s)
                       .bytes(),
                   "ustar required"},
        UnpackCase{"VersionWithNul", with(0, &TarHeader::version, "0\0"s), "ustar required"},
        UnpackCase{"TypeNul", with(0, &TarHeader::typeflag, "\0"s), links},
        UnpackCase{"TypeDirectory", with(2, &TarHeader::typeflag, "5"), links},
        UnpackCase{"TypeSymlink", with(2, &TarHeader::typeflag, "2"), links},
        UnpackCase{"TypeHardLink", with(2, &TarHeader::typeflag, "1"), links},
        UnpackCase{"TypePaxHeader", with(0, &TarHeader::typeflag, "x"), links},
        UnpackCase{"TypeLongName", with(0, &TarHeader::typeflag, "L"), links},
        UnpackCase{"Linkname", with(2, &TarHeader::linkname, "hello"), links},
        UnpackCase{"Prefix", with(0, &TarHeader::prefix, "pkg"), links},
        UnpackCase{"NameWithoutNul", with(0, &TarHeader::name, std::string(100, 'm')), links},
        UnpackCase{"NameOf99Bytes", with(0, &TarHeader::name, std::string(99, 'm')), bad_path},
        // Numbers.
        UnpackCase{"LeadingSpaces", with(0, &TarHeader::mode, "   644 ")},
        UnpackCase{"NulsAndSpacesAfterDigits", with(0, &TarHeader::mode, "644 \0 \0 "s)},
        UnpackCase{"EightDigitsNoTerminator", with(0, &TarHeader::mode, "00000644")},
        UnpackCase{"EmptyOwnerFields",
                   Package().set(0, &TarHeader::uid, "").set(0, &TarHeader::gid, "").bytes()},
        UnpackCase{"SpaceOwnerFields", Package()
                                           .set(0, &TarHeader::uid, "        ")
                                           .set(0, &TarHeader::gid, "      ")
                                           .bytes()},
        UnpackCase{"EmptyModeIsZero", with(0, &TarHeader::mode, ""), meta_rule},
        UnpackCase{"DigitEight", with(0, &TarHeader::mode, "0000648"), bad_number},
        UnpackCase{"DigitNine", with(0, &TarHeader::mode, "9"), bad_number},
        UnpackCase{"SpaceBetweenDigits", with(0, &TarHeader::mode, "06 44"), bad_number},
        UnpackCase{"DigitAfterNul", with(0, &TarHeader::mode, "0644\0007"s), bad_number},
        UnpackCase{"BaseTwoFiftySix", with(0, &TarHeader::size, "\x80\0\0\0\0\0\0\0\0\0\0\x09"s),
                   bad_number},
        UnpackCase{"BoundThenOneMoreDigit", with(0, &TarHeader::size, "2000000007"), meta_rule},
        UnpackCase{"AboveBoundBeforeLastDigit", with(0, &TarHeader::size, "2000000010"),
                   "tar number too large"},
        UnpackCase{
            "SizeParsedBeforeMode",
            Package().set(0, &TarHeader::size, "2000000010").set(0, &TarHeader::mode, "9").bytes(),
            "tar number too large"},
        UnpackCase{"ModeParsedBeforeOwner",
                   Package().set(0, &TarHeader::mode, "9").set(0, &TarHeader::uid, "1750").bytes(),
                   bad_number},
        UnpackCase{"UidNotANumber", with(0, &TarHeader::uid, "0z"), bad_number},
        UnpackCase{"GidNotANumber", with(0, &TarHeader::gid, "0z"), bad_number},
        UnpackCase{"GidOfRootOwner", with(2, &TarHeader::gid, "0001750"), "non-root archive owner"},
        UnpackCase{
            "GidNotParsedForOtherOwner",
            Package().set(0, &TarHeader::uid, "0001750").set(0, &TarHeader::gid, "garbage").bytes(),
            "non-root archive owner"},
        // Member rules.
        UnpackCase{"Meta4096", Package("format=1\n" + std::string(4087, 'm')).bytes()},
        UnpackCase{"Meta4097", Package("format=1\n" + std::string(4088, 'm')).bytes(), meta_rule},
        UnpackCase{"MetaMode0600", with(0, &TarHeader::mode, "0000600"), meta_rule},
        UnpackCase{"MetaModeWithTypeBits", with(0, &TarHeader::mode, "0100644"), meta_rule},
        UnpackCase{"Files262144", Package().data(1, std::string(262144, 'x')).bytes(),
                   "manifest limit/newline"},
        UnpackCase{"Files262145", Package().data(1, std::string(262145, 'x')).bytes(),
                   "files limit/mode"},
        UnpackCase{"FilesMode0755", with(1, &TarHeader::mode, "0000755"), "files limit/mode"},
        UnpackCase{
            "FilesNotSorted",
            Package().data(1, manifest_text({sample_payloads[1], sample_payloads[0]})).bytes(),
            "manifest not sorted/duplicate"},
        UnpackCase{"PayloadSize", Package().data(2, "hello!\n").bytes(), mismatch},
        UnpackCase{"PayloadMode", with(2, &TarHeader::mode, "0000644"), mismatch},
        UnpackCase{"PayloadModeWithTypeBits", with(2, &TarHeader::mode, "0100755"), mismatch},
        UnpackCase{"ExtraPayload", with_extra_member(), "extra payload"},
        UnpackCase{"MetaWithDotSlash", with(0, &TarHeader::name, "./meta"), bad_path},
        UnpackCase{"FilesFirst", with(0, &TarHeader::name, "files"), bad_path},
        UnpackCase{"PayloadWithDotDot",
                   with(2, &TarHeader::name, "data/usr/local/../local/bin/hello"), bad_path},
        UnpackCase{"PayloadWithDoubleSlash", with(2, &TarHeader::name, "data/usr/local//bin/hello"),
                   bad_path},
        UnpackCase{"PayloadBelowPayload",
                   Package("format=1\n",
                           {{"usr/local/bin/a", "0644", "a"}, {"usr/local/bin/a/b", "0644", "b"}})
                       .bytes(),
                   "payload parent"},
        // "meta": its bytes and its first line.
        UnpackCase{"MetaTab", Package("format=1\n\tx\n").bytes(), non_ascii},
        UnpackCase{"MetaCarriageReturn", Package("format=1\r\n").bytes(), non_ascii},
        UnpackCase{"MetaDelete", Package("format=1\n\x7f").bytes(), non_ascii},
        UnpackCase{"MetaHighByte", Package("format=1\n\xc3\xa9").bytes(), non_ascii},
        UnpackCase{"MetaEmpty", Package("").bytes(), "metadata format"},
        UnpackCase{"Format2", Package("format=2\nname=hello\n", format2_payloads).bytes()},
        UnpackCase{"Format2WithoutLineFeed", Package("format=2", format2_payloads).bytes(),
                   refused_path},
        UnpackCase{"Format2WithSpace", Package("format=2 \n", format2_payloads).bytes(),
                   refused_path},
        UnpackCase{"Format1", Package("format=1\n", format2_payloads).bytes(), refused_path},
        UnpackCase{"Format2RefusesFormat1Paths", Package("format=2\n").bytes(), refused_path}),
    [](const auto &info) { return info.param.name; });

TEST(UnpackTree, Format1PackageLeavesExactlyItsFiles) {
  TempDir stage;
  Package package("format=1\nname=hello\n");
  package.data(3, std::string(700, '\x01') + "\xff");
  package.data(1,
               manifest_text({sample_payloads[0],
                              {"usr/local/share/doc/hello/README", "0644", std::string(701, 'x')},
                              sample_payloads[2]}));
  RunResult r = unpack_into(stage.path(), package.bytes());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree_of(stage.path()),
            "d 755 0 ./data\n"
            "d 755 0 ./data/usr\n"
            "d 755 0 ./data/usr/local\n"
            "d 755 0 ./data/usr/local/bin\n"
            "d 755 0 ./data/usr/local/share\n"
            "d 755 0 ./data/usr/local/share/doc\n"
            "d 755 0 ./data/usr/local/share/doc/hello\n"
            "f 644 0 0 ./data/usr/local/share/empty\n"
            "f 644 0 20 ./meta\n"
            "f 644 0 299 ./files\n"
            "f 644 0 701 ./data/usr/local/share/doc/hello/README\n"
            "f 755 0 6 ./data/usr/local/bin/hello\n");
  EXPECT_EQ(read_file(stage / "meta"), "format=1\nname=hello\n");
  EXPECT_EQ(read_file(stage / "files"), package.members[1].data);
  EXPECT_EQ(read_file(stage / "data/usr/local/bin/hello"), "hello\n");
  EXPECT_EQ(read_file(stage / "data/usr/local/share/doc/hello/README"), package.members[3].data);
}

TEST(UnpackTree, Format2PackageLeavesExactlyItsFiles) {
  TempDir stage;
  std::vector<Payload> payloads = {{"usr/bin/hello", "0755", "hello\n"},
                                   {"usr/share/hello/big", "0644", std::string(9000, 'b')}};
  RunResult r = unpack_into(stage.path(), Package("format=2\n", payloads).bytes());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree_of(stage.path()),
            "d 755 0 ./data\n"
            "d 755 0 ./data/usr\n"
            "d 755 0 ./data/usr/bin\n"
            "d 755 0 ./data/usr/share\n"
            "d 755 0 ./data/usr/share/hello\n"
            "f 644 0 185 ./files\n"
            "f 644 0 9 ./meta\n"
            "f 644 0 9000 ./data/usr/share/hello/big\n"
            "f 755 0 6 ./data/usr/bin/hello\n");
  EXPECT_EQ(read_file(stage / "data/usr/share/hello/big"), payloads[1].data);
}

// What an earlier step left in place decides the outcome.
struct StageCase {
  std::string name;
  std::string setup;  // shell commands run in the stage directory first
  std::string message;
};

void PrintTo(const StageCase &c, std::ostream *out) { *out << c.name; }

class UnpackIntoUsedStage : public ::testing::TestWithParam<StageCase> {};

TEST_P(UnpackIntoUsedStage, GivesItsMessage) {
  TempDir stage;
  ASSERT_EQ(shell("cd '" + stage.path() + "' && " + GetParam().setup).status, 0);
  expect_failure(unpack_into(stage.path(), Package().bytes()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, UnpackIntoUsedStage,
    ::testing::Values(StageCase{"MetaExists", "echo old > meta", "payload create"},
                      StageCase{"MetaIsDanglingSymlink", "ln -s elsewhere meta", "payload create"},
                      StageCase{"DataIsSymlink", "mkdir real && ln -s real data", "payload parent"},
                      StageCase{"DataIsFile", "touch data", "payload parent"},
                      StageCase{"PayloadExists",
                                "mkdir -p data/usr/local/bin && touch data/usr/local/bin/hello",
                                "payload create"}),
    [](const auto &info) { return info.param.name; });

TEST(UnpackLeftovers, SecondRunStopsAtMetaAndChangesNothing) {
  TempDir stage;
  ASSERT_EQ(unpack_into(stage.path(), Package().bytes()).status, 0);
  std::string before = tree_of(stage.path());
  expect_failure(unpack_into(stage.path(), Package("format=1\nother\n").bytes()), "payload create");
  EXPECT_EQ(tree_of(stage.path()), before);
  EXPECT_EQ(read_file(stage / "meta"), "format=1\n");
}

TEST(UnpackLeftovers, RefusedMetaStaysEmptyAndPrivate) {
  TempDir stage;
  expect_failure(unpack_into(stage.path(), Package("format=1\n\tx\n").bytes()), non_ascii);
  EXPECT_EQ(tree_of(stage.path()), "f 600 0 0 ./meta\n");
}

TEST(UnpackLeftovers, CutPayloadKeepsWholeChunksWrittenAndMode0600) {
  TempDir stage;
  Package package("format=1\n", {{"usr/local/share/big", "0644", std::string(5000, 'b')}});
  expect_failure(
      unpack_into(stage.path(), package.head(2) + package.member(2).substr(0, 512 + 4500)),
      "truncated input");
  EXPECT_EQ(mode_of(stage / "data/usr/local/share/big"), 0600u);
  EXPECT_EQ(read_file(stage / "data/usr/local/share/big"), std::string(4096, 'b'));
}

TEST(UnpackLeftovers, PayloadBelowPayloadKeepsTheFirst) {
  TempDir stage;
  Package package("format=1\n",
                  {{"usr/local/bin/a", "0755", "a"}, {"usr/local/bin/a/b", "0644", "b"}});
  expect_failure(unpack_into(stage.path(), package.bytes()), "payload parent");
  EXPECT_EQ(mode_of(stage / "data/usr/local/bin/a"), 0755u);
  EXPECT_EQ(read_file(stage / "data/usr/local/bin/a"), "a");
}

// The archive limit counts every block read. The largest package that
// fits is built on disk, its zero payload left as a hole: 1023 one-byte
// files (two blocks each) and one large file fill it to the block.
class ArchiveLimit : public ::testing::Test {
 protected:
  std::string write_archive(size_t zeros) {
    const size_t limit_blocks = 34603008 / tar_block;
    std::string manifest, members;
    char path[64];
    for (int i = 0; i < 1023; ++i) {
      snprintf(path, sizeof path, "usr/local/share/p%04d", i);
      manifest += manifest_line(path, "0644", 1);
      members += tar_member(member_named("data/"s + path, "0644", "").header, "\0"s);
    }
    const std::string big = "usr/local/share/zbig";
    size_t manifest_blocks =
        (manifest.size() + manifest_line(big, "0644", 10000000).size() + 511) / 512;
    size_t big_blocks = limit_blocks - 2 - (1 + manifest_blocks) - 2 * 1023 - 1 - 2;
    manifest += manifest_line(big, "0644", big_blocks * tar_block);
    std::string start =
        Package().head(1) + tar_member(member_named("files", "0644", "").header, manifest) +
        members +
        tar_header(member_named("data/" + big, "0644", "").header, big_blocks * tar_block);

    std::string archive = dir / "archive";
    write_file(archive, start);
    EXPECT_EQ(truncate(archive.c_str(), static_cast<off_t>((limit_blocks - 2 + zeros) * tar_block)),
              0);
    return archive;
  }

  TempDir dir;
};

TEST_F(ArchiveLimit, LargestArchivePasses) {
  std::string archive = write_archive(2);
  struct stat status;
  ASSERT_EQ(stat(archive.c_str(), &status), 0);
  ASSERT_EQ(status.st_size, 34603008);
  TempDir stage;
  RunResult r = run_io({"unpack"}, {.stdin_path = archive, .cwd = stage.path()});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(lstat((stage / "data/usr/local/share/zbig").c_str(), &status), 0);
  EXPECT_GT(status.st_size, 33000000);
}

TEST_F(ArchiveLimit, OneBlockMoreFails) {
  std::string archive = write_archive(3);
  TempDir stage;
  expect_failure(run_io({"unpack"}, {.stdin_path = archive, .cwd = stage.path()}), "archive limit");
}

}  // namespace
