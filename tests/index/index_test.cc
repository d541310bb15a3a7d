// vesk-index on one valid delegation and index pair, each case changing one thing in it.
#include "harness.h"

using namespace vesk::test;
using Text = const std::string &;

const std::string abi_digest(64, 'a'), delegation_sha(64, 'e'), file_sha(64, 'b'), name64(64, 't');
const std::string signer_key = std::string(60, 'A') + "Zaz09+/=";  // the key alphabet's edges

struct Row {
  std::string name, version = "1", rank = "1", size = "1", dependencies = "-", text = "x", upstream;
};
std::string row(const Row &r) {
  return r.name + "\t" + r.version + "\t" + r.rank + "\t" + file_sha + "\t" + r.size + "\t" +
         file_sha + ".vesk\t0.1\t" + r.dependencies + "\ti586\tmusl\t" + abi_digest +
         "\tpentium-mmx-audited\t" + r.text + "\thttps://" + r.upstream + "\t0\n";
}

// n512789 and n749192, 40189 and 797186: two pairs of names with one hash.
const std::string names = "package\thello\npackage\tn512789\npackage\t40189\npackage\t797186\n";
const std::string delegation = "VESK-DELEGATION\t1\tcore\t3\t100\t2000000\t" + abi_digest +
                               "\ti586\tmusl\tpentium-mmx-audited\nsigner\tssh-ed25519\t" +
                               signer_key + "\n" + names;
const std::string index_text =
    "VESK-INDEX\t2\tcore\t1\t" + abi_digest + "\t0.1\t450\t700\t3\t" + delegation_sha + "\n" +
    row({"hello", "2.12p1+r2", "99999999", "35651584", "d=1", std::string(512, 'g'),
         std::string(504, 'u')}) +
    row({"hello", "2_11", "6", "1", "-", "~"}) + row({"40189"}) + row({"797186"});

// Lines of `bytes` (the last one shorter) made by `line` until `text` is `limit` bytes long.
std::string fill(std::string text, size_t limit, size_t bytes, auto line) {
  for (int number = 1000; text.size() < limit; ++number)
    text += line(std::to_string(number), std::min(bytes, limit - text.size()));
  return text;
}
const std::string full_delegation = fill(delegation, 16384, 73, [](Text number, size_t bytes) {
  return "package\t" + number + std::string(bytes - 13, 'x') + "\n";
});
const std::string full_index = fill(index_text, 262144, 770, [](Text number, size_t bytes) {
  return row({"hello", number, number, "1", "-", std::string(bytes - 266, 'x')});
});

const std::string files = delegation + "\f" + index_text;

// A case replaces the first `find` in the delegation, a form feed, and the index (an empty
// `find`: the end), and calls "index NOW core $A $S d i", or the program with `call` if it
// is no NOW.
struct Case {
  std::string find, with, failure, what, call = "500";
};
const Case cases[] = {
    {"core\t3\t100", name64 + "\t1\t1", "", "edges", "delegation 0000000001 d"},
    {files, full_delegation + "\f" + full_index, "", "full files"},
    {"core\t1\t", "core\t999999999\t", "", "last serial"},
    {"450\t700", "1395200\t2000000", "", "a week to the end", "1395200"},
    {"", "", "delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX", "",
     "index 5 d"},
    {"", "", "integer length", "", "delegation 00000000500 d"},
    {"", "", "integer syntax", "NOW before files", "index 5x core $A $S - -"},
    {"", "", "metadata read error", "", "delegation 500 /"},
    {"", "", "metadata open", "", "index 500 other $A $S d -"},
    {"\f", std::string(4097, 'x') + "\n\f", "line length"},
    {files, full_delegation + "\n\f" + index_text, "metadata byte limit", "delegation"},
    {files, delegation + "\f" + full_index + "\n", "metadata byte limit", "index"},
    {"~", "\x7f", "non-ASCII/control/NUL metadata"},
    {"hello\t2_11", "\thello\t2_11", "too many columns", "a row starting with TAB"},
    {"797186\n\f", "797186\f", "missing final LF"},
    {"N\t1", "N\t2", "delegation header"},
    {"\tcore", "\tc" + name64, "delegation identity/ABI"},
    {"", "", "delegation time/epoch", "", "99"},
    {"i586", "i686", "delegation platform"},
    {"signer", "signers", "signer"},
    {signer_key, "-" + signer_key.substr(1), "signer encoding"},
    {names, "", "empty delegation"},
    {"\f", "package\ta/b\n\f", "delegated package", "a/b"},
    {"\f", "package\thello\n\f", "delegated package", "hello twice"},
    {"", "", "trusted context", "", "index 500 other $A $S d i"},
    {"INDEX", "INDEX2", "index header"},
    {"0.1", "0.2", "index identity/ABI/delegation"},
    {"\t700\t3\t", "\t700\t4\t", "index serial/epoch"},
    {"", "", "index validity", "NOW at the expiry", "700"},
    {"450\t700", "100\t604901", "index validity", "a week and a second", "100"},
    {"\t~", "", "package column count"},
    {"\tb", "\tB", "package digest"},
    {"", row({"n749192"}), "package name/version", "undelegated name of a delegated hash"},
    {"2.12p1+r2", std::string(65, '9'), "package name/version", "65-digit version"},
    {"2.12p1+r2", "1+r0", "package name/version", "revision 0"},
    {"99999999", "100000000", "package rank/size", "rank"},
    {"35651584", "35651585", "package rank/size", "size"},
    {".vesk", ".vsk", "package filename/system"},
    {"d=1", "", "empty dependency"},
    {"d=1", "a=1 ", "dependency spacing"},
    {"d=1", "a=", "dependency syntax"},
    {"d=1", "a=" + name64 + "t", "dependency token length"},
    {"d=1", "hello=2", "dependency token/self dependency"},
    {"musl\ta", "musl\te", "package platform"},
    {"https://u", "https://uu", "description/upstream/date"},
    {"\t6\t", "\t0099999999\t", "duplicate version/rank"},
};

TEST(Index, EachChangeGivesItsMessage) {
  TempDir dir;
  for (const auto &[find, with, failure, what, call] : cases) {
    SCOPED_TRACE(failure + ": " + what);
    std::string changed = files;
    changed.replace(find.empty() ? files.size() : files.find(find), find.size(), with);
    write_file(dir / "d", changed.substr(0, changed.find('\f')));
    write_file(dir / "i", changed.substr(changed.find('\f') + 1));
    const std::string args = isdigit(call[0]) ? "index " + call + " core $A $S d i" : call;
    expect(sh("cd " + dir.path + " && A=" + abi_digest + " S=" + delegation_sha + " && $INDEX " +
              args),
           failure.empty() ? "" : "vesk-index: " + failure);
  }
}
