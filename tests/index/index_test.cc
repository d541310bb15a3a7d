// vesk-index on a delegation d and an index i ($A: the ABI digest, $S: d's digest), one change per case.
#include "harness.h"

using namespace vesk::test;
using str = const std::string &;

const std::string A(64, 'a'), S(64, 'e'), H(64, 'b'), t64(64, 't'), n64(64, '9'), u(504, 'u'), g(512, 'g');
const std::string K = std::string(60, 'A') + "Zaz09+/=", x4096(4096, 'x');  // K: the key alphabet's edges

std::string row(str name, str version = "1", str rank = "1", str deps = "-", str text = "x", str size = "1",
                str up = "") {
  return name + "\t" + version + "\t" + rank + "\t" + H + "\t" + size + "\t" + H + ".vesk\t0.1\t" + deps +
         "\ti586\tmusl\t" + A + "\tpentium-mmx-audited\t" + text + "\thttps://" + up + "\t0\n";
}

const std::string names =  // n512789 and n749192, 40189 and 797186: two pairs of texts with one FNV-1a hash
    "package\thello\npackage\thello-doc\npackage\tn512789\npackage\t40189\npackage\t797186\n";
const std::string delegation = "VESK-DELEGATION\t1\tcore\t3\t100\t2000000\t" + A +
                               "\ti586\tmusl\tpentium-mmx-audited\nsigner\tssh-ed25519\t" + K + "\n" + names;
const std::string index_text = "VESK-INDEX\t2\tcore\t1\t" + A + "\t0.1\t450\t700\t3\t" + S + "\n" +
                               row("hello", "2.12p1+r2", "99999999", "d=1", g, "35651584", u) +
                               row("hello", "2_11", "6", "-", "~") + row("hello-doc", "2.12", "1");

std::string sub(std::string text, str find, str with) {  // `with` at the first `find`, or appended
  return text.replace(find.empty() ? text.size() : text.find(find), find.size(), with);
}
struct Change { std::string d, i, call = "500"; };  // call: the index command's NOW, or the arguments
Change D(str find, str with, str call = "500") { return {sub(delegation, find, with), index_text, call}; }
Change I(str find, str with, str call = "500") { return {delegation, sub(index_text, find, with), call}; }
Change N(str call) { return {delegation, index_text, call}; }
Change Ver(str with) { return I("2.12p1+r2", with); }

