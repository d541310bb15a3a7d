// Archives unpacked in a stage: the message, and when accepted, what is left (as GNU tar leaves).
#include "harness.h"

using namespace vesk::test;
using namespace std::string_literals;

// Header fields NUL-filled (an empty size: the data's), the checksum plus `skew`, the data.
struct Member {
  std::string name, mode = "644", data, uid = "0", gid = "0", size, type = "0", link,
                    magic = "ustar", version = "00", prefix;
  int skew = 0;
};
using Members = std::vector<Member>;
const std::pair<std::string Member::*, int> kFields[] = {
    {&Member::name, 0},    {&Member::mode, 100},    {&Member::data, 512},  {&Member::uid, 108},
    {&Member::gid, 116},   {&Member::size, 124},    {&Member::type, 156},  {&Member::link, 157},
    {&Member::magic, 257}, {&Member::version, 263}, {&Member::prefix, 345}};

std::string tar(Members members, int end_blocks = 2) {
  std::string archive;
  for (Member &member : members) {
    if (member.size.empty())
      member.size = (std::ostringstream() << std::oct << member.data.size()).str();
    std::string header(512, '\0');
    for (auto [field, offset] : kFields)
      header.replace(offset, (member.*field).size(), member.*field);
    unsigned sum = 8 * ' ';  // the checksum field counts as spaces
    for (int i = 0; i < 512; ++i) sum += (unsigned char)header[i];
    snprintf(&header[148], 8, "%06o", sum + member.skew);
    archive += header + std::string(-member.data.size() % 512, '\0');
  }
  return archive + std::string(end_blocks * 512, '\0');
}

const Members kFiles = {{"usr/local/bin/hello", "755", "hello\n"},
                        {"usr/local/share/empty"},
                        {"usr/local/share/full", "644", std::string(8704, 'f')}};
const std::string kMeta = "format=1\n" + std::string(4087, 'm');  // at the size limit

Members pkg(const std::string &meta = kMeta, const Members &files = kFiles) {
  Members members = {{"meta", "644", meta}, {"files"}};
  for (Member file : files) {
    members[1].data += "f\t0" + file.mode + "\t" + std::to_string(file.data.size()) + "\t" +
                       std::string(64, 'a') + "\t" + file.name + "\n";
    file.name = "data/" + file.name;
    members.push_back(file);
  }
  return members;
}

// The sample package, one member taking the fields that `change` sets.
std::string with(size_t index, const Member &change) {
  Members members = pkg();
  for (auto [field, offset] : kFields)
    if (change.*field != Member().*field) members[index].*field = change.*field;
  members[index].skew = change.skew;
  return tar(members);
}

std::string peer(const std::string &writer) {
  TempDir dir;
  const std::string names = " && printf '%s\\n' meta files data/*/*/*/* | ";
  return sh("cd " + dir.path + " && tar -xf -" + names + writer + " -cf - -T -", tar(pkg())).out;
}

