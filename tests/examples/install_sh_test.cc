// The example caller, run as a package manager would run it: the bundled
// package lands in a fresh target root, and each tampered input is refused
// at the step that must catch it, with that step's message, leaving the
// target without the file and no stage behind.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <functional>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string examples = std::string(VESK_SOURCE_DIR) + "/examples";
const std::string bundled_repo = examples + "/caller/repo";
const std::string installed_path = "usr/local/bin/hello";

std::string program_words(const std::string &program) {
  std::string words;
  for (const std::string &word : emulator_words()) words += word + " ";
  return words + program;
}

std::string sha256_of(const std::string &path) {
  return shell("sha256sum < '" + path + "'").out.substr(0, 64);
}

// The file name of the package that the bundled index names for hello.
std::string bundled_package_name() {
  return shell("ls '" + bundled_repo + "' | grep '\\.vesk$'").out.substr(0, 69);
}

void replace_all(std::string &text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

bool is_regular_file(const std::string &path) { return shell("test -f '" + path + "'").status == 0; }

struct Scene {
  TempDir repo, root, tmp, outside;
  Scene() { EXPECT_EQ(shell("cp -R '" + bundled_repo + "/.' '" + repo.path() + "'").status, 0); }

  RunResult run_caller(const std::string &now = "500", const std::string &name = "hello") {
    return run_program({"/usr/bin/env", "VESK_IO=" + program_words(io_program()),
                        "VESK_INDEX=" + program_words(index_program()), "TMPDIR=" + tmp.path(),
                        "/bin/sh", examples + "/install.sh", "-n", now, repo.path(), name,
                        root.path()});
  }

  // Replaces the package by other bytes and, when asked, points the index
  // row at them as a repository that publishes them would.
  void replace_package(const std::function<void(std::string &)> &edit, bool reindex) {
    std::string old_name = bundled_package_name();
    std::string bytes = read_file(repo / old_name);
    std::string old_row = old_name.substr(0, 64) + "\t" + std::to_string(bytes.size());
    edit(bytes);
    write_file(repo / old_name, bytes);
    if (!reindex) return;
    std::string new_digest = sha256_of(repo / old_name);
    ASSERT_EQ(rename((repo / old_name).c_str(), (repo / (new_digest + ".vesk")).c_str()), 0);
    std::string index = read_file(repo / "index");
    replace_all(index, old_row, new_digest + "\t" + std::to_string(bytes.size()));
    replace_all(index, old_name, new_digest + ".vesk");
    write_file(repo / "index", index);
  }
};

TEST(ExampleCaller, InstallsTheBundledPackage) {
  Scene s;
  RunResult r = s.run_caller();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string steps;
  for (size_t line = 0; line < r.out.size(); line = r.out.find('\n', line) + 1)
    steps += r.out.substr(line, r.out.find(':', line) - line) + ",";
  EXPECT_EQ(steps,
            "index,select,package,unpack,manifest,payload digest,elf,parents,prepare,install,"
            "observe,done,");
  EXPECT_NE(r.out.find("select: hello 2.12p1+r2 (rank 7)\n"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(s.root / installed_path), "hello\n");
  EXPECT_EQ(mode_of(s.root / installed_path), 0755u);
  EXPECT_EQ(mode_of(s.root / "usr/local/bin"), 0755u);
  EXPECT_FALSE(exists(s.root / (installed_path + ".vesk-tmp")));
  EXPECT_EQ(shell("ls -A '" + s.tmp.path() + "'").out, "") << "stage left behind";

  // Installing again replaces the plain file that is there now.
  r = s.run_caller();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(s.root / installed_path), "hello\n");
}

struct Refusal {
  std::string name;
  std::function<void(Scene &)> tamper;
  std::string now;
  std::string err;
};

void flip_payload_byte(std::string &bytes) { bytes[bytes.rfind("hello\n")] = 'j'; }

const Refusal refusals[] = {
    {"ModifiedPayloadByte",
     [](Scene &s) { s.replace_package(flip_payload_byte, false); }, "500",
     "refused at package digest: SHA-256 differs from the index row\n"},
    {"PayloadAgainstItsManifest",
     [](Scene &s) { s.replace_package(flip_payload_byte, true); }, "500",
     "refused at payload digest: usr/local/bin/hello differs from the manifest\n"},
    {"ArchiveRefusedByUnpack",
     [](Scene &s) {
       s.replace_package([](std::string &bytes) { bytes += std::string(511, '\0') + "x"; }, true);
     },
     "500", "refused at unpack: vesk-io: content after end marker\n"},
    {"ExpiredIndex", [](Scene &) {}, "700", "refused at index: vesk-index: index validity\n"},
    {"UndelegatedName",
     [](Scene &s) {
       std::string index = read_file(s.repo / "index");
       size_t row = index.find("\nhello\t") + 1;
       std::string evil = "evil" + index.substr(row + 5, index.find('\n', row) + 1 - row - 5);
       write_file(s.repo / "index", index + evil);
     },
     "500", "refused at index: vesk-index: package name/version\n"},
    {"SymlinkedDirectoryInTargetRoot",
     [](Scene &s) {
       make_dir(s.root / "usr");
       ASSERT_EQ(symlink(s.outside.path().c_str(), (s.root / "usr/local").c_str()), 0);
     },
     "500", "refused at parents: vesk-io: unsafe parent\n"},
    {"DirectoryAtTheInstallPath",
     [](Scene &s) { ASSERT_EQ(shell("mkdir -p '" + (s.root / installed_path) + "'").status, 0); },
     "500", "refused at parents: vesk-io: target link/type forbidden\n"},
};

class RefusedInput : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedInput, StopsAtTheRightStep) {
  Scene s;
  GetParam().tamper(s);
  RunResult r = s.run_caller(GetParam().now);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out.find("done:"), std::string::npos) << r.out;
  EXPECT_FALSE(is_regular_file(s.root / installed_path)) << "a file was installed";
  EXPECT_EQ(shell("ls -A '" + s.outside.path() + "'").out, "") << "written through a link";
  EXPECT_EQ(shell("ls -A '" + s.tmp.path() + "'").out, "") << "stage left behind";
}

INSTANTIATE_TEST_SUITE_P(Tampered, RefusedInput, ::testing::ValuesIn(refusals),
                         [](const auto &info) { return info.param.name; });

TEST(ExampleCaller, RefusesAnUnknownPackageOrAMissingFile) {
  Scene s;
  RunResult r = s.run_caller("500", "hello-doc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "refused at select: no package hello-doc in the index\n");
  ASSERT_EQ(unlink((s.repo / bundled_package_name()).c_str()), 0);
  r = s.run_caller();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "refused at fetch: no file " + bundled_package_name() + " in the repository\n");
}

// The committed archive is what its recipe makes of the committed tree, so
// the index row and the package cannot drift apart unnoticed.
TEST(ExampleCaller, PackageArchiveIsReproducible) {
  TempDir out;
  RunResult r = shell("sh '" + examples + "/caller/make-package.sh' '" + examples +
                      "/caller/package' '" + out.path() + "'");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, bundled_package_name() + "\n");
  EXPECT_EQ(read_file(out / bundled_package_name()), read_file(bundled_repo + "/" + bundled_package_name()));
}

}  // namespace
