// Archives through "cd STAGE && vesk-io unpack": the message of each, and what it leaves in the stage
// (for an accepted one: what GNU tar extracts from it).
#include <map>
#include <vector>

#include "harness.h"

using namespace vesk::test;
using namespace std::string_literals;

// Header fields by offset (NUL-filled to the field's end) override the defaults; chksum: the sum + skew.
struct M { std::string name, mode, data; std::map<size_t, std::string> set = {}; int skew = 0; };
using Members = std::vector<M>;
std::string oct(size_t v, int digits) { char t[32]; snprintf(t, sizeof t, "%0*zo", digits, v); return t; }

std::string tar(const Members &members, int end_blocks = 2, size_t first = 9999) {
  std::string out;
  for (size_t i = 0; i < members.size() && i < first; ++i) {
    const M &m = members[i];
    std::map<size_t, std::string> f = m.set;
    f.insert({{0, m.name}, {100, "000" + m.mode}, {108, "0000000"}, {116, "0000000"},
              {124, oct(m.data.size(), 11)}, {136, "0"}, {156, "0"}, {257, "ustar\0"s}, {263, "00"}});
    std::string block(512, '\0');
    for (auto &[at, bytes] : f) block.replace(at, bytes.size(), bytes);
    unsigned sum = 8 * ' ';  // the checksum field counts as spaces
    for (unsigned char c : block) sum += c;
    if (!f.count(148)) block.replace(148, 8, oct(sum + m.skew, 6) + "\0 "s);
    out += block + m.data + std::string(-m.data.size() % 512, '\0');
  }
  return out + std::string(end_blocks * 512, '\0');
}

const std::string kMeta = "format=1\nname= ~\n", kHash(64, 'a');
const Members kFiles = {{"usr/local/bin/hello", "0755", "hello\n"},  // padding; whole blocks, 2 chunks; empty
    {"usr/local/share/big", "0644", std::string(8704, 'b')}, {"usr/local/share/empty", "0644"}};
Members pkg(const std::string &meta = kMeta, const Members &files = kFiles) {
  Members ms = {{"meta", "0644", meta}, {"files", "0644"}};
  for (auto &f : files)
    ms[1].data += "f\t" + f.mode + "\t" + std::to_string(f.data.size()) + "\t" + kHash + "\t" + f.name + "\n",
        ms.push_back({"data/" + f.name, f.mode, f.data});
  return ms;
}
std::string with(size_t i, std::map<size_t, std::string> set, int skew = 0, const std::string &more = "") {
  Members ms = pkg();
  return ms[i].set = set, ms[i].skew = skew, ms[i].data += more, tar(ms);
}

// Every entry (type, mode, owner, size, path), then the bytes of every file.
const std::string kList =
    "find . -mindepth 1 -printf '%y%m %U:%G %s %P\\n' | LC_ALL=C sort; find . -type f | sort | xargs cat";
std::string peer(const std::string &writer) {  // the sample package archived again by a real tar
  TempDir d;
  return sh("cd " + d.path + " && tar -xf - && { echo meta; echo files; cut -f5 files | sed 's|^|data/|'; } "
            "| " + writer + " -cf out -T - && cat out", tar(pkg())).out;
}

