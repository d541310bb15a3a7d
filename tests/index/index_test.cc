// vesk-index on a valid delegation and index at the edges of their ranges, one change a case.
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string repository(64, 'r'), abi_digest(64, 'a'), delegation_sha(64, 'e');
const std::string file_sha(64, 'b'), signer_key = std::string(60, 'A') + "Zaz09+/=";

std::string row(Text name, Text version, Text rank = "1", Text size = "1", Text dependencies = "-",
                Text text = "~", Text upstream = "") {
  return name + "\t" + version + "\t" + rank + "\t" + file_sha + "\t" + size + "\t" + file_sha +
         ".vesk\t0.1\t" + dependencies + "\ti586\tmusl\t" + abi_digest + "\tpentium-mmx-audited\t" +
         text + "\thttps://" + upstream + "\t0\n";
}

// 40189 and 797186 have one hash: the name lookups and the duplicate rule go past a hash match.
const std::string names = "package\thello\npackage\t40189\npackage\t797186\n";
const std::string delegation =
    "VESK-DELEGATION\t1\t" + repository + "\t1\t1\t2000000\t" + abi_digest +
    "\ti586\tmusl\tpentium-mmx-audited\nsigner\tssh-ed25519\t" + signer_key + "\n" + names;
const std::string index_text = "VESK-INDEX\t2\t" + repository + "\t999999999\t" + abi_digest +
                               "\t0.1\t1395200\t2000000\t1\t" + delegation_sha + "\n" +
                               row("hello", "2.12p1+r2", "99999999", "35651584", "d=1",
                                   std::string(512, 'g'), std::string(504, 'u')) +
                               row("hello", "2_11") + row("40189", "1") + row("797186", "1");

// Both files filled to their byte limits: lines of 13 and 266 bytes plus x padding (at most 58 in
// a name, so that the last line has room).
const std::string full_delegation = [] {
  std::string text = delegation;
  for (int n = 1000; text.size() < 16384; ++n)
    text += "package\t" + std::to_string(n) +
            std::string(std::min<size_t>(58, 16384 - 13 - text.size()), 'x') + "\n";
  return text;
}();
const std::string full_index = [] {
  std::string text = index_text;
  for (int n = 1000; text.size() < 262144; ++n)
    text += row("hello", std::to_string(n), std::to_string(n), "1", "-",
                std::string(std::min<size_t>(512, 262144 - 266 - text.size()), 'x'));
  return text;
}();

// A change replaces the first `find` in the call, the delegation and the index, apart by form
// feeds. $R, $A and $S are the repository, ABI and delegation digests.
const std::string files = "$INDEX delegation 1395200 d && $INDEX index 1395200 $R $A $S d i\f" +
                          delegation + "\f" + index_text;
// Each failure (none: a valid pair) with the changes that give it.
const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> cases =
    {
        {"", {{delegation, full_delegation}, {index_text, full_index}}},
        {"delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX",
         {{"delegation 1395200", "index 1"}, {"index", "Index"}}},
        {"integer length", {{"1395200", "00001395200"}, {"1395200", "''"}}},
        {"integer syntax", {{"1395200", "1x"}, {"1395200", "/"}}},
        {"metadata read error", {{" d ", " / "}}},
        {"metadata open", {{"d i", "d -"}}},
        {"trusted context", {{"$R", "-"}, {"$A", "a"}, {"$S", "e"}, {"$R", "core"}, {"$A", "$S"}}},
        {"line length", {{"\f", "\f" + std::string(4097, 'x') + "\n"}}},
        {"metadata byte limit",
         {{delegation, full_delegation + "\n"}, {index_text, full_index + "\n"}}},
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
         {{"hello\n", "a/b\n"},
          {"40189\n", "hello\n"},
          {"40189\n", "x\ty\n"},
          {"package", "Package"}}},
        {"index header", {{"X\t", "XX\t"}, {"X\t2", "X\t3"}, {"X\t2", "X\t2\t"}}},
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
          {"40189\t", "x\t"},
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
        {"dependency token length",
         {{"d=1", "a=" + repository + "r"}, {"d=1", repository + "r=1"}}},
        {"dependency token/self dependency",
         {{"d=1", "-a=1"}, {"d=1", "a==1"}, {"d=1", "hello=2"}}},
        {"package platform",
         {{"-\ti586", "-\ti686"},
          {"musl\ta", "glibc\ta"},
          {"musl\ta", "musl\te"},
          {"audited\tg", "x\tg"}}},
        {"description/upstream/date",
         {{"\t~", "\t"}, {"\tg", "\tgg"}, {"https://u", "https://uu"}, {"https", "http"}}},
        {"duplicate version/rank", {{"2_11\t1", "2_11\t0099999999"}, {"2_11", "2.12p1+r2"}}},
};

TEST(Index, EachChangeGivesItsMessage) {
  TempDir dir;
  for (const auto &[failure, changes] : cases)
    for (const auto &[find, with] : changes) {
      SCOPED_TRACE(failure + ": " + with.substr(0, 40));
      std::string text = files;
      text.replace(text.find(find), find.size(), with);
      const size_t delegation_start = text.find('\f') + 1, index_start = text.rfind('\f') + 1;
      write_file(dir / "d", text.substr(delegation_start, index_start - delegation_start - 1));
      write_file(dir / "i", text.substr(index_start));
      expect(sh("cd " + dir.path + " && R=" + repository + " A=" + abi_digest +
                " S=" + delegation_sha + " && " + text.substr(0, delegation_start - 1)),
             failure.empty() ? "" : "vesk-index: " + failure);
    }
}
