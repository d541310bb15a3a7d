// Path predicates, case by case.
#include <gtest/gtest.h>

#include <string>

#include "vesk_io.h"

namespace {

const std::string a240(240, 'a'), a100(100, 'a'), x76(76, 'x'), x82(82, 'x');

TEST(PathRules, SafeRelativePath) {
  const std::pair<std::string, int> cases[] = {
      {"etc/passwd", 0}, {"etc/shadow", 0}, {"etc/group", 0}, {"etc/passwd-", 1},
      {"x/etc/shadow", 1}, {"etc/tinc/x", 0}, {"etc/tinc", 1}, {"etc/ssh/ssh_host_ed25519_key", 0},
      {"etc/wpa_supplicant.conf.bak", 0}, {"", 0}, {"/etc/x", 0}, {"a//b", 0}, {"a/", 0},
      {"a/./b", 0}, {"a/../b", 0}, {".", 0}, {"..", 0}, {"a/.../b", 1}, {".hidden/x", 1},
      {"a@b=c[d]e+f-g_h.i", 1}, {"a b", 0}, {"a\tb", 0}, {"a\\b", 0}, {"a:b", 0},
      {"caf\xc3\xa9", 0}, {"a\x7f", 0}, {a240, 1}, {a240 + "a", 0}, {a100 + "/" + a240.substr(101), 1}};
  for (const auto &[path, expected] : cases)
    EXPECT_EQ(is_safe_relative_path(path.c_str()), expected) << path;
}

TEST(PathRules, ManagedPathUnderBothFormats) {
  const struct {
    std::string path;
    int format1, format2;
  } cases[] = {
      {"usr/local/bin/tool", 1, 0}, {"usr/local/share/a/b", 1, 0}, {"usr/local/libexec/x", 1, 0},
      {"usr/bin/tool", 0, 1}, {"usr/sbin/x", 0, 1}, {"usr/libexec/x", 0, 1},
      {"usr/share/doc/x", 0, 1}, {"usr/local/bin", 0, 0}, {"usr/local/lib/x", 0, 0},
      {"usr/lib/x", 0, 0}, {"usr/share/vesk/x", 0, 0}, {"usr/share/vesk", 0, 1},
      {"usr/share/vesktools/x", 0, 1}, {"usr/bin/", 0, 0}, {"usr/local/share/", 0, 0},
      {"usr/bin/x.vesk-tmp", 0, 0}, {"usr/local/bin/a.vesk-tmpfoo", 0, 0}, {"usr/bin/a@b", 0, 0},
      {"usr/bin/a b", 0, 0}, {"usr/bin/x/../y", 0, 0}, {"usr/bin/./y", 0, 0},
      {"usr/bin/..x", 0, 1}, {"usr/bin/x..y", 0, 1}, {"usr/bin//x", 0, 0},
      {"usr/local/bin//x", 0, 0}, {"/usr/bin/x", 0, 0}, {"", 0, 0}, {"usr/bin/\xc3\xa9", 0, 0},
      {"usr/bin/" + x82, 0, 1}, {"usr/bin/" + x82 + "x", 0, 0},
      {"usr/local/bin/" + x76, 1, 0}, {"usr/local/bin/" + x76 + "x", 0, 0}};
  for (const auto &c : cases) {
    format2_flag = 0;
    EXPECT_EQ(is_managed_path(c.path.c_str()), c.format1) << c.path << " under format 1";
    format2_flag = 1;
    EXPECT_EQ(is_managed_path(c.path.c_str()), c.format2) << c.path << " under format 2";
  }
  format2_flag = 0;
}

// Bit 0x20 folds case, but only for letters: '`' and '{' are not letters.
TEST(PathRules, NameChars) {
  const std::pair<const char *, int> cases[] = {
      {"", 1}, {"libfoo.so.1", 1}, {"ld-musl-i386.so.1", 1}, {"a_b+c", 1}, {"lib/x", 0},
      {"a@b", 0}, {"a=b", 0}, {"a b", 0}, {"\xe9", 0}, {"`", 0}, {"{", 0}};
  for (const auto &[text, expected] : cases) EXPECT_EQ(is_name_chars(text), expected) << text;
}

}  // namespace
