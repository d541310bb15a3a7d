// Package archives through "unpack": what is accepted, what is refused
// with which message, and what is left in the stage directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;
using namespace std::string_literals;

namespace {

RunResult unpack_into(const std::string &stage, const std::string &archive) {
  return run_io({"unpack"}, {.stdin_data = archive, .cwd = stage});
}

// Every entry below the stage: type, mode, owner, size unless a directory, path.
std::string tree_of(const std::string &stage) {
  return shell("cd '" + stage + "' && find . -mindepth 1 -type d -printf '%y %m %U %p\\n' -o " +
               "-printf '%y %m %U %s %p\\n' | LC_ALL=C sort").out;
}

std::string with(size_t member, std::string TarHeader::*field, const std::string &value) {
  return Package().set(member, field, value).bytes();
}

// The sum a signed-char reader would compute; only the unsigned one counts.
std::string signed_sum_archive() {
  Package p;
  p.set(0, &TarHeader::uname, "\xff\xfe\xfd").set(0, &TarHeader::chksum, "        ");
  int sum = 0;
  for (char c : p.member(0).substr(0, tar_block)) sum += static_cast<signed char>(c);
  return p.set(0, &TarHeader::chksum, octal(static_cast<unsigned>(sum), 6) + "\0 "s).bytes();
}

TEST(Unpack, EachArchiveGivesItsMessage) {
  const std::string links = "links/extensions/types forbidden", bad_number = "invalid tar number";
  const std::string bad_path = "unexpected/unsafe archive path", bad_meta = "non-ASCII metadata";
  const std::string mismatch = "payload size/mode mismatch", refused = "manifest type/mode/path";
  const Package p;
  std::string bad_padding = p.member(2);
  bad_padding[tar_block + 100] = 'x';
  const std::vector<Payload> format2 = {{"usr/bin/hello", "0755", "hello\n"}};
  const struct {
    const char *name;
    std::string archive, message;
  } cases[] = {
      {"TwentyZeroBlocks", Package().end(20).bytes(), ""},
      {"TwentyOneZeroBlocks", Package().end(21).bytes(), "excess tar padding"},
      {"OneZeroBlock", Package().end(1).bytes(), "incomplete archive"},
      {"MissingLastPayload", p.head(4) + zero_blocks(2), "incomplete archive"},
      {"ZeroBlockBetweenMembers", p.head(2) + zero_blocks(1) + p.member(2), "content after end marker"},
      {"HeaderCutShort", p.head(2) + p.member(2).substr(0, 300), "truncated header"},
      {"NonzeroPadding", p.head(2) + bad_padding + zero_blocks(2), "nonzero padding"},
      {"SignedChecksum", signed_sum_archive(), "tar header checksum"},
      {"HighBytesCountUnsigned", with(0, &TarHeader::uname, "\xff\xfe"), ""},
      {"VersionWithNul", with(0, &TarHeader::version, "0\0"s), "ustar required"},
      {"TypeNul", with(0, &TarHeader::typeflag, "\0"s), links},
      {"TypeSymlink", with(2, &TarHeader::typeflag, "2"), links},
      {"Linkname", with(2, &TarHeader::linkname, "hello"), links},
      {"Prefix", with(0, &TarHeader::prefix, "pkg"), links},
      {"NameWithoutNul", with(0, &TarHeader::name, std::string(100, 'm')), links},
      {"NameOf99Bytes", with(0, &TarHeader::name, std::string(99, 'm')), bad_path},
      {"NumberSpacesAndNuls", with(0, &TarHeader::mode, "  644 \0 \0"s), ""},
      {"NumberOfEightDigits", with(0, &TarHeader::mode, "00000644"), ""},
      {"DigitEight", with(0, &TarHeader::mode, "0000648"), bad_number},
      {"SpaceBetweenDigits", with(0, &TarHeader::mode, "06 44"), bad_number},
      {"DigitAfterNul", with(0, &TarHeader::mode, "0644\0007"s), bad_number},
      {"BaseTwoFiftySix", with(0, &TarHeader::size, "\x80\0\0\0\0\0\0\0\0\0\0\x09"s), bad_number},
      {"BoundThenOneMoreDigit", with(0, &TarHeader::size, "2000000007"), "meta limit/mode"},
      {"AboveBoundBeforeLastDigit", with(0, &TarHeader::size, "2000000010"), "tar number too large"},
      {"GidOfRootOwner", with(2, &TarHeader::gid, "0001750"), "non-root archive owner"},
      {"Meta4096", Package("format=1\n" + std::string(4087, 'm')).bytes(), ""},
      {"Meta4097", Package("format=1\n" + std::string(4088, 'm')).bytes(), "meta limit/mode"},
      {"Files262144", Package().data(1, std::string(262144, 'x')).bytes(), "manifest limit/newline"},
      {"Files262145", Package().data(1, std::string(262145, 'x')).bytes(), "files limit/mode"},
      {"FilesMode0755", with(1, &TarHeader::mode, "0000755"), "files limit/mode"},
      {"PayloadSize", Package().data(2, "hello!\n").bytes(), mismatch},
      {"PayloadMode", with(2, &TarHeader::mode, "0000644"), mismatch},
      {"ExtraPayload", p.head(5) + tar_member({.name = "data/usr/local/share/zzz"}, "") + zero_blocks(2), "extra payload"},
      {"FilesFirst", with(0, &TarHeader::name, "files"), bad_path},
      {"MetaDelete", Package("format=1\n\x7f").bytes(), bad_meta},
      {"MetaEmpty", Package("").bytes(), "metadata format"},
      {"Format1RefusesFormat2Paths", Package("format=1\n", format2).bytes(), refused},
      {"Format2WithoutLineFeed", Package("format=2", format2).bytes(), refused},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir stage;
    expect_io(unpack_into(stage.path(), c.archive), c.message);
  }
}

// Every entry the stage holds after a run, and the bytes of one file: an
// accepted package is there exactly; a refused one leaves what it wrote,
// private until complete, and nothing already there is followed or replaced.
TEST(Unpack, WhatEachRunLeavesInTheStage) {
  std::vector<Payload> format1 = sample_payloads;
  format1[1].data = std::string(700, '\x01') + "\xff";
  const std::vector<Payload> format2 = {{"usr/bin/hello", "0755", "hello\n"},
                                        {"usr/share/hello/big", "0644", std::string(9000, 'b')}};
  const Package cut("format=1\n", {{"usr/local/share/big", "0644", std::string(5000, 'b')}});
  const std::vector<Payload> nested = {{"usr/local/bin/a", "0755", "a"},
                                       {"usr/local/bin/a/b", "0644", "b"}};
  const std::string local_bin = "d 755 0 ./data\nd 755 0 ./data/usr\nd 755 0 ./data/usr/local\n"
                                "d 755 0 ./data/usr/local/bin\n";
  const struct {
    std::string setup, archive, message, tree, file, bytes;  // setup: run in the stage
  } cases[] = {
      {"", Package("format=1\nname=hello\n", format1).bytes(), "",
       local_bin + "d 755 0 ./data/usr/local/share\nd 755 0 ./data/usr/local/share/doc\n"
       "d 755 0 ./data/usr/local/share/doc/hello\nf 644 0 0 ./data/usr/local/share/empty\n"
       "f 644 0 20 ./meta\nf 644 0 299 ./files\nf 644 0 701 ./data/usr/local/share/doc/hello/README\n"
       "f 755 0 6 ./data/usr/local/bin/hello\n",
       "data/usr/local/share/doc/hello/README", format1[1].data},
      {"", Package("format=2\n", format2).bytes(), "",
       "d 755 0 ./data\nd 755 0 ./data/usr\nd 755 0 ./data/usr/bin\nd 755 0 ./data/usr/share\n"
       "d 755 0 ./data/usr/share/hello\nf 644 0 185 ./files\nf 644 0 9 ./meta\n"
       "f 644 0 9000 ./data/usr/share/hello/big\nf 755 0 6 ./data/usr/bin/hello\n",
       "data/usr/share/hello/big", format2[1].data},
      {"", Package("format=1\n\tx\n").bytes(), "non-ASCII metadata", "f 600 0 0 ./meta\n", "meta", ""},
      {"", cut.head(2) + cut.member(2).substr(0, 512 + 4500), "truncated input",
       "d 755 0 ./data\nd 755 0 ./data/usr\nd 755 0 ./data/usr/local\nd 755 0 ./data/usr/local/share\n"
       "f 600 0 4096 ./data/usr/local/share/big\nf 644 0 9 ./meta\nf 644 0 97 ./files\n",
       "data/usr/local/share/big", std::string(4096, 'b')},
      {"", Package("format=1\n", nested).bytes(), "payload parent",
       local_bin + "f 644 0 182 ./files\nf 644 0 9 ./meta\nf 755 0 1 ./data/usr/local/bin/a\n",
       "data/usr/local/bin/a", "a"},
      {"ln -s elsewhere meta", Package().bytes(), "payload create", "l 777 0 9 ./meta\n", "", ""},
      {"mkdir real && ln -s real data", Package().bytes(), "payload parent",
       "d 755 0 ./real\nf 644 0 299 ./files\nf 644 0 9 ./meta\nl 777 0 4 ./data\n", "", ""},
      {"mkdir -p data/usr/local/bin && echo old > data/usr/local/bin/hello", Package().bytes(),
       "payload create", local_bin + "f 644 0 299 ./files\nf 644 0 4 ./data/usr/local/bin/hello\n"
       "f 644 0 9 ./meta\n", "data/usr/local/bin/hello", "old\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.setup + " " + c.message);
    TempDir stage;
    ASSERT_EQ(shell("cd '" + stage.path() + "' || exit 1; " + c.setup).status, 0);
    expect_io(unpack_into(stage.path(), c.archive), c.message);
    EXPECT_EQ(tree_of(stage.path()), c.tree);
    if (!c.file.empty()) EXPECT_TRUE(read_file(stage / c.file) == c.bytes);
  }
}

TEST(Unpack, SecondRunStopsAtMetaAndChangesNothing) {
  TempDir stage;
  expect_io(unpack_into(stage.path(), Package().bytes()), "");
  std::string before = tree_of(stage.path());
  expect_io(unpack_into(stage.path(), Package("format=1\nother\n").bytes()), "payload create");
  EXPECT_EQ(tree_of(stage.path()), before);
  EXPECT_EQ(read_file(stage / "meta"), "format=1\n");
}

// The largest package that fits the archive limit, written with its zero
// payload as a hole: 1023 one-byte files (two blocks each) and one large
// file fill it to the block; `zeros` end blocks follow.
std::string limit_archive(const TempDir &dir, size_t zeros) {
  const size_t limit_blocks = 34603008 / tar_block;
  std::string manifest, members;
  char path[64];
  for (int i = 0; i < 1023; ++i) {
    snprintf(path, sizeof path, "usr/local/share/p%04d", i);
    manifest += manifest_line(path, "0644", 1);
    members += tar_member(member_named("data/"s + path, "0644", "").header, "\0"s);
  }
  const std::string big = "usr/local/share/zbig";
  size_t manifest_blocks = (manifest.size() + manifest_line(big, "0644", 1e7).size() + 511) / 512;
  size_t big_blocks = limit_blocks - 2 - (1 + manifest_blocks) - 2 * 1023 - 1 - 2;
  manifest += manifest_line(big, "0644", big_blocks * tar_block);
  std::string archive = dir / ("archive" + std::to_string(zeros));
  write_file(archive, Package().head(1) +
                          tar_member(member_named("files", "0644", "").header, manifest) + members +
                          tar_header(member_named("data/" + big, "0644", "").header,
                                     big_blocks * tar_block));
  EXPECT_EQ(truncate(archive.c_str(), (limit_blocks - 2 + zeros) * tar_block), 0);
  return archive;
}

TEST(Unpack, LargestArchivePassesAndOneBlockMoreFails) {
  TempDir dir, stage, second_stage;
  std::string largest = limit_archive(dir, 2);
  struct stat status;
  ASSERT_EQ(stat(largest.c_str(), &status), 0);
  ASSERT_EQ(status.st_size, 34603008);
  expect_io(run_io({"unpack"}, {.stdin_path = largest, .cwd = stage.path()}), "");
  ASSERT_EQ(lstat((stage / "data/usr/local/share/zbig").c_str(), &status), 0);
  EXPECT_GT(status.st_size, 33000000);
  expect_io(run_io({"unpack"}, {.stdin_path = limit_archive(dir, 3), .cwd = second_stage.path()}),
            "archive limit");
}

}  // namespace