TEST(Index, EachChangeGivesItsMessage) {
  // Names 1000, 1001, ... (x on the first few) fill the delegation to 16384 bytes; padded rows for
  // every other name fill the index to 262144.
  size_t left = 16384 - delegation.size(), count = left / 13, m = (count - left % 13 + 1) / 2;
  size_t pad = 262144 - index_text.size() - m * (row("1000").size() - 1);
  std::string full = delegation, big = index_text;
  for (size_t k = 0; k < count; ++k)
    full += "package\t" + std::to_string(1000 + k) + (k < left % 13 ? "x\n" : "\n");
  for (size_t i = 0; i < m; ++i)
    big += row(std::to_string(count + 999 - 2 * i), "1", "1", "-", std::string(pad / m + (i < pad % m), 'x'));
  const std::vector<std::pair<std::string, std::vector<Change>>> table = {
      {"", {D("\tcore\t3\t100\t", "\t" + t64 + "\t1\t1\t", "delegation 0000000001 d"), {full, big}, Ver(n64),
            D("\t3\t", "\t999999999\t", "delegation 1999999 d"), I("core\t1\t", "core\t999999999\t"),
            I("\t700\t3\t", "\t700\t003\t"), I("450\t700", "1395200\t2000000", "1395200"), I("0\n", "450\n"),
            I("\t450\t", "\t100\t", "699"), I("d=1", "a=1 " + t64 + "=" + t64),
            I("", row("hello", "1.0", "5") + row("hello", "1.00", "8") + row("hello-doc", "2_11", "6")),
            I("", row("40189") + row("797186") + row("hello", "40189", "40") + row("hello", "797186", "41") +
                      row("n512789", "3.4p0+r12"))}},
      {"delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX",
       {N(" "), N("Delegation 500 d"), N("delegation 500 core $A $S d i"), N("index 500 d")}},
      {"integer length", {N("delegation '' -"), N("delegation 0000000500x d")}},
      {"integer syntax", {N("index 5x core $A $S - -")}}, {"metadata read error", {N("delegation 500 /")}},
      {"metadata open", {N("index 500 other $A $S d -")}}, {"line length", {D("", x4096 + "x\n")}},
      {"metadata byte limit", {{full + "\n", index_text}, {full, big + "\n"}}},
      {"non-ASCII/control/NUL metadata", {I("0\n", "0\r\n"), I("~", {'\0'}), I("~", "\x7f"), I("~", "\x80")}},
      {"too many columns", {I("\t~", "\t\t~")}}, {"missing final LF", {D("797186\n", "797186")}},
      {"delegation header", {D("musl\t", ""), D("ATION", "ATIONS"), D("N\t1", "N\t2")}},
      {"delegation identity/ABI", {D("\tcore", "\tc" + t64), D("\ta", "\tA"), D("a\ti586", "\ti586")}},
      {"delegation time/epoch",
       {N("99"), D("\t100\t", "\t0\t", "0"), N("2000000"), D("\t3\t", "\t1000000000\t"), D("\t3\t", "\t0\t")}},
      {"delegation platform", {D("i586", "i686"), D("musl", "glibc"), D("-audited", "")}},
      {"signer", {D("signer", "signers", "index 500 core $A $S d -"), D("ed25519", "rsa"), D(K, K + "A")}},
      {"signer encoding", {D(K, "-" + K.substr(1))}}, {"empty delegation", {D(names, "")}},
      {"delegated package", {D("", x4096 + "\n"), D("", "\n"), D("", "package\tx\ty\n"), D("", "Package\tx\n"),
                             D("", "package\ta/b\n"), D("", "package\thello\n")}},
      {"trusted context",
       {N("index 500 other $A $S d i"), N("index 500 core $S $S d i"), N("index 500 core $A ${S%e}E d i")}},
      {"index header", {I("X\t2", "X\t2\t"), I("INDEX", "INDEX2"), I("X\t2", "X\t3")}},
      {"index identity/ABI/delegation", {I("core", "c"), I("1\ta", "1\te"), I("0.1", "0.2"), I("\te", "\tf")}},
      {"index serial/epoch", {{delegation, sub(sub(index_text, "core\t1\t", "core\t0\t"), "\t3\t", "\tx\t")},
                              I("core\t1\t", "core\t1000000000\t"), I("\t700\t3\t", "\t700\t4\t")}},
      {"index validity", {I("\t450\t", "\t99\t"), N("449"), N("700"), I("450\t700", "100\t604901", "100"),
                          I("450\t700", "1999999\t2000001", "1999999")}},
      {"package column count", {I("\t~", "")}}, {"package digest", {I("\tb", "\tB")}},
      {"package name/version", {I("", row("n749192")), Ver(n64 + "9"), Ver(".1"), Ver("1."), Ver("1p"),
                                Ver("1p2.3"), Ver("1+r"), Ver("1+r0"), Ver("1+r1.2")}},
      {"package rank/size",
       {I("99999999", "100000000"), I("99999999", "0"), I("35651584", "35651585"), I("35651584", "0")}},
      {"package filename/system", {I(".vesk", ".vsk"), I("\t0.1\t-", "\t0.2\t-")}},
      {"empty dependency", {I("d=1", "")}}, {"dependency spacing", {I("d=1", "a=1  b=2"), I("d=1", "a=1 ")}},
      {"dependency syntax", {I("d=1", " a=1"), I("d=1", "a=1 b"), I("d=1", "=1"), I("d=1", "a=")}},
      {"dependency token length", {I("d=1", t64 + "t=1"), I("d=1", "a=" + t64 + "t")}},
      {"dependency token/self dependency", {I("d=1", "-a=1"), I("d=1", "a==1"), I("d=1", "hello=2")}},
      {"package platform", {I("i586", "i686"), I("musl", "glibc"), I("musl\ta", "musl\te"), I("-audited", "")}},
      {"description/upstream/date",
       {I(g, g + "g"), I(g, ""), I(u, u + "u"), I("https", "http"), I("0\n", "451\n")}},
      {"duplicate version/rank", {I("\t6\t", "\t0099999999\t"), I("2_11", "2.12p1+r2")}},
  };
  TempDir d;
  for (const auto &[message, changes] : table)
    for (const Change &c : changes) {
      SCOPED_TRACE("\"" + message + "\" #" + std::to_string(&c - changes.data()));
      write_file(d / "d", c.d), write_file(d / "i", c.i);
      std::string args = isdigit(c.call[0]) ? "index " + c.call + " core $A $S d i" : c.call;
      expect(sh("cd " + d.path + " && A=" + A + " S=" + S + " && $INDEX " + args),
             message.empty() ? "" : "vesk-index: " + message);
    }
}