TEST(Unpack, EachArchiveGivesItsMessageAndLeavesItsStage) {
  const Members sample = pkg();
  const std::string archive = tar(sample);
  Members many(1024, {.data = "x"});  // the last grown till 20 end blocks end at 34603008 bytes
  for (int i = 0; i < 1024; ++i) many[i].name = "usr/local/share/p" + std::to_string(1000 + i);
  for (int pass = 0; pass < 2; ++pass)
    many[1023].data.resize(many[1023].data.size() + 34603008 - tar(pkg(kMeta, many), 20).size());
  const struct {
    std::string name, archive, error = "";
  } rows[] = {
      {"number forms", with(0, {.mode = " 644\0 "s, .uid = "        ", .size = "000000010000"})},
      {"21 end blocks", tar(sample, 21), "excess tar padding"},
      {"member missing", tar({sample.begin(), sample.end() - 1}), "incomplete archive"},
      {"1 end block", tar(sample, 1), "incomplete archive"},
      {"member after end", tar(sample, 1) + archive, "content after end marker"},
      {"header cut", archive + std::string(511, '\0'), "truncated header"},
      {"data cut", archive.substr(0, archive.size() - 5000), "truncated input"},
      {"padding", with(2, {.data = "hello\nx", .size = "6"}), "nonzero padding"},
      {"signed sum", with(0, {.name = "meta\xFF\xFE", .skew = -512}), "tar header checksum"},
      {"GNU magic", with(0, {.magic = "ustar ", .version = " "}), "ustar required"},
      {"version 01", with(0, {.version = "01"}), "ustar required"},
      {"symlink", with(2, {.type = "2"}), "links/extensions/types forbidden"},
      {"link name", with(2, {.link = "x"}), "links/extensions/types forbidden"},
      {"name prefix", with(2, {.prefix = "x"}), "links/extensions/types forbidden"},
      {"name 100", with(0, {std::string(100, 'm')}), "links/extensions/types forbidden"},
      {"name 99", with(0, {std::string(99, 'm')}), "unexpected/unsafe archive path"},
      {"base-256", with(2, {.size = "\x80\0\x06"s}), "invalid tar number"},
      {"size 2^31", with(0, {.size = "2000000010"}), "tar number too large"},
      {"uid", with(2, {.uid = "1750"}), "non-root archive owner"},
      {"gid", with(2, {.gid = "1750"}), "non-root archive owner"},
      {"setuid", with(2, {.mode = "4755"}), "payload size/mode mismatch"},
      {"size not the manifest's", with(2, {.data = "hi\n"}), "payload size/mode mismatch"},
      {"files mode 600", with(1, {.mode = "600"}), "files limit/mode"},
      {"meta mode 600", with(0, {.mode = "600"}), "meta limit/mode"},
      {"files 262144", with(1, {.data = std::string(262144, 'x')}), "manifest limit/newline"},
      {"files 262145", with(1, {.data = std::string(262145, 'x')}), "files limit/mode"},
      {"meta 4097", tar(pkg(kMeta + "m")), "meta limit/mode"},
      {"meta empty", tar(pkg("")), "metadata format"},
      {"meta DEL", tar(pkg("format=1\n\x7F")), "non-ASCII metadata"},
      {"format 2", tar(pkg("format=2\n", {{"usr/bin/a"}, {"usr/share/b/c"}}))},
      {"extra", tar(sample, 0) + tar({{"data/x"}}), "extra payload"},
      {"34603008 bytes", tar(pkg(kMeta, many), 20)},
      {"34603520 bytes", tar(pkg(kMeta, many), 21), "archive limit"},
      {"file as parent", tar(pkg(kMeta, {kFiles[0], {"usr/local/bin/hello/x"}})), "payload parent"},
      {"GNU tar", peer("tar --format=ustar --owner=0 --group=0 --numeric-owner -b1")},
      {"bsdtar", peer("bsdtar --format ustar --uid 0 --gid 0 -b 1")},
  };
  umask(022);
  TempDir mnt;  // a tmpfs, where one can be mounted, unpacks the largest archives much faster
  sh("mount -t tmpfs -o mode=0755 vesk-stage " + mnt.path);
  const std::string list =
      " find -printf '%y%m %U:%G %s %P\\n' | sort && find -type f | sort | xargs cat | cksum";
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string stage = mnt / std::to_string(&row - rows);
    sh("mkdir " + stage + " " + stage + "x");
    const std::string gnu_left =
        row.error.empty() ? sh("cd " + stage + "x && tar -xf -;" + list, row.archive).out : "";
    expect(sh("cd " + stage + " && $IO unpack &&" + list, row.archive),
           row.error.empty() ? "" : "vesk-io: " + row.error, gnu_left);
  }
  // A second archive into a used stage: nothing already there is replaced.
  expect(sh("cd " + mnt / "0" + " && $IO unpack", archive), "vesk-io: payload create");
  sh("umount " + mnt.path);
}
