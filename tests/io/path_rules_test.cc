// Path predicates, case by case.
#include <gtest/gtest.h>

#include "vesk_io.h"

namespace {

struct PathCase {
  std::string path;
  int expected;
};

std::string repeat(char c, size_t n) { return std::string(n, c); }

class SafeRelativePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(SafeRelativePath, Decides) {
  EXPECT_EQ(is_safe_relative_path(GetParam().path.c_str()), GetParam().expected)
      << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeRelativePath,
    ::testing::Values(
        PathCase{"etc/passwd", 0}, PathCase{"etc/shadow", 0}, PathCase{"etc/group", 0},
        PathCase{"etc/passwd-", 1}, PathCase{"x/etc/shadow", 1}, PathCase{"etc/tinc/x", 0},
        PathCase{"etc/tinc", 1}, PathCase{"etc/ssh/ssh_host_ed25519_key", 0},
        PathCase{"ssh_host_", 0}, PathCase{"etc/wpa_supplicant.conf.bak", 0},
        PathCase{"", 0}, PathCase{"/etc/x", 0}, PathCase{"a//b", 0}, PathCase{"a/", 0},
        PathCase{"a/./b", 0}, PathCase{"a/../b", 0}, PathCase{".", 0}, PathCase{"..", 0},
        PathCase{"a/.../b", 1}, PathCase{".hidden/x", 1}, PathCase{"a@b=c[d]e+f-g_h.i", 1},
        PathCase{"a b", 0}, PathCase{"a\tb", 0}, PathCase{"a\\b", 0}, PathCase{"a:b", 0},
        PathCase{"caf\xc3\xa9", 0}, PathCase{"a\x7f", 0},
        PathCase{repeat('a', 240), 1}, PathCase{repeat('a', 241), 0},
        PathCase{repeat('a', 100) + "/" + repeat('b', 139), 1}));

struct ManagedCase {
  std::string path;
  int format1;
  int format2;
};

class ManagedPath : public ::testing::TestWithParam<ManagedCase> {};

TEST_P(ManagedPath, DecidesUnderBothFormats) {
  const ManagedCase &c = GetParam();
  format2_flag = 0;
  EXPECT_EQ(is_managed_path(c.path.c_str()), c.format1) << c.path << " under format 1";
  format2_flag = 1;
  EXPECT_EQ(is_managed_path(c.path.c_str()), c.format2) << c.path << " under format 2";
  format2_flag = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManagedPath,
    ::testing::Values(
        ManagedCase{"usr/local/bin/tool", 1, 0}, ManagedCase{"usr/local/share/a/b", 1, 0},
        ManagedCase{"usr/local/libexec/x", 1, 0}, ManagedCase{"usr/bin/tool", 0, 1},
        ManagedCase{"usr/sbin/x", 0, 1}, ManagedCase{"usr/libexec/x", 0, 1},
        ManagedCase{"usr/share/doc/x", 0, 1}, ManagedCase{"usr/local/bin", 0, 0},
        ManagedCase{"usr/local/lib/x", 0, 0}, ManagedCase{"usr/lib/x", 0, 0},
        ManagedCase{"usr/share/vesk/x", 0, 0}, ManagedCase{"usr/share/vesk", 0, 1},
        ManagedCase{"usr/share/vesktools/x", 0, 1}, ManagedCase{"usr/bin/", 0, 0},
        ManagedCase{"usr/local/share/", 0, 0}, ManagedCase{"usr/bin/x.vesk-tmp", 0, 0},
        ManagedCase{"usr/local/bin/a.vesk-tmpfoo", 0, 0}, ManagedCase{"usr/bin/a@b", 0, 0},
        ManagedCase{"usr/bin/a b", 0, 0}, ManagedCase{"usr/bin/x/../y", 0, 0},
        ManagedCase{"usr/bin/./y", 0, 0}, ManagedCase{"usr/bin/..x", 0, 1},
        ManagedCase{"usr/bin/x..y", 0, 1}, ManagedCase{"usr/bin//x", 0, 0},
        ManagedCase{"usr/local/bin//x", 0, 0}, ManagedCase{"/usr/bin/x", 0, 0},
        ManagedCase{"", 0, 0}, ManagedCase{"usr/bin/\xc3\xa9", 0, 0},
        ManagedCase{"usr/bin/" + repeat('x', 82), 0, 1},
        ManagedCase{"usr/bin/" + repeat('x', 83), 0, 0},
        ManagedCase{"usr/local/bin/" + repeat('x', 76), 1, 0},
        ManagedCase{"usr/local/bin/" + repeat('x', 77), 0, 0}));

TEST(NameChars, Cases) {
  EXPECT_EQ(is_name_chars(""), 1);
  EXPECT_EQ(is_name_chars("libfoo.so.1"), 1);
  EXPECT_EQ(is_name_chars("ld-musl-i386.so.1"), 1);
  EXPECT_EQ(is_name_chars("a_b+c"), 1);
  EXPECT_EQ(is_name_chars("lib/x"), 0);
  EXPECT_EQ(is_name_chars("a@b"), 0);
  EXPECT_EQ(is_name_chars("a=b"), 0);
  EXPECT_EQ(is_name_chars("a b"), 0);
  EXPECT_EQ(is_name_chars("\xe9"), 0);
  // Bit 0x20 folds case, but only for letters: '@' and '[' are not letters.
  EXPECT_EQ(is_name_chars("`"), 0);
  EXPECT_EQ(is_name_chars("{"), 0);
}

}  // namespace
