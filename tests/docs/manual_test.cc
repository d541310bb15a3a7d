// The manual pages render without a warning, and the DIAGNOSTICS of each
// program's page list exactly the messages that its code can print, so the
// pages cannot silently fall behind the code.
#include <dirent.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string source_dir = VESK_SOURCE_DIR;

const std::vector<std::string> pages = {
    "vesk-io.1",       "vesk-index.1",    "vesk-archive.5", "vesk-delegation.5",
    "vesk-index.5",    "vesk-manifest.5", "vesk-owned.5",
};

std::string collapse_whitespace(const std::string &text) {
  std::string out;
  for (char c : text) {
    bool blank = c == ' ' || c == '\n' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  return out;
}

// The page as a reader sees it: rendered, without overstrike, on one line.
std::string rendered_page(const std::string &page) {
  RunResult r = shell("mandoc -Tascii -O width=1000 '" + source_dir + "/man/" + page + "'");
  EXPECT_EQ(r.status, 0) << page;
  std::string plain;
  for (char c : r.out) {
    if (c == '\b') {
      if (!plain.empty()) plain.pop_back();
      continue;
    }
    plain += c;
  }
  return collapse_whitespace(plain);
}

// The text of a C string literal that starts at text[i] (and of the
// literals adjacent to it); i ends after the last one.
std::string read_literal(const std::string &text, size_t &i) {
  std::string value;
  while (i < text.size() && text[i] == '"') {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\') ++i;
      value += text[i];
    }
    ++i;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  }
  return value;
}

// From just after an opening parenthesis: the start of the last top-level
// argument and the position of the closing parenthesis.
std::pair<size_t, size_t> last_argument(const std::string &text, size_t i) {
  size_t start = i;
  for (int depth = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"' || c == '\'') {
      for (++i; i < text.size() && text[i] != c; ++i)
        if (text[i] == '\\') ++i;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth-- == 0) break;
    } else if (c == ',' && depth == 0) {
      start = i + 1;
    }
  }
  return {start, i};
}

// Every message that a literal gives to require_or_abort (second argument)
// or abort_with_message in the program's sources.
std::set<std::string> messages_in_code(const std::string &dir) {
  std::set<std::string> messages;
  DIR *listing = opendir((source_dir + "/" + dir).c_str());
  EXPECT_NE(listing, nullptr) << dir;
  if (listing == nullptr) return messages;
  while (dirent *entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name.size() < 3 || name.compare(name.size() - 3, 3, ".cc") != 0) continue;
    std::string text = read_file(source_dir + "/" + dir + "/" + name);
    for (const char *call : {"require_or_abort(", "abort_with_message("}) {
      for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        auto [start, end] = last_argument(text, at + strlen(call));
        while (start < end && isspace(static_cast<unsigned char>(text[start]))) ++start;
        if (start < end && text[start] == '"') messages.insert(read_literal(text, start));
      }
    }
  }
  closedir(listing);
  return messages;
}

// The messages that the page's DIAGNOSTICS list, one ".It Li" item each.
std::set<std::string> messages_in_page(const std::string &page) {
  std::set<std::string> messages;
  std::istringstream lines(read_file(source_dir + "/man/" + page));
  bool in_diagnostics = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".Sh ", 0) == 0) in_diagnostics = line == ".Sh DIAGNOSTICS";
    if (!in_diagnostics || line.rfind(".It Li ", 0) != 0) continue;
    std::string item = line.substr(7);
    if (item.size() >= 2 && item.front() == '"' && item.back() == '"')
      item = item.substr(1, item.size() - 2);
    messages.insert(item);
  }
  return messages;
}

TEST(ManualPages, LintWithoutWarnings) {
  for (const std::string &page : pages) {
    RunResult r = shell("mandoc -Tlint -W warning '" + source_dir + "/man/" + page + "' 2>&1");
    EXPECT_EQ(r.status, 0) << page;
    EXPECT_EQ(r.out, "") << page;
  }
}

struct Program {
  std::string dir;
  std::string page;
};

class Diagnostics : public ::testing::TestWithParam<Program> {};

TEST_P(Diagnostics, DocumentEveryMessageOfTheCode) {
  std::set<std::string> code = messages_in_code(GetParam().dir);
  // The usage line alone would make an empty scan look like success.
  EXPECT_GT(code.size(), 2u) << "no messages found in " << GetParam().dir;
  std::string page = rendered_page(GetParam().page);
  for (const std::string &message : code)
    EXPECT_NE(page.find(collapse_whitespace(message)), std::string::npos)
        << '"' << message << "\" from " << GetParam().dir << "/ is missing in "
        << GetParam().page;
}

TEST_P(Diagnostics, ListNoMessageThatTheCodeLacks) {
  std::set<std::string> code = messages_in_code(GetParam().dir);
  for (const std::string &message : messages_in_page(GetParam().page))
    EXPECT_TRUE(code.count(message)) << '"' << message << "\" in " << GetParam().page
                                     << " is printed by no code in " << GetParam().dir << "/";
}

INSTANTIATE_TEST_SUITE_P(Programs, Diagnostics,
                         ::testing::Values(Program{"io", "vesk-io.1"},
                                           Program{"index", "vesk-index.1"}),
                         [](const auto &info) { return info.param.dir; });

}  // namespace
