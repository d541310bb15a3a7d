// A ustar writer for tests: every header field can be set to any bytes;
// size and checksum are computed unless given. Package archives are built
// valid and then spoilt one field at a time.
#pragma once

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vesk::test {

struct TarHeader {
  std::string name, mode = "0000644", uid = "0000000", gid = "0000000";
  std::string size;    // empty: the data's length, eleven octal digits
  std::string chksum;  // empty: the correct sum, six digits, NUL, space
  std::string typeflag = "0", linkname, magic = std::string("ustar\0", 6), version = "00";
  std::string uname = "root", prefix;
};

constexpr size_t tar_block = 512;

inline std::string octal(unsigned long long value, int digits) {
  char text[32];
  snprintf(text, sizeof text, "%0*llo", digits, value);
  return text;
}

inline std::string tar_header(const TarHeader &h, size_t data_size) {
  std::string block(tar_block, '\0');
  auto put = [&](size_t offset, size_t width, const std::string &text) {
    block.replace(offset, std::min(width, text.size()), text, 0, std::min(width, text.size()));
  };
  put(0, 100, h.name); put(100, 8, h.mode); put(108, 8, h.uid); put(116, 8, h.gid);
  put(124, 12, h.size.empty() ? octal(data_size, 11) : h.size); put(136, 12, "14712345670");
  put(156, 1, h.typeflag); put(157, 100, h.linkname); put(257, 6, h.magic);
  put(263, 2, h.version); put(265, 32, h.uname); put(297, 32, "root"); put(345, 155, h.prefix);
  unsigned sum = 8 * ' ';
  for (size_t i = 0; i < tar_block; ++i)
    if (i < 148 || i >= 156) sum += static_cast<unsigned char>(block[i]);
  put(148, 8, h.chksum.empty() ? octal(sum, 6) + std::string("\0 ", 2) : h.chksum);
  return block;
}

inline std::string zero_blocks(size_t count) { return std::string(count * tar_block, '\0'); }

// Header, data and zero padding.
inline std::string tar_member(const TarHeader &h, const std::string &data) {
  return tar_header(h, data.size()) + data +
         std::string((tar_block - data.size() % tar_block) % tar_block, '\0');
}

struct Payload {
  std::string path, mode, data;
};

// An executable, a file with padding, an empty file.
inline const std::vector<Payload> sample_payloads = {
    {"usr/local/bin/hello", "0755", "hello\n"},
    {"usr/local/share/doc/hello/README", "0644", std::string(700, 'r')},
    {"usr/local/share/empty", "0644", ""}};

inline std::string manifest_line(const std::string &path, const std::string &mode, size_t size) {
  return "f\t" + mode + "\t" + std::to_string(size) + "\t" + std::string(64, 'a') + "\t" + path +
         "\n";
}

inline std::string manifest_text(const std::vector<Payload> &payloads) {
  std::string text;
  for (const Payload &p : payloads) text += manifest_line(p.path, p.mode, p.data.size());
  return text;
}

struct Member {
  TarHeader header;
  std::string data;
};

inline Member member_named(const std::string &name, const std::string &mode,
                           const std::string &data) {
  return {{.name = name, .mode = "000" + mode}, data};
}

struct Package {
  std::vector<Member> members;
  size_t zeros = 2;

  explicit Package(const std::string &meta = "format=1\n",
                   const std::vector<Payload> &payloads = sample_payloads) {
    members = {member_named("meta", "0644", meta),
               member_named("files", "0644", manifest_text(payloads))};
    for (const Payload &p : payloads)
      members.push_back(member_named("data/" + p.path, p.mode, p.data));
  }
  Package &set(size_t index, std::string TarHeader::*field, const std::string &value) {
    members.at(index).header.*field = value;
    return *this;
  }
  Package &data(size_t index, const std::string &bytes) {
    members.at(index).data = bytes;
    return *this;
  }
  Package &end(size_t count) { zeros = count; return *this; }
  std::string member(size_t index) const {
    return tar_member(members.at(index).header, members.at(index).data);
  }
  // Members [0, count) without the end marker.
  std::string head(size_t count) const {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes += member(i);
    return bytes;
  }
  std::string bytes() const { return head(members.size()) + zero_blocks(zeros); }
};

}  // namespace vesk::test
