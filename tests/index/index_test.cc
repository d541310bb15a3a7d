// vesk-index on a valid pair at the edges of its ranges, one change a case.
#include "harness.h"

using namespace vesk::test;
using Text = const string &;

const string repository(64, 'r'), abi_digest(64, 'a'), delegation_sha(64, 'e');

string row(Text package, Text rank = "1", Text text = "~", Text size = "1", Text dependencies = "-",
           Text upstream = "") {
  return package + "\t" + rank + "\t" + string(64, 'b') + "\t" + size + "\t" + string(64, 'b') +
         ".vesk\t0.1\t" + dependencies + "\ti586\tmusl\t" + abi_digest + "\tpentium-mmx-audited\t" +
         text + "\thttps://" + upstream + "\t0\n";
}

// 40189 and 797186 share a hash: lookups go past a hash match.
const string names = "package\thello\npackage\t40189\npackage\t797186\n";
const string delegation = "VESK-DELEGATION\t1\t" + repository + "\t1\t1\t2000000\t" + abi_digest +
                          "\ti586\tmusl\tpentium-mmx-audited\nsigner\tssh-ed25519\t" +
                          string(60, 'A') + "Zaz09+/=\n" + names;
const string index_text =
    "VESK-INDEX\t2\t" + repository + "\t999999999\t" + abi_digest + "\t0.1\t1395200\t2000000\t1\t" +
    delegation_sha + "\n" +
    row("hello\t2.12p1+r2", "99999999", string(512, 'g'), "35651584", "d=1", string(504, 'u')) +
    row("hello\t2_11") + row("40189\t1") + row("797186\t1");

// Both files filled to their byte limits, the last padding cut to fit.
const string to_full_delegation = [] {
  string text = delegation;
  for (int n = 1000; text.size() < 16384; ++n)
    text += "package\t" + std::to_string(n) + string(58, 'x') + "\n";
  return delegation + ">" + text.substr(0, 16383) + "\n";
}();
const string to_full_index = [] {
  string text = index_text;
  for (int n = 1000; text.size() < 262144; ++n)
    text += row("hello\t" + std::to_string(n), std::to_string(n),
                string(std::min<size_t>(512, 261878 - text.size()), 'x'));
  return index_text + ">" + text;
}();

// Each failure (none: valid) with its changes "find>with" at the first `find` in the call,
// delegation and index (apart by form feeds).
const string files = "R=" + repository + " A=" + abi_digest + " S=" + delegation_sha +
                     " && $INDEX delegation 1395200 d && $INDEX index 1395200 $R $A $S d i\f" +
                     delegation + "\f" + index_text;
const std::pair<string, std::vector<string>> cases[] = {
    {"", {to_full_delegation, to_full_index}},
    {"delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX",
     {"delegation 1395200>index 1"}},
    {"integer length", {"1395200>00001395200", "1395200>''"}},
    {"integer syntax", {"1395200>1x"}},
    {"metadata read error", {" d > / "}},
    {"metadata open", {"d i>d -"}},
    {"trusted context", {"$R>-", "$A>a", "$S>e", "$R>core", "$A>$S"}},
    {"line length", {"\f>\f" + string(4097, 'x') + "\n"}},
    {"metadata byte limit", {to_full_delegation + "\n", to_full_index + "\n"}},
    {"non-ASCII/control/NUL metadata", {"~>\x7f"}},
    {"too many columns", {"hello\t2_11>\thello\t2_11"}},
    {"missing final LF", {"\n\f>\f"}},
    {"delegation header", {"musl\t>", "ATION>ATIONS", "N\t1>N\t2"}},
    {"delegation identity/ABI", {"\tr>\trr", "0\ta>0\tA"}},
    {"delegation time/epoch", {"1\t1>0\t1", "1\t1>1000000000\t1", "1\t2>0\t2", "1\t2>1395201\t2"}},
    {"delegation platform", {"i586>i686", "musl>glibc", "-audited>"}},
    {"signer", {"signer>signers", "ed25519>rsa", "Zaz>Zazz", "=\n>=\tx\n"}},
    {"signer encoding", {"Zaz>Z-z"}},
    {"empty delegation", {names + ">"}},
    {"delegated package",
     {"hello\n>a/b\n", "40189\n>hello\n", "40189\n>x\ty\n", "package>Package"}},
    {"index header", {"X\t>XX\t", "X\t2>X\t3", "X\t2>X\t2\t"}},
    {"index identity/ABI/delegation", {"9\ta>9\te", "0.1>0.2", "\te>\tf"}},
    {"index serial/epoch", {"999999999>0", "999999999>1000000000"}},
    {"index validity",
     {"1395200\t2>0\t2", "1395200\t>1395201\t", "\t2000000\t1>\t1395200\t1",
      "\t2000000\t1>\t2000001\t1", "1395200\t>1395199\t"}},
    {"package column count", {"\t~>"}},
    {"package digest", {"\tb>\tB"}},
    {"package name/version",
     {"40189\t>-\t", "40189\t>x\t", "2_11>" + string(65, '9'), "2_11>.1", "2_11>1.", "2_11>1p",
      "2_11>1+r", "2_11>1+r0", "2_11>1+x"}},
    {"package rank/size",
     {"\t99999999\t>\t0\t", "\t99999999\t>\t100000000\t", "35651584>0", "35651584>35651585"}},
    {"package filename/system", {".vesk>.vsk", "vesk\t0.1>vesk\t0.2"}},
    {"empty dependency", {"d=1>"}},
    {"dependency spacing", {"d=1>a=1 ", "d=1>a=1  b=2"}},
    {"dependency syntax", {"d=1>a=", "d=1>=1", "d=1>a=1 b"}},
    {"dependency token length", {"d=1>a=" + repository + "r", "d=1>" + repository + "r=1"}},
    {"dependency token/self dependency", {"d=1>-a=1", "d=1>a==1", "d=1>hello=2"}},
    {"package platform",
     {"-\ti586>-\ti686", "musl\ta>glibc\ta", "musl\ta>musl\te", "audited\tg>x\tg"}},
    {"description/upstream/date", {"\tg>\tgg", "https://u>https://uu", "https>http"}},
    {"duplicate version/rank", {"2_11\t1>2_11\t0099999999", "2_11>2.12p1+r2"}},
};

TEST(Index, EachChangeGivesItsMessage) {
  TempDir dir;
  for (const auto &[failure, changes] : cases)
    for (Text change : changes) {
      SCOPED_TRACE(failure + ": " + change.substr(0, 40));
      const size_t cut = change.find('>');
      string text = files, call, file;
      text.replace(text.find(change.substr(0, cut)), cut, change.substr(cut + 1));
      std::istringstream parts(text);
      getline(parts, call, '\f');
      for (const char *name : {"d", "i"}) {
        getline(parts, file, '\f');
        write_file(dir / name, file);
      }
      expect(sh("cd " + dir.path + " && " + call), failure.empty() ? "" : "vesk-index: " + failure);
    }
}
