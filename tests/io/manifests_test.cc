// vesk-io manifest, manifest2 and owned: each failure (none: a valid list) with the lists that give
// it on standard input (a text starting with / names the file).
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string sha(64, 'a'), a = "usr/local/bin/a", x76(76, 'x');
std::string entry(Text path, Text size = "0") {
  return "f\t0755\t" + size + "\t" + sha + "\t" + path + "\n";
}
std::string owned(Text path, Text link = "-") {
  return "f\t0644\t0000000000\t9999999999\t5\t" + sha + "\t" + path + "\tconfig\t" + link + "\n";
}
std::string sub(std::string text, Text find, Text with) {  // `with` at the first `find`
  return text.replace(text.find(find), find.size(), with);
}
std::string link(Text target) { return "l" + owned("l", target).substr(1); }
std::string owned_with(Text find, Text with) { return sub(owned("a"), find, with); }
std::string lines(int count, Text line) {  // `line` for paths a10000, a10001...
  std::string text;
  for (int n = 10000; n < 10000 + count; ++n) text += sub(line, a, a + std::to_string(n));
  return text;
}

using Cases = std::vector<std::pair<std::string, std::vector<std::string>>>;
const std::pair<std::string, Cases> commands[] = {
    {"manifest",
     {{"manifest open", {"/nonexistent"}},
      {"empty/invalid manifest", {"", "/"}},
      {"",
       {lines(1021, entry(a)) + sub(entry("usr/local/bin/" + x76, "33554432"), "0755", "0644") +
        entry("usr/local/libexec/x") + entry("usr/local/share/x")}},
      {"manifest limit/newline", {lines(1025, entry(a))}},
      {"expanded size limit", {entry(a, "33554433"), entry(a, "33554432") + entry(a + "b", "1")}},
      {"noncanonical manifest", {entry(a + "\r")}},
      {"manifest fields", {entry(a + "\tx")}},
      {"manifest size", {entry(a, "000000000"), entry(a, "x")}},
      {"manifest SHA256", {sub(entry(a), "\ta", "\t"), sub(entry(a), "\ta", "\tA")}},
      {"manifest not sorted/duplicate", {entry(a) + entry(a)}},
      {"manifest type/mode/path",
       {sub(entry(a), "f", "d"), sub(entry(a), "0755", "0600"), entry("usr/bin/a"),
        entry("usr/local/lib/x"), entry("usr/local/bin/x" + x76)}}}},
    {"manifest2",
     {{"", {entry("usr/bin/A_b+c-d.e") + entry("usr/sbin/x") + entry("usr/share/vesk")}},
      {"manifest type/mode/path",
       {entry(a), entry("usr/share/vesk/x"), entry("usr/bin/a.vesk-tmp"), entry("usr/bin/a@b"),
        entry("usr/bin/x/../y")}}}},
    {"owned",
     {{"owned manifest open", {"/nonexistent"}},
      {"empty owned manifest", {"", "/"}},
      {"owned order/limit", {lines(4097, owned(a)), owned("a") + owned("a")}},
      {"owned line length", {std::string(1022, 'x') + "\n", "f"}},
      {"owned fields", {owned_with("\t-", "")}},
      {"owned type/mode", {owned_with("f", "d"), owned_with("0644", "06440")}},
      {"owned numeric field", {owned_with("\t5", "\t")}},
      {"owned hash/path",
       {owned_with("\ta", "\tA"), owned(std::string(241, 'z')), owned("etc/group"),
        owned("etc/tinc/x"), owned("a/ssh_host_k"), owned("/a"), owned(""),
        owned("wpa_supplicant.conf"), owned("a//b"), owned("a/"), owned("a/../b"), owned("a{"),
        owned("etc/passwd")}},
      {"owned role", {owned_with("config", "Config")}},
      {"regular link field", {owned_with("-", "x")}},
      {"link target bytes", {link(" "), link("\x7f")}},
      {"link target limit", {link(""), link(std::string(256, 't'))}},
      {"",
       {owned("a@b=c[d]e+f-g_h.i") + sub(owned("etc/tinc"), "config", "software") + link("!") +
        owned(std::string(240, 'z'))}}}},
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
