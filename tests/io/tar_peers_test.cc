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
const std::string list = "{ echo meta; echo files; cut -f5 files | sed 's|^|data/|'; } | ";
const std::string gnu_recipe = list + "tar --format=ustar --owner=0 --group=0 --numeric-owner "
                               "--no-recursion --hard-dereference -b1 -cf \"$out\" -T -";
const std::string bsd_recipe =
    list + "bsdtar --format ustar --uid 0 --gid 0 -n -b 1 -cf \"$out\" -T -";
// The recipe's words less what a case leaves out.
const std::string gnu = "tar --format=ustar --owner=0 --group=0 --no-recursion ";
const std::string bsd = "bsdtar --format ustar --uid 0 --gid 0 ";
const std::string hard_link = "ln -f data/usr/local/share/blob data/usr/local/share/blob2";

// 19 blocks before the end marker: a writer that fills 20-block records
// leaves 21 zero blocks.
const std::string meta_text = "format=1\nname=hello\n" + std::string(580, '=') + "\n";
const std::vector<Payload> payloads = {{"usr/local/bin/hello", "0755", "hello\n"},
                                       {"usr/local/share/blob", "0644", std::string(2500, 'b')},
                                       {"usr/local/share/blob2", "0644", std::string(2500, 'c')}};

TEST(TarPeers, ArchivesAreJudgedByTheRules) {
  const std::string links = "links/extensions/types forbidden";
  const struct {
    const char *name;
    std::string prepare, writer, message;
    bool recipe_modes = true, xattr = false;
  } cases[] = {
      {"GnuRecipe", "", gnu_recipe, ""},
      {"GnuRecipeStoresHardLinksAsFiles", hard_link, gnu_recipe, ""},
      {"BsdtarRecipe", "", bsd_recipe, ""},
      {"BsdtarRecipeDropsExtendedAttributes", "", bsd_recipe, "", true, true},
      // GNU tar's defaults: its own format, pax headers, 20-block records,
      // hard links, directories, "./" names, the file owner, disk modes.
      {"GnuDefaultFormat", "", list + "tar --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -", "ustar required"},
      {"GnuPosixFormat", "", list + "tar --format=posix --owner=0 --group=0 --no-recursion -b1 -cf \"$out\" -T -", links},
      {"GnuDefaultRecord", "", list + gnu + "-cf \"$out\" -T -", "excess tar padding"},
      {"GnuHardLink", hard_link, list + gnu + "-b1 -cf \"$out\" -T -", links},
      {"GnuDirectoryMembers", "", "tar --format=ustar --owner=0 --group=0 -b1 -cf \"$out\" meta files data", links},
      {"GnuDotSlashNames", "", list + "sed 's|^|./|' | " + gnu + "-b1 -cf \"$out\" -T -", "unexpected/unsafe archive path"},
      {"GnuFileOwner", "chown -R 1000:1000 .", list + "tar --format=ustar --no-recursion -b1 -cf \"$out\" -T -", "non-root archive owner"},
      {"GnuDiskModes", "", gnu_recipe, "meta limit/mode", false},
      // bsdtar's defaults: pax headers for extended attributes, 20-block
      // records on a pipe, hard links, recursion.
      {"BsdtarDefaultFormat", "", list + "bsdtar --uid 0 --gid 0 -n -b 1 -cf \"$out\" -T -", links, true, true},
      {"BsdtarDefaultBlockOnPipe", "", list + bsd + "-n -cf - -T - > \"$out\"", "excess tar padding"},
      {"BsdtarHardLink", hard_link, bsd_recipe, links},
      {"BsdtarRecursion", "", bsd + "-b 1 -cf \"$out\" meta files data", links},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // The files as a packager's umask might have left them.
    TempDir dir;
    std::string pkg = dir / "pkg", stage = dir / "stage";
    make_dir(pkg);
    make_dir(stage);
    write_file(pkg + "/meta", meta_text, 0664);
    write_file(pkg + "/files", manifest_text(payloads), 0600);
    ASSERT_EQ(shell("cd " + pkg + " && mkdir -p data/usr/local/bin data/usr/local/share").status,
              0);
    for (const Payload &p : payloads) write_file(pkg + "/data/" + p.path, p.data, 0666);
    if (c.xattr) {
      ASSERT_EQ(setxattr((pkg + "/data/usr/local/bin/hello").c_str(), "user.note", "x", 1, 0), 0)
          << "the test directory's file system must take user extended attributes";
    }
    std::string script = "set -e\ncd " + pkg + "\nout=" + dir / "pkg.tar" + "\n" + c.prepare +
                         "\n" + (c.recipe_modes ? set_modes : "") + c.writer;
    ASSERT_EQ(shell(script).status, 0) << script;

    expect_io(run_io({"unpack"}, {.stdin_path = dir / "pkg.tar", .cwd = stage}), c.message);
    if (!c.message.empty()) continue;
    EXPECT_EQ(read_file(stage + "/meta"), meta_text);
    EXPECT_EQ(read_file(stage + "/files"), manifest_text(payloads));
    for (const Payload &p : payloads) {  // a hard link made blob2 a copy of blob
      EXPECT_TRUE(read_file(stage + "/data/" + p.path) == read_file(pkg + "/data/" + p.path));
      EXPECT_EQ(mode_of(stage + "/data/" + p.path), p.mode == "0755" ? 0755u : 0644u) << p.path;
    }
  }
}

}  // namespace
