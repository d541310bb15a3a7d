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

// Both files at their byte limits.
const std::string full_delegation = [] {
  std::string text = delegation;
  for (int n = 1000; text.size() < 16384; ++n)
    text += "package\t" + std::to_string(n) +
            std::string(std::min(60ul, 16371 - text.size()), 'x') + "\n";
  return text;
}();
const std::string full_index = [] {
  std::string text = index_text;
  for (int n = 1000; text.size() < 262144; ++n) {
    const std::string number = std::to_string(n), pad(std::min(504ul, 261878 - text.size()), 'x');
    text += row({"hello", number, number, "1", "-", pad});
  }
  return text;
}();

// A case replaces the first `find` (or appends) in the delegation, a form feed and the index.
const std::string files = delegation + "\f" + index_text;
struct Case {
  std::string find, with, failure, call, what;
};
const Case cases[] = {
    {files, full_delegation + "\f" + full_index, "", "", "full files"},
    {"", "", "delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX", "index 1 d"},
    {"", "", "integer length", "delegation 00000000001 d"},
    {"", "", "integer syntax", "index 1x r a e - -", "NOW first"},
    {"", "", "metadata read error", "delegation 1 /"},
    {"", "", "metadata open", "index 1 r a e d -"},
    {"", "", "trusted context", "index 1 r a e d i"},
    {"\f", std::string(4097, 'x') + "\n\f", "line length"},
    {files, full_delegation + "\n\f" + index_text, "metadata byte limit", "", "delegation"},
    {files, delegation + "\f" + full_index + "\n", "metadata byte limit", "", "index"},
    {"~", "\x7f", "non-ASCII/control/NUL metadata"},
    {"hello\t2_11", "\thello\t2_11", "too many columns", "", "leading TAB"},
    {"797186\n\f", "797186\f", "missing final LF"},
    {"N\t1", "N\t2", "delegation header"},
    {"\tr", "\trr", "delegation identity/ABI"},
    {"\t1\t2000000", "\t1395201\t2000000", "delegation time/epoch"},
    {"i586", "i686", "delegation platform"},
    {"signer", "signers", "signer"},
    {"Zaz", "Z-z", "signer encoding"},
    {names, "", "empty delegation"},
    {"\f", "package\ta/b\n\f", "delegated package"},
    {"INDEX", "INDEX2", "index header"},
    {"0.1", "0.2", "index identity/ABI/delegation"},
    {"2000000\t1\t", "2000000\t2\t", "index serial/epoch"},
    {"1395200\t2000000", "1395200\t1395200", "index validity", "", "NOW at the expiry"},
    {"1395200\t", "1395199\t", "index validity", "", "a week and 1 s"},
    {"\t~", "", "package column count"},
    {"\tb", "\tB", "package digest"},
    {"", row({"n749192"}), "package name/version", "", "hash of a delegated name"},
    {"2.12p1+r2", std::string(65, '9'), "package name/version", "", "65-digit version"},
    {"2.12p1+r2", "1+r0", "package name/version", "", "revision 0"},
    {"\t99999999\t", "\t100000000\t", "package rank/size", "", "rank"},
    {"35651584", "35651585", "package rank/size", "", "size"},
    {".vesk", ".vsk", "package filename/system"},
    {"d=1", "", "empty dependency"},
    {"d=1", "a=1 ", "dependency spacing"},
    {"d=1", "a=", "dependency syntax"},
    {"d=1", "a=" + repository + "r", "dependency token length"},
    {"d=1", "hello=2", "dependency token/self dependency"},
    {"musl\ta", "musl\te", "package platform"},
    {"https://u", "https://uu", "description/upstream/date"},
    {"\t6\t", "\t0099999999\t", "duplicate version/rank"},
};

TEST(Index, EachChangeGivesItsMessage) {
  TempDir dir;
  for (const auto &[find, with, failure, call, what] : cases) {
    SCOPED_TRACE(failure + " " + what);
    std::string changed = files;
    changed.replace(find.empty() ? files.size() : files.find(find), find.size(), with);
    write_file(dir / "d", changed.substr(0, changed.find('\f')));
    write_file(dir / "i", changed.substr(changed.find('\f') + 1));
    const std::string args = " 1395200 " + repository + " " + abi_digest + " " + delegation_sha;
    expect(sh("cd " + dir.path + " && $INDEX " + (call.empty() ? "index" + args + " d i" : call)),
           failure.empty() ? "" : "vesk-index: " + failure);
  }
}
