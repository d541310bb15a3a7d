// vesk-io manifest, manifest2 and owned on a file of each text (a text starting with / names
// the file), then on a line of each path the command refuses.
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string sha(64, 'a'), a = "usr/local/bin/a";
std::string entry(Text path) { return "f\t0755\t0\t" + sha + "\t" + path + "\n"; }
std::string owned(Text path) {
  return "f\t0644\t0000000000\t9999999999\t5\t" + sha + "\t" + path + "\tconfig\t-\n";
}
std::string sub(std::string text, Text find, Text with) {  // `with` at the first `find`
  return text.replace(text.find(find), find.size(), with);
}
std::string link(Text target) { return sub(sub(owned("l"), "f", "l"), "-", target); }
std::string lines(int count, auto line) {  // in path order
  std::string text;
  for (int n = 10000; n < 10000 + count; ++n) text += line(a + std::to_string(n));
  return text;
}

struct Case {
  std::string text, failure, what;
};
struct Command {
  std::string name, refusal;
  std::string (*line)(Text path);
  std::vector<Case> cases;
  std::vector<std::string> refused;
};
const std::string max_size = "\t33554432\t", x76(76, 'x');
const Command commands[] = {
    {"manifest",
     "manifest type/mode/path",
     entry,
     {{"/nonexistent", "manifest open"},
      {"", "empty/invalid manifest"},
      {lines(1024, entry), "", "1024 files"},
      {lines(1025, entry), "manifest limit/newline"},
      {sub(entry(a), "\t0\t", max_size), "", "32 MiB"},
      {sub(entry(a), "\t0\t", max_size) + sub(entry(a + "b"), "\t0\t", "\t1\t"),
       "expanded size limit"},
      {entry(a + "\r"), "noncanonical manifest"},
      {entry(a + "\tx"), "manifest fields"},
      {sub(entry(a), "\t0\t", "\t000000000\t"), "manifest size"},
      {sub(entry(a), "\ta", "\tA"), "manifest SHA256"},
      {entry(a) + entry(a), "manifest not sorted/duplicate"},
      {sub(entry("usr/local/bin/" + x76), "0755", "0644") + entry("usr/local/libexec/x") +
           entry("usr/local/share/x"),
       "", "each prefix, 90 bytes"}},
     {"usr/bin/a", "usr/local/lib/x", "usr/local/bin/x" + x76}},
    {"manifest2",
     "manifest type/mode/path",
     entry,
     {{entry("usr/bin/A_b+c-d.e") + entry("usr/sbin/x") + entry("usr/share/vesk"), "", "prefixes"}},
     {a, "usr/share/vesk/x", "usr/bin/", "usr/bin/a.vesk-tmp", "usr/bin/a@b", "usr/bin/x/../y"}},
    {"owned",
     "owned hash/path",
     owned,
     {{"/nonexistent", "owned manifest open"},
      {"", "empty owned manifest"},
      {lines(4097, owned), "owned order/limit", "4097 lines"},
      {owned("a") + owned("a"), "owned order/limit", "twice"},
      {std::string(1022, 'x') + "\n", "owned line length"},
      {sub(owned("a"), "\t-", ""), "owned fields"},
      {sub(owned("a"), "f", "d"), "owned type/mode"},
      {sub(owned("a"), "\t5", "\t00000000000"), "owned numeric field"},
      {sub(owned("a"), "\ta", "\tA"), "owned hash/path"},
      {sub(owned("a"), "config", "Config"), "owned role"},
      {sub(owned("a"), "-", "x"), "regular link field"},
      {link("\x7f"), "link target bytes"},
      {link(""), "link target limit", "empty"},
      {link(std::string(256, 't')), "link target limit", "256"},
      {owned("a@b=c[d]e+f-g_h.i") + sub(owned("etc/tinc"), "config", "software") + link("!") +
           owned(std::string(240, 'z')),
       "", "edges"}},
     {std::string(241, 'z'), "etc/passwd", "etc/shadow", "etc/group", "etc/tinc/x", "a/ssh_host_k",
      "/a", "", "wpa_supplicant.conf", "a//b", "a/", "a/../b", "\xc3\xa9", "a{"}},
};

TEST(Manifests, EachFileGivesItsMessage) {
  for (const auto &[command, refusal, line, cases, refused] : commands) {
    for (const auto &[text, failure, what] : cases) {
      SCOPED_TRACE(command + " " + failure + " " + what);
      const std::string file = text[0] == '/' ? text : "/dev/stdin";
      expect(sh("$IO " + command + " " + file, text), failure.empty() ? "" : "vesk-io: " + failure);
    }
    for (Text path : refused) {
      SCOPED_TRACE(command + " refuses " + path);
      expect(sh("$IO " + command + " /dev/stdin", line(path)), "vesk-io: " + refusal);
    }
  }
}
