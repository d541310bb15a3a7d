// A ustar writer for tests: every header field can be set to any bytes;
// the size and checksum fields are filled in unless given. Package
// archives are built valid and then spoilt one field at a time.
#pragma once

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vesk::test {

struct TarHeader {
  std::string name;
  std::string mode = "0000644";
  std::string uid = "0000000";
  std::string gid = "0000000";
  std::string size;  // empty: the data's length, eleven octal digits
  std::string mtime = "14712345670";
  std::string chksum;  // empty: the correct sum, six digits, NUL, space
  std::string typeflag = "0";
  std::string linkname;
  std::string magic = std::string("ustar\0", 6);
  std::string version = "00";
  std::string uname = "root";
  std::string gname = "root";
  std::string prefix;
};

constexpr size_t tar_block = 512;

inline void put_field(std::string &block, size_t offset, size_t width, const std::string &text) {
  block.replace(offset, std::min(width, text.size()), text, 0, std::min(width, text.size()));
}

inline std::string octal(unsigned long long value, int digits) {
  char text[32];
  snprintf(text, sizeof text, "%0*llo", digits, value);
  return text;
}

inline std::string tar_header(const TarHeader &h, size_t data_size) {
  std::string block(tar_block, '\0');
  put_field(block, 0, 100, h.name);
  put_field(block, 100, 8, h.mode);
  put_field(block, 108, 8, h.uid);
  put_field(block, 116, 8, h.gid);
  put_field(block, 124, 12, h.size.empty() ? octal(data_size, 11) : h.size);
  put_field(block, 136, 12, h.mtime);
  put_field(block, 156, 1, h.typeflag);
  put_field(block, 157, 100, h.linkname);
  put_field(block, 257, 6, h.magic);
  put_field(block, 263, 2, h.version);
  put_field(block, 265, 32, h.uname);
  put_field(block, 297, 32, h.gname);
  put_field(block, 345, 155, h.prefix);
  std::string chksum = h.chksum;
  if (chksum.empty()) {
    unsigned sum = 8 * ' ';
    for (size_t i = 0; i < tar_block; ++i)
      if (i < 148 || i >= 156) sum += static_cast<unsigned char>(block[i]);
    chksum = octal(sum, 6) + std::string("\0 ", 2);
  }
  put_field(block, 148, 8, chksum);
  return block;
}

inline size_t padding_of(size_t size) { return (tar_block - size % tar_block) % tar_block; }

// Header, data and zero padding.
inline std::string tar_member(const TarHeader &h, const std::string &data) {
  return tar_header(h, data.size()) + data + std::string(padding_of(data.size()), '\0');
}

inline std::string zero_blocks(size_t count) { return std::string(count * tar_block, '\0'); }

struct Payload {
  std::string path;
  std::string mode;
  std::string data;
};

// An executable, a file with padding, an empty file.
inline const std::vector<Payload> sample_payloads = {
    {"usr/local/bin/hello", "0755", "hello\n"},
    {"usr/local/share/doc/hello/README", "0644", std::string(700, 'r')},
    {"usr/local/share/empty", "0644", ""},
};

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
  Member m{{}, data};
  m.header.name = name;
  m.header.mode = "000" + mode;
  return m;
}

// A package archive, built valid and then spoilt one field at a time.
struct Package {
  std::vector<Member> members;
  size_t zeros = 2;

  explicit Package(const std::string &meta = "format=1\n",
                   const std::vector<Payload> &payloads = sample_payloads) {
    members.push_back(member_named("meta", "0644", meta));
    members.push_back(member_named("files", "0644", manifest_text(payloads)));
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
  Package &end(size_t count) {
    zeros = count;
    return *this;
  }
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
