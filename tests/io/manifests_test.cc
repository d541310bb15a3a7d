// vesk-io manifest, manifest2, owned: each failure (none: valid) with its lists (/...: a file).
#include "harness.h"

using namespace vesk::test;
using Text = const string &;

const string sha(64, 'a'), a = "usr/local/bin/a";
string entry(Text path, Text size = "0") {
  return "f\t0755\t" + size + "\t" + sha + "\t" + path + "\n";
}
string owned(Text path, Text link = "-") {
  return "f\t0644\t0000000000\t9999999999\t5\t" + sha + "\t" + path + "\tconfig\t" + link + "\n";
}
string sub(string text, Text find, Text with) {  // `with` at the first `find`
  return text.replace(text.find(find), find.size(), with);
}
string link(Text target) { return "l" + owned("l", target).substr(1); }
string lines(int count, Text line) {  // `line` for paths a10000, a10001...
  string text;
  for (int n = 10000; n < 10000 + count; ++n) text += sub(line, a, a + std::to_string(n));
  return text;
}

const std::pair<string, std::vector<std::pair<string, std::vector<string>>>> commands[] = {
    {"manifest",
     {{"manifest open", {"/nonexistent"}},
      {"empty/invalid manifest", {"", "/"}},
      {"",
       {lines(1021, entry(a)) +
        sub(entry("usr/local/bin/" + string(76, 'x'), "33554432"), "0755", "0644") +
        entry("usr/local/libexec/x") + entry("usr/local/share/x")}},
      {"manifest limit/newline", {lines(1025, entry(a))}},
      {"expanded size limit", {entry(a, "33554433"), entry(a, "33554432") + entry(a + "b", "1")}},
      {"noncanonical manifest", {entry(a + "\r")}},
      {"manifest fields", {entry(a + "\tx")}},
      {"manifest size", {entry(a, "000000000"), entry(a, "x")}},
      {"manifest SHA256", {sub(entry(a), "\ta", "\t"), sub(entry(a), "\ta", "\tA")}},
      {"manifest not sorted/duplicate", {entry(a) + entry(a)}},
      {"manifest type/mode/path",
       {sub(entry(a), "f", "d"), sub(entry(a), "0755", "0600"), entry("usr/local/lib/x")}}}},
    {"manifest2",
     {{"", {entry("usr/bin/A_b+c-d.e") + entry("usr/sbin/x") + entry("usr/share/vesk")}},
      {"manifest type/mode/path",
       {entry(a), entry("usr/share/vesk/x"), entry("usr/bin/a.vesk-tmp"), entry("usr/bin/a@b"),
        entry("usr/bin/x/../y")}}}},
    {"owned",
     {{"owned manifest open", {"/nonexistent"}},
      {"empty owned manifest", {"", "/"}},
      {"owned order/limit", {lines(4097, owned(a)), owned("a") + owned("a")}},
      {"owned line length", {string(1022, 'x') + "\n", "f"}},
      {"owned fields", {sub(owned("a"), "\t-", "")}},
      {"owned type/mode", {sub(owned("a"), "f", "d"), sub(owned("a"), "0644", "06440")}},
      {"owned numeric field", {sub(owned("a"), "\t5", "\t")}},
      {"owned hash/path",
       {sub(owned("a"), "\ta", "\tA"), owned(string(241, 'z')), owned("etc/group"),
        owned("etc/tinc/x"), owned("a/ssh_host_k"), owned("/a"), owned(""), owned("a//b"),
        owned("a/"), owned("a/../b"), owned("a{"), owned("etc/passwd")}},
      {"owned role", {sub(owned("a"), "config", "Config")}},
      {"regular link field", {owned("a", "x")}},
      {"link target bytes", {link(" "), link("\x7f")}},
      {"link target limit", {link(""), link(string(256, 't'))}},
      {"",
       {owned("a@b=c[d]e+f-g_h.i") + sub(owned("etc/tinc"), "config", "software") + link("!") +
        owned(string(240, 'z'))}}}},
};

TEST(Manifests, EachFileGivesItsMessage) {
  for (const auto &[command, cases] : commands)
    for (const auto &[failure, texts] : cases)
      for (Text text : texts) {
        SCOPED_TRACE(command + " " + failure + ": " + text.substr(0, 120));
        expect(sh("$IO " + command + " " + (text[0] == '/' ? text : "/dev/stdin"), text),
               failure.empty() ? "" : "vesk-io: " + failure);
      }
}
