// vesk-io manifest, manifest2 and owned: each failure (none: a valid list) with the texts that
// give it (a text starting with / names the file), then a line of each path the command refuses.
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string sha(64, 'a'), a = "usr/local/bin/a", x76(76, 'x');
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
std::string size(Text bytes, Text path = a) {
  return sub(entry(path), "\t0\t", "\t" + bytes + "\t");
}
std::string owned_with(Text find, Text with) { return sub(owned("a"), find, with); }

struct Command {
  std::string name, refusal;
  std::string (*line)(Text path);
  std::vector<std::pair<std::string, std::vector<std::string>>> cases;
  std::vector<std::string> refused;
};
const Command commands[] = {
    {"manifest",
     "manifest type/mode/path",
     entry,
     {{"manifest open", {"/nonexistent"}},
      {"empty/invalid manifest", {"", "/"}},
      {"",
       {lines(1024, entry), size("33554432"),
        sub(entry("usr/local/bin/" + x76), "0755", "0644") + entry("usr/local/libexec/x") +
            entry("usr/local/share/x")}},
      {"manifest limit/newline", {lines(1025, entry), "f"}},
      {"expanded size limit", {size("33554433"), size("33554432") + size("1", a + "b")}},
      {"noncanonical manifest", {entry(a + "\r")}},
      {"manifest fields", {entry(a + "\tx")}},
      {"manifest size", {size("000000000"), size("x")}},
      {"manifest SHA256", {sub(entry(a), "\ta", "\t"), sub(entry(a), "\ta", "\tA")}},
      {"manifest not sorted/duplicate", {entry(a) + entry(a)}},
      {"manifest type/mode/path", {sub(entry(a), "f", "d"), sub(entry(a), "0755", "0600")}}},
     {"usr/bin/a", "usr/local/lib/x", "usr/local/bin/x" + x76}},
    {"manifest2",
     "manifest type/mode/path",
     entry,
     {{"", {entry("usr/bin/A_b+c-d.e") + entry("usr/sbin/x") + entry("usr/share/vesk")}}},
     {a, "usr/share/vesk/x", "usr/bin/", "usr/bin/a.vesk-tmp", "usr/bin/a@b", "usr/bin/x/../y"}},
    {"owned",
     "owned hash/path",
     owned,
     {{"owned manifest open", {"/nonexistent"}},
      {"empty owned manifest", {"", "/"}},
      {"owned order/limit", {lines(4097, owned), owned("a") + owned("a")}},
      {"owned line length", {std::string(1022, 'x') + "\n", "f"}},
      {"owned fields", {owned_with("\t-", "")}},
      {"owned type/mode", {owned_with("f", "d"), owned_with("0644", "06440")}},
      {"owned numeric field", {owned_with("\t5", "\t00000000000"), owned_with("\t5", "\t")}},
      {"owned hash/path", {owned_with("\ta", "\tA")}},
      {"owned role", {owned_with("config", "Config")}},
      {"regular link field", {owned_with("-", "x")}},
      {"link target bytes", {link(" "), link("\x7f")}},
      {"link target limit", {link(""), link(std::string(256, 't'))}},
      {"",
       {owned("a@b=c[d]e+f-g_h.i") + sub(owned("etc/tinc"), "config", "software") + link("!") +
        owned(std::string(240, 'z'))}}},
     {std::string(241, 'z'), "etc/passwd", "etc/shadow", "etc/group", "etc/tinc/x", "a/ssh_host_k",
      "/a", "", "wpa_supplicant.conf", "a//b", "a/", "a/../b", "\xc3\xa9", "a{"}},
};

TEST(Manifests, EachFileGivesItsMessage) {
  for (const auto &[command, refusal, line, cases, refused] : commands) {
    for (const auto &[failure, texts] : cases)
      for (size_t number = 0; number < texts.size(); ++number) {
        SCOPED_TRACE(command + " " + (failure.empty() ? "valid" : failure) + " #" +
                     std::to_string(number));
        const std::string &text = texts[number];
        const std::string file = text[0] == '/' ? text : "/dev/stdin";
        expect(sh("$IO " + command + " " + file, text),
               failure.empty() ? "" : "vesk-io: " + failure);
      }
    for (Text path : refused) {
      SCOPED_TRACE(command + " refuses " + path);
      expect(sh("$IO " + command + " /dev/stdin", line(path)), "vesk-io: " + refusal);
    }
  }
}
