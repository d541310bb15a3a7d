// The field validators and the line reader, called directly.
#include <gtest/gtest.h>

#include "harness.h"
#include "vesk_index.h"

using namespace vesk::test;

namespace {

TEST(ParseDecimal, AcceptedTexts) {
  const std::pair<const char *, uint64_t> table[] = {
      {"0", 0}, {"7", 7}, {"0000000001", 1}, {"0000000042", 42}, {"4294967296", 4294967296u},
      {"9999999999", 9999999999u}};
  for (const auto &[text, value] : table) EXPECT_EQ(parse_decimal_u64(text), value) << text;
}

TEST(NameToken, Table) {
  const std::pair<std::string, bool> table[] = {
      {"a", true},          {"Z9", true},          {"a..", true},      {"a+-", true},
      {"lib_x.y+z-1", true}, {std::string(64, 'a'), true},
      {"", false},          {std::string(65, 'a'), false},          {"-a", false},
      {".a", false},        {"_a", false},         {"+a", false},      {"a b", false},
      {"a=b", false},       {"a/b", false},        {"a:b", false},     {"a\tb", false},
      {"a\xc3\xa9", false}, {"\xc3\xa9", false}};
  for (const auto &[text, expected] : table)
    EXPECT_EQ(is_name_token(text.c_str()), expected) << text;
}

TEST(AsciiAlnum, ByteValues) {
  for (int c = -128; c < 256; ++c) {
    bool expected = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    EXPECT_EQ(is_ascii_alnum(c), expected) << c;
  }
}

TEST(HexDigest, Table) {
  const std::string digest(64, 'f');
  EXPECT_TRUE(is_hex_digest(digest.c_str()));
  EXPECT_TRUE(is_hex_digest("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(is_hex_digest(digest.substr(1).c_str()));
  EXPECT_FALSE(is_hex_digest((digest + "f").c_str()));
  EXPECT_FALSE(is_hex_digest(("F" + digest.substr(1)).c_str()));
  EXPECT_FALSE(is_hex_digest(("g" + digest.substr(1)).c_str()));
  EXPECT_FALSE(is_hex_digest(""));
}

TEST(Version, Table) {
  const std::pair<std::string, bool> table[] = {
      {"0", true},         {"1.2.3", true},      {"2_1", true},       {"007.01", true},
      {"1.0p2", true},     {"3.4+r1", true},     {"3.4p0+r12", true}, {"2.12p1+r2", true},
      {"1+r10", true},     {"1_2.3p04+r9009", true},
      {std::string(64, '9'), true},              {"1." + std::string(62, '0'), true},
      {std::string(65, '9'), false},             {"1." + std::string(63, '0'), false},
      {"", false},         {"1.", false},        {"1..2", false},     {".1", false},
      {"1.2a", false},     {"1p", false},        {"1p2.3", false},    {"1p2p3", false},
      {"1+r", false},      {"1+r0", false},      {"1+r01", false},    {"1+r1.2", false},
      {"1+r1p2", false},   {"1+r1+r2", false},   {"1-2", false},      {"p1", false},
      {"+r1", false},      {"1+1", false},       {"1r1", false},      {"1P2", false},
      {"1+R1", false},     {"1 ", false},        {"1._2", false},     {"a", false}};
  for (const auto &[text, expected] : table)
    EXPECT_EQ(is_valid_version(text.c_str()), expected) << text;
}

// Reads every line of a file through one reader.
std::vector<std::vector<std::string>> read_lines(const std::string &bytes) {
  TempDir dir;
  write_file(dir / "file", bytes);
  MetadataReader reader = open_metadata_file((dir / "file").c_str(), index_byte_limit);
  std::vector<std::vector<std::string>> lines;
  char *columns[column_capacity] = {};
  for (int count; (count = read_metadata_line(&reader, columns)) != 0;)
    lines.emplace_back(columns, columns + count);
  EXPECT_EQ(reader.bytes_read, bytes.size());
  fclose(reader.stream);
  return lines;
}

using Split = std::vector<std::vector<std::string>>;

TEST(ReadMetadataLine, SplitsAtEveryTab) {
  EXPECT_EQ(read_lines(""), Split{});
  EXPECT_EQ(read_lines("\n"), Split{{""}});
  EXPECT_EQ(read_lines("a\tb c\n\n"), (Split{{"a", "b c"}, {""}}));
  EXPECT_EQ(read_lines("\t\t\n"), (Split{{"", "", ""}}));
  EXPECT_EQ(read_lines("a\t\tb\t\n"), (Split{{"a", "", "b", ""}}));
  EXPECT_EQ(read_lines(" ~\n"), (Split{{" ~"}}));
}

TEST(ReadMetadataLine, FifteenColumns) {
  std::string line = "0";
  for (int i = 1; i < 15; ++i) line += "\t" + std::to_string(i);
  Split lines = read_lines(line + "\n");
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].size(), 15u);
  EXPECT_EQ(lines[0][14], "14");
}

TEST(ReadMetadataLine, LineOf4096Bytes) {
  std::string line(4096, 'x');
  line[100] = '\t';
  Split lines = read_lines(line + "\n" + line + "\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1][0].size() + lines[1][1].size(), 4095u);
}

}  // namespace
