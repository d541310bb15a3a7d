// vesk-index on a valid delegation and index at the edges of their ranges, one change a case.
#include "harness.h"

using namespace vesk::test;

const std::string repository(64, 'r'), abi_digest(64, 'a'), delegation_sha(64, 'e');
const std::string file_sha(64, 'b'), signer_key = std::string(60, 'A') + "Zaz09+/=";

struct Row {
  std::string name, version = "1", rank = "1", size = "1", dependencies = "-", text = "x", upstream;
};
std::string row(const Row &r) {
  return r.name + "\t" + r.version + "\t" + r.rank + "\t" + file_sha + "\t" + r.size + "\t" +
         file_sha + ".vesk\t0.1\t" + r.dependencies + "\ti586\tmusl\t" + abi_digest +
         "\tpentium-mmx-audited\t" + r.text + "\thttps://" + r.upstream + "\t0\n";
}

// n512789 and n749192, 40189 and 797186: names of one hash.
const std::string names = "package\thello\npackage\tn512789\npackage\t40189\npackage\t797186\n";
const std::string delegation =
    "VESK-DELEGATION\t1\t" + repository + "\t1\t1\t2000000\t" + abi_digest +
    "\ti586\tmusl\tpentium-mmx-audited\nsigner\tssh-ed25519\t" + signer_key + "\n" + names;
const std::string index_text = "VESK-INDEX\t2\t" + repository + "\t999999999\t" + abi_digest +
                               "\t0.1\t1395200\t2000000\t1\t" + delegation_sha + "\n" +
                               row({"hello", "2.12p1+r2", "99999999", "35651584", "d=1",
                                    std::string(512, 'g'), std::string(504, 'u')}) +
                               row({"hello", "2_11", "6", "1", "-", "~"}) + row({"40189"}) +
                               row({"797186"});

// Both files at their byte limits (a filler line is 13 bytes, a row 266, before the x padding).
const std::string full_delegation = [] {
  std::string text = delegation;
  for (int n = 1000; text.size() < 16384; ++n)
    text += "package\t" + std::to_string(n) +
            std::string(std::min<size_t>(60, 16371 - text.size()), 'x') + "\n";
  return text;
}();
const std::string full_index = [] {
  std::string text = index_text;
  for (int n = 1000; text.size() < 262144; ++n) {
    const std::string number = std::to_string(n),
                      pad(std::min<size_t>(504, 261878 - text.size()), 'x');
    text += row({"hello", number, number, "1", "-", pad});
  }
  return text;
}();

