// vesk-io manifest, manifest2 and owned on a file of each text (the text itself when it is a path).
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string sha(64, 'a'), a = "usr/local/bin/a", x76(76, 'x');
std::string entry(Text path) { return "f\t0755\t32768\t" + sha + "\t" + path + "\n"; }
std::string owned(Text path, Text link = "-") {
  return (link == "-" ? "f" : "l") + ("\t0644\t0000000000\t9999999999\t5\t" + sha) + "\t" + path +
         "\tconfig\t" + link + "\n";
}
std::string sub(std::string text, Text find, Text with) {  // `with` at the first `find`
  return text.replace(text.find(find), find.size(), with);
}
std::string lines(int count, bool owned_list) {  // `count` lines in path order
  std::string text;
  for (int n = 10000; n < 10000 + count; ++n)
    text += owned_list ? owned(a + std::to_string(n)) : entry(a + std::to_string(n));
  return text;
}

struct Case {
  std::string command, text, failure, what;
};
const Case cases[] = {
    {"manifest", "/nonexistent", "manifest open"},
    {"manifest", "", "empty/invalid manifest", "empty"},
    {"manifest", "/", "empty/invalid manifest", "read error"},
    {"manifest", "f", "manifest limit/newline", "no LF"},
    {"manifest", lines(1024, false), "", "1024 files, 32 MiB"},
    {"manifest", lines(1025, false), "manifest limit/newline", "1025 files"},
    {"manifest", lines(1023, false) + sub(entry("usr/local/bin/b"), "768", "769"),
     "expanded size limit"},
    {"manifest", entry(a + "\r"), "noncanonical manifest"},
    {"manifest", entry(a + "\tx"), "manifest fields"},
    {"manifest", sub(entry(a), "32768", "000000000"), "manifest size"},
    {"manifest", sub(entry(a), "\ta", "\tA"), "manifest SHA256"},
    {"manifest", entry(a) + entry(a), "manifest not sorted/duplicate"},
    {"manifest", sub(entry(a), "0755", "0600"), "manifest type/mode/path", "mode"},
    {"manifest",
     sub(entry(a + "-b"), "0755", "0644") + entry(a + "/b") + entry(a + "0") +
         entry("usr/local/bin/" + x76) + entry("usr/local/libexec/x") + entry("usr/local/share/x"),
     "", "each prefix, 90 bytes"},
    {"manifest2",
     entry("usr/bin/..x") + entry("usr/bin/A_b+c-d.e") + entry("usr/sbin/x") +
         entry("usr/share/vesk") + entry("usr/share/vesktools/z"),
     "", "each prefix"},
    {"owned", "/nonexistent", "owned manifest open"},
    {"owned", "", "empty owned manifest", "empty"},
    {"owned", "/", "empty owned manifest", "read error"},
    {"owned", lines(4096, true), "", "4096 lines"},
    {"owned", lines(4097, true), "owned order/limit", "4097 lines"},
    {"owned", owned("a") + owned("a"), "owned order/limit", "twice"},
    {"owned", owned("a") + "f", "owned line length", "no LF"},
    {"owned", std::string(1022, 'x') + "\n", "owned line length", "1023 bytes"},
    {"owned", sub(owned("a"), "\t-", ""), "owned fields"},
    {"owned", sub(owned("a"), "f", "d"), "owned type/mode", "d"},
    {"owned", sub(owned("a"), "0644", "06440"), "owned type/mode", "mode"},
    {"owned", sub(owned("a"), "\t5", "\t00000000000"), "owned numeric field"},
    {"owned", sub(owned("a"), "\ta", "\tA"), "owned hash/path", "hash"},
    {"owned", sub(owned("a"), "config", "Config"), "owned role"},
    {"owned", sub(owned("a"), "-\n", "x\n"), "regular link field"},
    {"owned", owned("a", "a\x7f"), "link target bytes"},
    {"owned", owned("a", ""), "link target limit", "empty"},
    {"owned", owned("a", std::string(256, 't')), "link target limit", "256"},
    {"owned",
     owned(".x") + owned("a/.../b") + owned("a@b=c[d]e+f-g_h.i") + owned("etc/passwd-") +
         sub(owned("etc/tinc"), "config", "software") + owned("l", "!") +
         owned("m", "!" + std::string(253, 't') + "~") + owned("x/etc/shadow") +
         owned(std::string(240, 'z')),
     "", "edges"},
};
// Paths each rule refuses: managed under format 1 and 2, safe relative in the owned list.
const std::vector<std::string> refused[] = {
    {"usr/bin/a", "usr/local/lib/x", "usr/local/bin/" + x76 + "x"},
    {a, "usr/share/vesk/x", "usr/bin/", "usr/bin/a.vesk-tmp", "usr/bin/a@b", "usr/bin/x/../y"},
    {std::string(241, 'z'), "etc/passwd", "etc/shadow", "etc/group", "etc/tinc/x", "a/ssh_host_k",
     "/a", "", "wpa_supplicant.conf", "a//b", "a/", "a/../b", "\xc3\xa9", "a{"},
};

TEST(Manifests, EachFileGivesItsMessage) {
  for (const auto &[command, text, failure, what] : cases) {
    SCOPED_TRACE(command + " " + failure + " " + what);
    const std::string file = text[0] == '/' ? text : "/dev/stdin";
    expect(sh("$IO " + command + " " + file, text), failure.empty() ? "" : "vesk-io: " + failure);
  }
  for (int rule = 0; rule < 3; ++rule)
    for (Text path : refused[rule]) {
      SCOPED_TRACE("refused " + path);
      const std::string command[] = {"manifest", "manifest2", "owned"};
      expect(sh("$IO " + command[rule] + " /dev/stdin", rule < 2 ? entry(path) : owned(path)),
             rule < 2 ? "vesk-io: manifest type/mode/path" : "vesk-io: owned hash/path");
    }
}
