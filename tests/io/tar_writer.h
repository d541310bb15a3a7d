// A ustar writer for tests: every header field can be set to any bytes;
// the size and checksum fields are filled in unless given.
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
  std::string size;    // empty: the data's length, eleven octal digits
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

}  // namespace vesk::test
