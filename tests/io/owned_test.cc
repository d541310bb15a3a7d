// The owned-file manifest through "owned".
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string hash(64, 'a');

using Fields = std::vector<std::string>;

Fields file_row(const std::string &path = "usr/bin/a") {
  return {"f", "0644", "0", "0", "5", hash, path, "software", "-"};
}
Fields link_row(const std::string &target, const std::string &path = "usr/bin/a") {
  return {"l", "0777", "0", "0", std::to_string(target.size()), hash, path, "software", target};
}
Fields with(Fields fields, size_t index, const std::string &value) {
  fields[index] = value;
  return fields;
}
std::string line(const Fields &fields) {
  std::string text;
  for (const std::string &field : fields) text += (text.empty() ? "" : "\t") + field;
  return text + "\n";
}

RunResult check(const std::string &content) {
  TempDir dir;
  write_file(dir / "owned", content);
  return run_io({"owned", dir / "owned"});
}

struct OwnedCase {
  std::string name;
  std::string content;
  std::string message;  // empty: accepted
};

void PrintTo(const OwnedCase &c, std::ostream *out) { *out << c.name; }

class Owned : public ::testing::TestWithParam<OwnedCase> {};

TEST_P(Owned, GivesItsMessage) {
  const OwnedCase &c = GetParam();
  RunResult r = check(c.content);
  EXPECT_EQ(r.out, "");
  if (c.message.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure(c.message));
  }
}

const std::string one = line(file_row());
const std::string type_mode = "owned type/mode", numeric = "owned numeric field";
const std::string hash_path = "owned hash/path", order = "owned order/limit";

