// What this toolchain produces is what the package tool accepts: the target
// programs and small musl programs built here, judged by "elf" and "elf2"
// of the vesk-io under test.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string target_cc = VESK_TARGET_CC;
const bool static_build = std::string(VESK_EXPECTED_NEEDED).empty();
const std::string no_loader = "invalid dynamic executable/interpreter";
const std::string search_path = "ELF search path/textrel forbidden";
const std::string only_libc = "format 1 supports only libc.so ELF dependencies";
const std::string missing = "ELF dependency missing from target root";

// A target root with the given regular files (below it, e.g. "lib/libc.so").
struct TargetRoot {
  TempDir dir;
  explicit TargetRoot(const std::vector<std::string> &files) {
    for (const char *d : {"lib", "usr", "usr/lib"}) make_dir(dir / d);
    for (const std::string &file : files) write_file(dir / file, "");
  }
  const std::string &path() const { return dir.path(); }
};

void expect_judgement(const std::vector<std::string> &args, const std::string &message) {
  RunResult r = run_io(args);
  EXPECT_EQ(r.status, message.empty() ? 0 : 1) << args[0] << " " << args[1];
  EXPECT_EQ(r.err, message.empty() ? "" : io_failure(message)) << args[0] << " " << args[1];
  EXPECT_EQ(r.out, "");
}

// Compiles C source with the target compiler; returns the path built.
std::string build(const TempDir &dir, const std::string &name, const std::string &source,
                  const std::string &words) {
  write_file(dir / (name + ".c"), source);
  RunResult r = shell("cd '" + dir.path() + "' && " + target_cc + " -O2 -o " + name + " " + name +
                      ".c " + words);
  EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  return dir / name;
}

std::string dynamic_tags(const std::string &file) { return shell("readelf -W -d '" + file + "'").out; }

const char *const hello_source =
    "#include <stdio.h>\nint main(void) { puts(\"hello\"); return 0; }\n";

TEST(TargetElf, ProgramsJudgeThemselves) {
  TargetRoot with_libc({"lib/libc.so"});
  TargetRoot empty({});
  for (const std::string &program : {io_program(), index_program()}) {
    if (static_build) {
      expect_judgement({"elf", program}, no_loader);
      expect_judgement({"elf", program, with_libc.path()}, no_loader);
      expect_judgement({"elf2", program, with_libc.path()}, "");
      expect_judgement({"elf2", program, empty.path()}, "");
    } else {
      expect_judgement({"elf", program}, "");
      expect_judgement({"elf2", program, with_libc.path()}, "");
      expect_judgement({"elf2", program, empty.path()}, missing);
    }
  }
}

struct Peer {
  std::string name;
  std::string words;         // compiler words besides the source
  std::string expected_tag;  // what readelf -d shows, proving the peer is what it claims
  std::string elf;           // message under "elf"; empty: passes
  std::string elf2;          // under "elf2" with a root holding lib/libc.so
};

class TargetPeer : public ::testing::TestWithParam<Peer> {};

TEST_P(TargetPeer, IsJudgedByItsDynamicSection) {
  const Peer &peer = GetParam();
  TempDir dir;
  std::string program = build(dir, peer.name, hello_source, peer.words);
  EXPECT_NE(dynamic_tags(program).find(peer.expected_tag), std::string::npos)
      << dynamic_tags(program);
  TargetRoot with_libc({"lib/libc.so"});
  expect_judgement({"elf", program}, peer.elf);
  expect_judgement({"elf2", program, with_libc.path()}, peer.elf2);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TargetPeer,
    ::testing::Values(
        Peer{"hello", "", "Shared library: [libc.so]", "", ""},
        Peer{"hello_static", "-static", "There is no dynamic section", no_loader, ""},
        Peer{"hello_rpath", "-Wl,--disable-new-dtags,-rpath,/x", "(RPATH)", search_path,
             search_path},
        Peer{"hello_runpath", "-Wl,--enable-new-dtags,-rpath,/x", "(RUNPATH)", search_path,
             search_path},
        // Code that is not position-independent in a PIE needs its text patched.
        Peer{"hello_textrel", "-fno-pie -pie -Wl,-z,notext", "TEXTREL", search_path,
             search_path}),
    [](const ::testing::TestParamInfo<Peer> &info) { return info.param.name; });

// The static peer is a working program on the target CPU.
TEST(TargetElf, StaticPeerRunsUnderTheEmulator) {
  TempDir dir;
  std::vector<std::string> argv = emulator_words();
  argv.push_back(build(dir, "hello", hello_source, "-static"));
  RunResult r = run_program(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "hello\n");
}

// A program linked against a library of its own: format 1 allows only the C
// library; format 2 wants the library in lib/ or usr/lib/ of the target root.
TEST(TargetElf, OwnSharedLibrary) {
  TempDir dir;
  write_file(dir / "peer.c", "int peer_answer(void) { return 42; }\n");
  RunResult lib = shell("cd '" + dir.path() + "' && " + target_cc +
                        " -O2 -shared -fPIC -o libpeer.so peer.c");
  ASSERT_EQ(lib.status, 0) << lib.err;
  std::string program = build(dir, "uses_peer",
                              "int peer_answer(void);\n"
                              "int main(void) { return peer_answer() == 42 ? 0 : 1; }\n",
                              "-L. -lpeer");
  ASSERT_NE(dynamic_tags(program).find("Shared library: [libpeer.so]"), std::string::npos)
      << dynamic_tags(program);

  expect_judgement({"elf", program}, only_libc);
  const std::vector<std::pair<std::vector<std::string>, std::string>> roots = {
      {{"lib/libc.so"}, missing},
      {{"lib/libc.so", "lib/libpeer.so"}, ""},
      {{"lib/libc.so", "usr/lib/libpeer.so"}, ""},
      {{"usr/lib/libc.so", "usr/lib/libpeer.so"}, ""},
      {{"lib/libpeer.so"}, missing},
      {{"libpeer.so", "lib/libc.so"}, missing}};
  for (const auto &[files, message] : roots) {
    TargetRoot root(files);
    SCOPED_TRACE(files.back());
    expect_judgement({"elf2", program, root.path()}, message);
  }
}

}  // namespace
