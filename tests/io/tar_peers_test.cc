// Archives written by GNU tar and bsdtar: the packaging recipe is
// accepted, and each default that breaks a rule is refused.
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;

namespace {

// The packaging recipe, word for word as documented: run in the package
// directory, writes the archive "$out".
const std::string set_modes = R"(chmod 0644 meta files
tab=$(printf '\t')
while IFS=$tab read -r _ mode _ _ path; do chmod "$mode" "data/$path"; done < files
)";
const std::string list_members =
    "{ echo meta; echo files; cut -f5 files | sed 's|^|data/|'; } |\n  ";
const std::string gnu_tar =
    "tar --format=ustar --owner=0 --group=0 --numeric-owner --no-recursion --hard-dereference -b1 "
    "-cf \"$out\" -T -\n";
const std::string bsdtar = "bsdtar --format ustar --uid 0 --gid 0 -n -b 1 -cf \"$out\" -T -\n";

// 19 blocks before the end marker: a writer that fills 20-block records
// leaves 21 zero blocks.
const std::string meta_text = "format=1\nname=hello\n" + std::string(580, '=') + "\n";
const std::vector<Payload> payloads = {{"usr/local/bin/hello", "0755", "hello\n"},
                                       {"usr/local/share/blob", "0644", std::string(2500, 'b')},
                                       {"usr/local/share/blob2", "0644", std::string(2500, 'c')}};

struct PeerCase {
  std::string name;
  std::string prepare;  // run in the package directory before the writer
  std::string writer;   // run in the package directory; writes "$out"
  std::string message;  // empty: accepted
  bool modes_set = true;
  bool with_xattr = false;
};

void PrintTo(const PeerCase &c, std::ostream *out) { *out << c.name; }

// The files as a packager's umask might have left them, modes and all.
void write_package(const std::string &pkg) {
  make_dir(pkg);
  write_file(pkg + "/meta", meta_text, 0664);
  write_file(pkg + "/files", manifest_text(payloads), 0600);
  ASSERT_EQ(
      shell("mkdir -p " + pkg + "/data/usr/local/bin " + pkg + "/data/usr/local/share").status, 0);
  for (const Payload &p : payloads) write_file(pkg + "/data/" + p.path, p.data, 0666);
}

class TarPeer : public ::testing::TestWithParam<PeerCase> {};

TEST_P(TarPeer, ArchiveIsJudgedByTheRules) {
  const PeerCase &c = GetParam();
  TempDir dir;
  std::string pkg = dir / "pkg";
  write_package(pkg);
  if (c.with_xattr)
    ASSERT_EQ(setxattr((pkg + "/data/usr/local/bin/hello").c_str(), "user.note", "x", 1, 0), 0)
        << "the file system of the test directory must take user extended attributes";
  std::string script = "set -e\ncd " + pkg + "\nout=" + dir / "pkg.tar" + "\n" + c.prepare + "\n" +
                       (c.modes_set ? set_modes : "") + c.writer;
  RunResult written = shell(script);
  ASSERT_EQ(written.status, 0) << script;

  std::string stage = dir / "stage";
  make_dir(stage);
  RunResult r = run_io({"unpack"}, {.stdin_path = dir / "pkg.tar", .cwd = stage});
  EXPECT_EQ(r.err, c.message.empty() ? "" : io_failure(c.message));
  EXPECT_EQ(r.status, c.message.empty() ? 0 : 1);
  if (!c.message.empty()) return;
  EXPECT_EQ(read_file(stage + "/meta"), meta_text);
  EXPECT_EQ(read_file(stage + "/files"), manifest_text(payloads));
  for (const Payload &p : payloads) {
    EXPECT_TRUE(read_file(stage + "/data/" + p.path) == read_file(pkg + "/data/" + p.path))
        << p.path;
    EXPECT_EQ(mode_of(stage + "/data/" + p.path), p.mode == "0755" ? 0755u : 0644u) << p.path;
  }
}

const std::string links = "links/extensions/types forbidden";
const std::string hard_link = "ln -f data/usr/local/share/blob data/usr/local/share/blob2";

INSTANTIATE_TEST_SUITE_P(
    Writers, TarPeer,
    ::testing::Values(
        PeerCase{"GnuRecipe", "", list_members + gnu_tar, ""},
        PeerCase{"GnuRecipeStoresHardLinksAsFiles", hard_link, list_members + gnu_tar, ""},
        PeerCase{"BsdtarRecipe", "", list_members + bsdtar, ""},
        PeerCase{"BsdtarRecipeDropsExtendedAttributes", "", list_members + bsdtar, "", true, true},
        // GNU tar's defaults: its own format, pax headers, 20-block records,
        // hard links, directories, "./" names, the file owner, disk modes.
        PeerCase{"GnuDefaultFormat", "",
                 list_members + "tar --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -",
                 "ustar required"},
        PeerCase{"GnuPosixFormat", "",
                 list_members +
                     "tar --format=posix --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -",
                 links},
        PeerCase{"GnuDefaultRecord", "",
                 list_members +
                     "tar --format=ustar --owner=0 --group=0 --no-recursion -cf \"$out\" -T -",
                 "excess tar padding"},
        PeerCase{"GnuHardLink", hard_link,
                 list_members +
                     "tar --format=ustar --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -",
                 links},
        PeerCase{"GnuDirectoryMembers", "",
                 "tar --format=ustar --owner=0 --group=0 -b1 -cf \"$out\" meta files data", links},
        PeerCase{"GnuDotSlashNames", "",
                 "{ echo meta; echo files; cut -f5 files | sed 's|^|data/|'; } | sed 's|^|./|' |"
                 "tar --format=ustar --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -",
                 "unexpected/unsafe archive path"},
        PeerCase{"GnuFileOwner", "chown -R 1000:1000 .",
                 list_members + "tar --format=ustar --no-recursion -b1 -cf \"$out\" -T -",
                 "non-root archive owner"},
        PeerCase{"GnuDiskModes", "", list_members + gnu_tar, "meta limit/mode", false},
        // bsdtar's defaults: pax headers when a file has extended
        // attributes, 20-block records on a pipe, hard links, recursion.
        PeerCase{"BsdtarDefaultFormat", "",
                 list_members + "bsdtar --uid 0 --gid 0 -n -b 1 -cf \"$out\" -T -", links, true,
                 true},
        PeerCase{"BsdtarDefaultBlockOnPipe", "",
                 list_members + "bsdtar --format ustar --uid 0 --gid 0 -n -cf - -T - > \"$out\"",
                 "excess tar padding"},
        PeerCase{"BsdtarHardLink", hard_link, list_members + bsdtar, links},
        PeerCase{"BsdtarRecursion", "",
                 "bsdtar --format ustar --uid 0 --gid 0 -b 1 -cf \"$out\" meta files data", links}),
    [](const auto &info) { return info.param.name; });

}  // namespace