TEST(Unpack, EachArchiveGivesItsMessageAndLeavesItsStage) {
  const Members P = pkg(), f2 = {{"usr/bin/a", "0755", "a"}, {"usr/share/b/c", "0644", "c"}};
  const std::string m4096 = "format=1\n" + std::string(4087, 'm'), x = "\xff\xfe\xfd", F = "files limit/mode";
  const std::string L = "links/extensions/types forbidden", N = "invalid tar number", A = "meta limit/mode";
  const std::string S = "payload size/mode mismatch", O = "non-root archive owner", T = "truncated input";
  Members big(1024, {"", "0644", "x"});  // 1023 one-byte files, one grown till the archive has 34603008 bytes
  for (int i = 0; i < 1024; ++i) big[i].name = "usr/local/share/p" + std::to_string(1000 + i);
  std::string &z = big[1023].data;
  for (int pass = 0; pass < 2; ++pass) z.resize(z.size() + 34603008 - tar(pkg(kMeta, big)).size());
  const struct { std::string in, err, left; bool again = false; } rows[] = {
      {tar(P)}, {tar(P, 20)}, {tar(P, 21), "excess tar padding"}, {tar(P, 1), "incomplete archive"},
      {tar(P, 2, 4), "incomplete archive"}, {tar(P, 1, 3) + tar({P[3]}), "content after end marker"},
      {tar(P) + std::string(511, '\0'), "truncated header"}, {with(0, {{265, x}})},
      {with(2, {{124, "6"}}, 0, "x"), "nonzero padding"}, {with(0, {{265, x}}, -768), "tar header checksum"},
      {tar(P, 0, 3) + tar({P[3]}, 0).substr(0, 512 + 5000), T, "f600 0:0 4096 data/usr/local/share/big\n"},
      {tar(P, 0, 2) + tar({P[2]}, 0).substr(0, 600), T, "f755 0:0 6 data/usr/local/bin/hello\n"},
      {with(2, {{157, "a"}}), L}, {with(0, {{257, "ustar "}}), "ustar required"}, {with(0, {{345, "x"}}), L},
      {with(0, {{263, "0 "}, {156, "5"}}), "ustar required"}, {with(0, {{156, "\0"s}}), L}, {tar(pkg(m4096))},
      {with(0, {{0, std::string(100, 'm')}}), L}, {with(0, {{100, "0000648"}}), N},
      {with(0, {{0, std::string(99, 'm')}}), "unexpected/unsafe archive path"}, {with(2, {{116, "1750"}}), O},
      {with(0, {{100, "  644 \0 \0"s}, {108, "        "}, {116, ""}, {124, "000000000021"}})},
      {with(0, {{100, "0644\0007"s}}), N}, {with(2, {{124, "\x80\0\x06"s}}), N}, {tar(pkg(m4096 + "m")), A},
      {with(0, {{124, "2000000007"}}), A}, {with(0, {{124, "2000000010"}}), "tar number too large"},
      {with(2, {{108, "1"}, {116, "x"}}), O}, {with(1, {{100, "600"}}), F}, {with(2, {{100, "644"}}), S},
      {with(0, {{100, "755"}, {0, "files"}}), A}, {with(2, {}, 0, "!"), S}, {tar(pkg("")), "metadata format"},
      {with(1, {}, 0, std::string(262144 - P[1].data.size(), 'x')), "manifest limit/newline"},
      {with(1, {}, 0, std::string(262145 - P[1].data.size(), 'x')), F}, {tar(pkg("format=2\n", f2))},
      {tar(P, 0) + tar({{"data/usr/local/share/zzz", "0644"}}), "extra payload"}, {tar(pkg(kMeta, big))},
      {tar(pkg("format=1\x7f")), "non-ASCII metadata"}, {tar(pkg("format=2", f2)), "manifest type/mode/path"},
      {tar(pkg("format=1\n\t\n")), "non-ASCII metadata", "f600 0:0 0 meta\n"},
      {tar(pkg("x")), "payload create", "f644 0:0 17 meta\n", true},
      {tar(pkg(kMeta, {kFiles[0], {"usr/local/bin/hello/x", "0644"}})), "payload parent"},
      {peer("tar --format=ustar --owner=0 --group=0 --numeric-owner --no-recursion --hard-dereference -b1")},
      {peer("bsdtar --format ustar --uid 0 --gid 0 -n -b 1")}, {tar(pkg(kMeta, big), 3), "archive limit"},
  };
  umask(022);  // new directories: 0755 from vesk-io and from GNU tar alike
  TempDir mnt;  // stages on a tmpfs where one can be mounted: the largest archives go much faster
  sh("mount -t tmpfs -o mode=0755 vesk-stage " + mnt.path);
  for (const auto &r : rows) {
    std::string dir = mnt / std::to_string(r.again ? 0 : &r - rows), list = "; s=$?; " + kList + "; exit $s";
    SCOPED_TRACE(dir + ": " + r.err);
    auto got = sh("mkdir -p " + dir + " " + dir + "x && cd " + dir + " && { $IO unpack" + list + "; }", r.in);
    expect(vesk::test::Run{got.status, "", got.err}, r.err.empty() ? "" : "vesk-io: " + r.err);
    auto want = r.err.empty() ? sh("cd " + dir + "x && tar -xf -; " + kList, r.in).out : r.left;
    EXPECT_TRUE(r.err.empty() ? got.out == want : got.out.find(want) != got.out.npos) << got.out.substr(0, 999);
  }
  sh("umount " + mnt.path);
}
