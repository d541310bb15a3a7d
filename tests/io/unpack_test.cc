// Archives unpacked in a stage: the message, or the tree GNU tar leaves.
#include "harness.h"

using namespace vesk::test;
using namespace std::string_literals;

// Header fields over NUL and the data's size; `skew` is added to the checksum.
struct Member {
  string name, mode = "644", data, uid = "0", gid = "0", size, type = "0", link, magic = "ustar",
               version = "00", prefix;
  int skew = 0;
};
using Members = std::vector<Member>;
const std::pair<string Member::*, int> kFields[] = {
    {&Member::name, 0},    {&Member::mode, 100},    {&Member::data, 512},  {&Member::uid, 108},
    {&Member::gid, 116},   {&Member::size, 124},    {&Member::type, 156},  {&Member::link, 157},
    {&Member::magic, 257}, {&Member::version, 263}, {&Member::prefix, 345}};

string tar(const Members &members, int end_blocks = 2) {
  string archive;
  for (const Member &member : members) {
    string header(512, '\0');
    snprintf(&header[124], 12, "%zo", member.data.size());
    for (auto [field, at] : kFields) header.replace(at, (member.*field).size(), member.*field);
    unsigned sum = 8 * ' ' + member.skew;  // the checksum field counts as spaces
    for (unsigned char byte : header.substr(0, 512)) sum += byte;
    snprintf(&header[148], 8, "%06o", sum);
    archive += header + string(-member.data.size() % 512, '\0');
  }
  return archive + string(end_blocks * 512, '\0');
}

const Members kFiles = {{"usr/local/bin/hello", "755", "hello\n"},
                        {"usr/local/share/empty"},
                        {"usr/local/share/full", "644", string(8704, 'f')}};
const string kMeta = "format=1\n" + string(4087, 'm');  // at the size limit

Members pkg(const string &meta = kMeta, const Members &files = kFiles) {
  Members members = {{"meta", "644", meta}, {"files"}};
  for (const Member &file : files) {
    members[1].data += "f\t0" + file.mode + "\t" + std::to_string(file.data.size()) + "\t" +
                       string(64, 'a') + "\t" + file.name + "\n";
    members.push_back({"data/" + file.name, file.mode, file.data});
  }
  return members;
}
const string kArchive = tar(pkg());

// The sample, member `index` taking the fields that `change` sets.
string with(size_t index, const Member &change) {
  Members sample = pkg();
  for (auto [field, at] : kFields)
    if (change.*field != Member().*field) sample[index].*field = change.*field;
  sample[index].skew = change.skew;
  return tar(sample);
}

TEST(Unpack, EachArchiveGivesItsMessageAndLeavesItsStage) {
  umask(022);
  TempDir dir;
  const string tree =
      "cd " + dir.path + " && tar -xf - && printf '%s\\n' meta files data/*/*/*/* | ";
  auto peer = [&](const string &writer) { return sh(tree + writer, kArchive).out; };
  Members many(1024, {.data = "x"});  // the last's size puts 20 end blocks at the limit
  for (int i = 0; i < 1024; ++i) many[i].name = "usr/local/share/p" + std::to_string(1000 + i);
  many[1023].data.resize(33440257);
  const struct {
    string error, archive, name = "";
  } rows[] = {
      {"", with(0, {.mode = " 644\0 "s, .uid = "        ", .size = "000000010000"}), "numbers"},
      {"", tar(pkg(kMeta, many), 20), "34603008 bytes"},
      {"", peer("tar --format=ustar --owner=0 --group=0 --numeric-owner -b1 -cf - -T -"),
       "GNU tar"},
      {"", peer("bsdtar --format ustar --uid 0 --gid 0 -b 1 -cf - -T -"), "bsdtar"},
      {"excess tar padding", tar(pkg(), 21)},
      {"incomplete archive", kArchive.substr(0, 7168) + string(1024, '\0'), "member"},
      {"incomplete archive", tar(pkg(), 1), "end block"},
      {"content after end marker", tar(pkg(), 1) + kArchive},
      {"truncated header", kArchive + string(511, '\0')},
      {"truncated input", kArchive.substr(0, 12408)},
      {"nonzero padding", with(2, {.data = "hello\nx", .size = "6"})},
      {"tar header checksum", with(0, {.name = "meta\xFF\xFE", .skew = -512})},
      {"ustar required", with(0, {.version = "01"})},
      {"links/extensions/types forbidden", with(2, {.type = "2"}), "symlink"},
      {"links/extensions/types forbidden", with(2, {.link = "x"}), "link"},
      {"links/extensions/types forbidden", with(2, {.prefix = "x"}), "prefix"},
      {"links/extensions/types forbidden", with(0, {string(100, 'm')}), "name 100"},
      {"unexpected/unsafe archive path", with(0, {string(99, 'm')})},
      {"invalid tar number", with(2, {.size = "\x80\0\x06"s})},
      {"tar number too large", with(0, {.size = "2000000010"})},
      {"non-root archive owner", with(2, {.uid = "1750"}), "uid"},
      {"non-root archive owner", with(2, {.gid = "1750"}), "gid"},
      {"payload size/mode mismatch", with(2, {.mode = "4755"}), "mode"},
      {"payload size/mode mismatch", with(2, {.data = "hi\n"}), "size"},
      {"files limit/mode", with(1, {.mode = "600"}), "mode"},
      {"files limit/mode", with(1, {.data = string(262145, 'x')}), "size"},
      {"meta limit/mode", with(0, {.mode = "600"}), "mode"},
      {"meta limit/mode", tar(pkg(kMeta + "m")), "size"},
      {"manifest limit/newline", with(1, {.data = string(262144, 'x')})},
      {"metadata format", tar(pkg(""))},
      {"non-ASCII metadata", tar(pkg("format=1\n\x7F"))},
      {"extra payload", tar(pkg(), 0) + tar({{"data/x"}})},
      {"archive limit", tar(pkg(kMeta, many), 21)},
      {"payload parent", tar(pkg(kMeta, {kFiles[0], {"usr/local/bin/hello/x"}}))},
  };
  const string list =
      " find -printf '%y%m %U:%G %s %P\\n' | sort && cat $(find -type f | sort) | cksum";
  for (const auto &row : rows) {
    SCOPED_TRACE(row.error + " " + row.name);
    const string stage = dir / std::to_string(&row - rows);
    sh("mkdir " + stage + " " + stage + "x");
    const string gnu_left =
        row.error.empty() ? sh("cd " + stage + "x && tar -xf -;" + list, row.archive).out : "";
    expect(sh("cd " + stage + " && $IO unpack &&" + list, row.archive),
           row.error.empty() ? "" : "vesk-io: " + row.error, gnu_left);
  }
  // Nothing already in a stage is replaced.
  expect(sh("cd " + dir / "0" + " && $IO unpack", kArchive), "vesk-io: payload create");
}
