// The owned-file manifest through "owned".
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string hash(64, 'a');

std::string join(const std::vector<std::string> &fields) {
  std::string text;
  for (const std::string &field : fields) text += (text.empty() ? "" : "\t") + field;
  return text + "\n";
}
// The file line of usr/bin/a with field `index` replaced.
std::string with(size_t index, const std::string &value) {
  std::vector<std::string> fields = {"f", "0644", "0", "0", "5", hash, "usr/bin/a", "software",
                                     "-"};
  fields.at(index) = value;
  return join(fields);
}
std::string file(const std::string &path) { return with(6, path); }
std::string link(const std::string &target) {
  return join({"l", "0777", "0", "0", "1", hash, "usr/bin/a", "software", target});
}

std::string lines(size_t count) {
  std::string text;
  char path[32];
  for (size_t i = 0; i < count; ++i) {
    snprintf(path, sizeof path, "usr/share/p%05zu", i);
    text += file(path);
  }
  return text;
}

TEST(Owned, EachFileGivesItsMessage) {
  const std::string one = file("usr/bin/a"), order = "owned order/limit";
  const std::string type_mode = "owned type/mode", numeric = "owned numeric field";
  const std::string hash_path = "owned hash/path";
  const struct {
    const char *name;
    std::string content, message;
  } cases[] = {
      {"OneFile", one, ""},
      {"OneLink", link("../lib/x"), ""},
      {"ConfigRole", with(7, "config"), ""},
      {"Empty", "", "empty owned manifest"},
      {"LastLineWithoutLineFeed", one + file("usr/bin/b").substr(0, one.size() - 1), "owned line length"},
      {"NulBeforeLineFeed", one.substr(0, 5) + '\0' + one.substr(5), "owned line length"},
      // 1022 bytes pass the length rule and fail on the fields.
      {"Line1022Bytes", std::string(1021, 'x') + "\n", "owned fields"},
      {"Line1023Bytes", std::string(1022, 'x') + "\n", "owned line length"},
      {"EightFields", "f\t0644\t0\t0\t5\t" + hash + "\tusr/bin/a\tsoftware\n", "owned fields"},
      {"CrLf", one.substr(0, one.size() - 1) + "\r\n", "regular link field"},
      {"TenthField", link("x\tx"), "link target bytes"},
      {"TypeD", with(0, "d"), type_mode},
      {"ModeThreeDigits", with(1, "644"), type_mode},
      {"ModeDigitEight", with(1, "0648"), type_mode},
      {"OwnerEmpty", with(2, ""), numeric},
      {"GroupElevenDigits", with(3, "00000000000"), numeric},
      {"SizeTenNines", with(4, "9999999999"), ""},
      {"HashUpperCase", with(5, std::string(64, 'A')), hash_path},
      {"Hash63", with(5, std::string(63, 'a')), hash_path},
      {"PathShadow", file("etc/shadow"), hash_path},
      {"RoleCapital", with(7, "Software"), "owned role"},
      {"SamePathTwice", one + one, order},
      {"Descending", file("usr/bin/b") + one, order},
      {"ByteOrder", file("a-b") + file("a/b") + file("a0"), ""},
      {"RegularWithLinkTarget", with(8, "x"), "regular link field"},
      {"LinkTarget255", link(std::string(255, 't')), ""},
      {"LinkTarget256", link(std::string(256, 't')), "link target limit"},
      {"LinkTargetEmpty", link(""), "link target limit"},
      {"LinkTargetSpace", link("a b"), "link target bytes"},
      {"LinkTargetDelete", link("a\x7F"), "link target bytes"},
      {"Lines4096", lines(4096), ""},
      {"Lines4097", lines(4097), order},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    expect_io(run_io_on(c.content, {"owned"}), c.message);
  }
}

TEST(Owned, MissingFile) {
  TempDir dir;
  expect_io(run_io({"owned", dir / "missing"}), "owned manifest open");
}

// Valid lines fill a page exactly; reading on fails with an I/O error.
TEST(Owned, ReadErrorAfterValidLines) {
  const size_t page = FailingFile::page_size(), last = file("usr/share/q").size();
  std::string text = lines((page - last - 100) / lines(1).size());
  text += file("usr/share/q" + std::string(page - text.size() - last, 'q'));
  ASSERT_EQ(text.size(), page);
  expect_io(run_io_on(text, {"owned"}), "");
  FailingFile failing(text);
  expect_io(run_io({"owned", failing.path()}), "empty owned manifest");
}

}  // namespace