// A case replaces the first `find` (or appends) in the delegation, a form feed and the index,
// then runs `call` with $R, $A and $S the repository, ABI and delegation digests.
const std::string files = delegation + "\f" + index_text;
struct Change {
  std::string find, with, call = "index 1395200 $R $A $S d i";
};
// Each failure (none: a valid pair) with the changes that give it.
const std::vector<std::pair<std::string, std::vector<Change>>> cases = {
    {"", {{files, full_delegation + "\f" + full_index}}},
    {"delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX",
     {{"", "", "index 1 d"}, {"", "", "Index 1 $R $A $S d i"}}},
    {"integer length", {{"", "", "delegation 00000000001 d"}, {"", "", "delegation '' d"}}},
    {"integer syntax", {{"", "", "index 1x $R $A $S - -"}, {"", "", "delegation /1 d"}}},
    {"metadata read error", {{"", "", "delegation 1 /"}}},
    {"metadata open", {{"", "", "index 1 $R $A $S d -"}}},
    {"trusted context",
     {{"", "", "index 1 - $A $S d i"},
      {"", "", "index 1 $R a $S d i"},
      {"", "", "index 1 $R $A e d i"},
      {"", "", "index 1 core $A $S d i"},
      {"", "", "index 1 $R $S $S d i"}}},
    {"line length", {{"\f", std::string(4097, 'x') + "\n\f"}}},
    {"metadata byte limit",
     {{files, full_delegation + "\n\f" + index_text},
      {files, delegation + "\f" + full_index + "\n"}}},
    {"non-ASCII/control/NUL metadata", {{"~", "\x7f"}}},
    {"too many columns", {{"hello\t2_11", "\thello\t2_11"}}},
    {"missing final LF", {{"797186\n\f", "797186\f"}}},
    {"delegation header", {{"musl\t", ""}, {"ATION", "ATIONS"}, {"N\t1", "N\t2"}}},
    {"delegation identity/ABI", {{"\tr", "\trr"}, {"0\ta", "0\tA"}}},
    {"delegation time/epoch",
     {{"\t1\t1\t2", "\t0\t1\t2"},
      {"\t1\t1\t2", "\t1000000000\t1\t2"},
      {"\t1\t1\t2", "\t1\t0\t2"},
      {"\t1\t2", "\t1395201\t2"},
      {"\t2000000\t", "\t1395200\t"}}},
    {"delegation platform", {{"i586", "i686"}, {"musl", "glibc"}, {"-audited", ""}}},
    {"signer", {{"signer", "signers"}, {"ed25519", "rsa"}, {"Zaz", "Zazz"}, {"=\n", "=\tx\n"}}},
    {"signer encoding", {{"Zaz", "Z-z"}}},
    {"empty delegation", {{names, ""}}},
    {"delegated package",
     {{"\f", "package\ta/b\n\f"},
      {"\f", "package\thello\n\f"},
      {"\f", "package\tx\ty\n\f"},
      {"\f", "Package\tx\n\f"}}},
    {"index header", {{"INDEX", "INDEX2"}, {"X\t2", "X\t3"}, {"X\t2", "X\t2\t"}}},
    {"index identity/ABI/delegation", {{"9\ta", "9\te"}, {"0.1", "0.2"}, {"\te", "\tf"}}},
    {"index serial/epoch",
     {{"\t999999999\t", "\t0\t"},
      {"\t999999999\t", "\t1000000000\t"},
      {"2000000\t1\t", "2000000\t2\t"}}},
    {"index validity",
     {{"1395200\t2", "0\t2"},
      {"1395200\t", "1395201\t"},
      {"\t2000000\t1", "\t1395200\t1"},
      {"\t2000000\t1", "\t2000001\t1"},
      {"1395200\t", "1395199\t"}}},
    {"package column count", {{"\t~", ""}}},
    {"package digest", {{"\tb", "\tB"}}},
    {"package name/version",
     {{"40189\t", "-\t"},
      {"", row({"n749192"})},
      {"2_11", std::string(65, '9')},
      {"2_11", ".1"},
      {"2_11", "1."},
      {"2_11", "1p"},
      {"2_11", "1+r"},
      {"2_11", "1+r0"},
      {"2_11", "1+x"}}},
    {"package rank/size",
     {{"\t99999999\t", "\t0\t"},
      {"\t99999999\t", "\t100000000\t"},
      {"35651584", "0"},
      {"35651584", "35651585"}}},
    {"package filename/system", {{".vesk", ".vsk"}, {"vesk\t0.1", "vesk\t0.2"}}},
    {"empty dependency", {{"d=1", ""}}},
    {"dependency spacing", {{"d=1", "a=1 "}, {"d=1", "a=1  b=2"}}},
    {"dependency syntax", {{"d=1", "a="}, {"d=1", "=1"}, {"d=1", "a=1 b"}}},
    {"dependency token length", {{"d=1", "a=" + repository + "r"}, {"d=1", repository + "r=1"}}},
    {"dependency token/self dependency", {{"d=1", "-a=1"}, {"d=1", "a==1"}, {"d=1", "hello=2"}}},
    {"package platform",
     {{"-\ti586", "-\ti686"},
      {"musl\ta", "glibc\ta"},
      {"musl\ta", "musl\te"},
      {"audited\tg", "x\tg"}}},
    {"description/upstream/date",
     {{"\t~", "\t"},
      {"\tg", "\tgg"},
      {"https://u", "https://uu"},
      {"https", "http"},
      {"\t0\n", "\t1395201\n"}}},
    {"duplicate version/rank", {{"\t6\t", "\t0099999999\t"}, {"2_11", "2.12p1+r2"}}},
};

TEST(Index, EachChangeGivesItsMessage) {
  TempDir dir;
  for (const auto &[failure, changes] : cases)
    for (size_t number = 0; number < changes.size(); ++number) {
      const auto &[find, with, call] = changes[number];
      SCOPED_TRACE((failure.empty() ? "valid" : failure) + " #" + std::to_string(number));
      std::string changed = files;
      changed.replace(find.empty() ? files.size() : files.find(find), find.size(), with);
      const size_t form_feed = changed.find('\f');
      write_file(dir / "d", changed.substr(0, form_feed));
      write_file(dir / "i", changed.substr(form_feed + 1));
      expect(sh("cd " + dir.path + " && R=" + repository + " A=" + abi_digest +
                " S=" + delegation_sha + " && $INDEX " + call),
             failure.empty() ? "" : "vesk-index: " + failure);
    }
}
