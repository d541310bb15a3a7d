// manifest, manifest2 and owned on a FILE of each text (FILE itself if it starts with "/"), then refused paths.
#include <sys/mman.h>

#include "harness.h"

using namespace vesk::test;
using Str = const std::string &;

const std::string H(64, 'a'), a = "usr/local/bin/a", b = "usr/local/bin/b";
std::string join(std::vector<std::string> fields, size_t i, Str v, std::string line = "") {  // field i set to v
  for (fields[i] = v; auto &field : fields) line += field + "\t";
  return line.back() = '\n', line;
}
std::string row(Str path, size_t i = 0, Str v = "f") { return join({"f", "0755", "0", H, path}, i, v); }
std::string own(Str path, size_t i = 0, Str v = "f") {  // a link when field 8, its target, is set
  return join({i == 8 ? "l" : "f", "0644", "0000000000", "9999999999", "5", H, path, "config", "-"}, i, v);
}
std::string many(int n, Str size) {  // owned lines when no size is given
  std::string path = a + std::to_string(n + 10000);
  return n ? many(n - 1, size) + (size.empty() ? own(path) : row(path, 2, size)) : "";
}
void check(Str cmd, std::vector<std::pair<std::string, std::string>> rows, std::vector<std::string> no, Str why) {
  for (auto &path : no) rows.push_back({cmd == "owned" ? own(path) : row(path), why});
  for (auto &[text, err] : rows) {
    SCOPED_TRACE(cmd + " " + text.substr(0, 99));
    expect(sh("$IO " + cmd + " " + (text[0] == '/' ? text : "/dev/stdin"), text), err.empty() ? "" : "vesk-io: " + err);
  }
}

// FILE whose whole lines run to the end of page 0 of this process, past which a read fails.
std::string failing(std::string text, Str cmd) {
  std::string last = b + std::string(4096 - text.size() - (cmd == "owned" ? 121 : 90), 'b');
  TempDir t;
  write_file(t / "p", text + (cmd == "owned" ? own(last) : row(last)));
  EXPECT_FALSE(mmap(0, 4096, PROT_READ, MAP_PRIVATE | MAP_FIXED, fileno(fopen((t / "p").c_str(), "r")), 0));
  return "/proc/" + std::to_string(getpid()) + "/mem";
}

TEST(Manifests, EachFileGivesItsMessage) {
  const std::string L = "manifest limit/newline", R = "manifest type/mode/path", O = "owned order/limit";
  check("manifest", {{"/nonexistent", "manifest open"}, {"", "empty/invalid manifest"},
      {failing(many(42, "0"), "manifest"), "empty/invalid manifest"}, {row(a) + row(b).substr(0, 9), L},
      {many(1024, "32768"), ""}, {many(1024, "32768") + row(b), L}, {row(a + "\r"), "noncanonical manifest"},
      {many(1023, "32768") + row(b, 2, "32769"), "expanded size limit"}, {row(a + "\tx"), "manifest fields"},
      {row(a, 2, "000000000"), "manifest size"}, {row(a, 3, H.substr(1) + "A"), "manifest SHA256"},
      {row(a) + row(a), "manifest not sorted/duplicate"}, {row(a, 1, "0600"), R}, {row(a, 1, "644"), R},
      {row(a + "-b", 1, "0644") + row(a + "/b") + row(a + "0") + row("usr/local/bin/" + std::string(76, 'x')) +
       row("usr/local/libexec/x") + row("usr/local/share/x"), ""}},
      {"usr/bin/a", "usr/local/lib/x", "usr/local/bin/" + std::string(77, 'x')}, R);
  check("manifest2", {{row("usr/bin/..x") + row("usr/bin/A_b+c-d.e") + row("usr/sbin/x") + row("usr/share/vesk") +
                       row("usr/share/vesktools/z"), ""}},
        {a, "usr/share/vesk/x", "usr/bin/", "usr/bin/a.vesk-tmp", "usr/bin/a@b", "usr/bin/x/../y"}, R);
  check("owned", {{"/nonexistent", "owned manifest open"}, {"", "empty owned manifest"},
      {failing(many(30, ""), "owned"), "empty owned manifest"}, {own("a") + own("a"), O},
      {own("a") + own("b").substr(0, 9), "owned line length"}, {std::string(1022, 'x') + "\n", "owned line length"},
      {own("a", 7, "config\n"), "owned fields"}, {own("a", 0, "d"), "owned type/mode"}, {many(4096, ""), ""},
      {own("a", 1, "06440"), "owned type/mode"}, {own("a", 3, "00000000000"), "owned numeric field"},
      {own("a", 5, H.substr(1) + "A"), "owned hash/path"}, {own("a", 7, "Config"), "owned role"}, {many(4097, ""), O},
      {own("a", 7, "config\tx"), "regular link field"}, {own("l", 8, "a\x7f"), "link target bytes"},
      {own("l", 8, ""), "link target limit"}, {own("l", 8, std::string(256, 't')), "link target limit"},
      {own(".x") + own("a/.../b") + own("a@b=c[d]e+f-g_h.i") + own("etc/passwd-") + own("etc/tinc", 7, "software") +
       own("l", 8, "!" + std::string(253, 't') + "~") + own("x/etc/shadow") + own(std::string(240, 'z')), ""}},
      {std::string(241, 'z'), "etc/passwd", "etc/shadow", "etc/group", "etc/tinc/x", "a/ssh_host_k", "/a", "",
       "wpa_supplicant.conf", "a//b", "a/", "a/../b", "\xc3\xa9", "a{"}, "owned hash/path");
}