INSTANTIATE_TEST_SUITE_P(
    Cases, Owned,
    ::testing::Values(
        OwnedCase{"OneFile", one},
        OwnedCase{"OneLink", line(link_row("../lib/x"))},
        OwnedCase{"ConfigRole", line(with(file_row(), 7, "config"))},
        OwnedCase{"Empty", "", "empty owned manifest"},
        OwnedCase{"LastLineWithoutLineFeed", one + line(file_row("usr/bin/b")).substr(0, one.size() - 1),
                  "owned line length"},
        OwnedCase{"NulBeforeLineFeed", one.substr(0, 5) + '\0' + one.substr(5), "owned line length"},
        // 1022 bytes pass the length rule and fail on the fields.
        OwnedCase{"Line1022Bytes", std::string(1021, 'x') + "\n", "owned fields"},
        OwnedCase{"Line1023Bytes", std::string(1022, 'x') + "\n", "owned line length"},
        OwnedCase{"Line5000Bytes", std::string(4999, 'x') + "\n", "owned line length"},
        OwnedCase{"BlankLine", one + "\n", "owned fields"},
        OwnedCase{"EightFields", "f\t0644\t0\t0\t5\t" + hash + "\tusr/bin/a\tsoftware\n", "owned fields"},
        OwnedCase{"CrLfFile", one.substr(0, one.size() - 1) + "\r\n", "regular link field"},
        OwnedCase{"CrLfLink", line(link_row("x\r")), "link target bytes"},
        OwnedCase{"TenthFieldFile", line(with(file_row(), 8, "-\t-")), "regular link field"},
        OwnedCase{"TenthFieldLink", line(with(link_row("x"), 8, "x\tx")), "link target bytes"},
        OwnedCase{"TypeD", line(with(file_row(), 0, "d")), type_mode},
        OwnedCase{"TypeUpperF", line(with(file_row(), 0, "F")), type_mode},
        OwnedCase{"TypeTwoLetters", line(with(file_row(), 0, "ff")), type_mode},
        OwnedCase{"ModeThreeDigits", line(with(file_row(), 1, "644")), type_mode},
        OwnedCase{"ModeFiveDigits", line(with(file_row(), 1, "00644")), type_mode},
        OwnedCase{"ModeDigitEight", line(with(file_row(), 1, "0648")), type_mode},
        OwnedCase{"ModeAllBits", line(with(file_row(), 1, "7777"))},
        OwnedCase{"OwnerEmpty", line(with(file_row(), 2, "")), numeric},
        OwnedCase{"OwnerSigned", line(with(file_row(), 2, "-1")), numeric},
        OwnedCase{"GroupElevenDigits", line(with(file_row(), 3, "00000000000")), numeric},
        OwnedCase{"SizeWithSpace", line(with(file_row(), 4, " 5")), numeric},
        OwnedCase{"TenZerosAndTenNines",
                  line(with(with(with(file_row(), 2, "0000000000"), 3, "9999999999"), 4, "9999999999"))},
        OwnedCase{"HashUpperCase", line(with(file_row(), 5, std::string(64, 'A'))), hash_path},
        OwnedCase{"Hash63", line(with(file_row(), 5, std::string(63, 'a'))), hash_path},
        OwnedCase{"Hash65", line(with(file_row(), 5, std::string(65, 'a'))), hash_path},
        OwnedCase{"PathShadow", line(file_row("etc/shadow")), hash_path},
        OwnedCase{"PathAbsolute", line(file_row("/usr/bin/a")), hash_path},
        OwnedCase{"PathWithSpace", line(file_row("usr/bin/a b")), hash_path},
        OwnedCase{"RoleCapital", line(with(file_row(), 7, "Software")), "owned role"},
        OwnedCase{"RoleEmpty", line(with(file_row(), 7, "")), "owned role"},
        OwnedCase{"SamePathTwice", one + one, order},
        OwnedCase{"Descending", line(file_row("usr/bin/b")) + one, order},
        OwnedCase{"ByteOrder", line(file_row("a-b")) + line(file_row("a/b")) + line(file_row("a0"))},
        OwnedCase{"ComponentOrderIsNotByteOrder", line(file_row("a/b")) + line(file_row("a-b")), order},
        OwnedCase{"FirstFailingCheckDecides", line(with(with(file_row("etc/shadow"), 0, "d"), 2, "x")),
                  type_mode},
        OwnedCase{"OrderBeforeLinkField", one + line(with(file_row(), 8, "x")), order},
        OwnedCase{"RegularWithLinkTarget", line(with(file_row(), 8, "x")), "regular link field"},
        OwnedCase{"RegularWithEmptyLinkField", line(with(file_row(), 8, "")), "regular link field"},
        OwnedCase{"LinkTarget255", line(link_row(std::string(255, 't')))},
        OwnedCase{"LinkTarget256", line(link_row(std::string(256, 't'))), "link target limit"},
        OwnedCase{"LinkTargetEmpty", line(link_row("")), "link target limit"},
        OwnedCase{"LinkTargetDash", line(link_row("-"))},
        OwnedCase{"LinkTargetSpace", line(link_row("a b")), "link target bytes"},
        OwnedCase{"LinkTargetDelete", line(link_row("a\x7F")), "link target bytes"},
        OwnedCase{"LinkTargetHighByte", line(link_row("a\x80")), "link target bytes"},
        OwnedCase{"LinkSizeNotCompared", line(with(link_row("abc"), 4, "99"))}),
    [](const auto &info) { return info.param.name; });

std::string lines(size_t count) {
  std::string text;
  char path[32];
  for (size_t i = 0; i < count; ++i) {
    snprintf(path, sizeof path, "usr/share/p%05zu", i);
    text += line(file_row(path));
  }
  return text;
}

TEST(OwnedLimits, FourThousandNinetySixLines) {
  RunResult r = check(lines(4096));
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(OwnedLimits, LineFourThousandNinetySevenIsRefused) {
  RunResult r = check(lines(4097));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("owned order/limit"));
}

// Valid lines fill a page exactly; reading on fails with an I/O error.
TEST(OwnedFile, ReadErrorAfterValidLines) {
  const size_t page = FailingFile::page_size();
  const size_t last = line(file_row("usr/share/q")).size();
  std::string text = lines((page - last - 100) / lines(1).size());
  text += line(file_row("usr/share/q" + std::string(page - text.size() - last, 'q')));
  ASSERT_EQ(text.size(), page);
  EXPECT_EQ(check(text).status, 0);
  FailingFile file(text);
  RunResult r = run_io({"owned", file.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("empty owned manifest"));
}

TEST(OwnedFile, MissingAndUnreadable) {
  TempDir dir;
  EXPECT_EQ(run_io({"owned", dir / "missing"}).err, io_failure("owned manifest open"));
  RunResult r = run_io({"owned", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("empty owned manifest"));
}

}  // namespace
