// Metadata reader: splits a delegation or index file into lines and columns,
// holding the whole file to its byte budget and to printable ASCII.
#include <stdio.h>

#include "vesk_index.h"

namespace {

// The one line buffer of the process, shared by every read of every file.
char line_buffer[line_capacity + 1];

bool is_metadata_text_byte(int byte) { return (byte >= 0x20 && byte <= 0x7e) || byte == '\t'; }

int split_columns(uint32_t length, char *columns[column_capacity]) {
  line_buffer[length] = '\0';
  columns[0] = line_buffer;
  int count = 1;
  for (uint32_t i = 0; i < length; ++i) {
    if (line_buffer[i] != '\t') continue;
    require_or_abort(count < column_capacity, "too many columns");
    line_buffer[i] = '\0';
    columns[count++] = line_buffer + i + 1;
  }
  return count;
}

}  // namespace

MetadataReader open_metadata_file(const char *path, uint32_t byte_limit) {
  FILE *stream = fopen(path, "rb");
  require_or_abort(stream != nullptr, "metadata open");
  return MetadataReader{stream, 0, byte_limit};
}

int read_metadata_line(MetadataReader *reader, char *columns[column_capacity]) {
  uint32_t length = 0;
  bool ended_with_line_feed = false;
  for (;;) {
    int byte = getc_unlocked(reader->stream);
    if (byte == EOF) break;
    // The budget is tested before the limit is passed, so the count never wraps.
    require_or_abort(reader->bytes_read < reader->byte_limit, "metadata byte limit");
    reader->bytes_read += 1;
    if (byte == '\n') {
      ended_with_line_feed = true;
      break;
    }
    require_or_abort(is_metadata_text_byte(byte), "non-ASCII/control/NUL metadata");
    require_or_abort(length < line_capacity, "line length");
    line_buffer[length++] = static_cast<char>(byte);
  }
  require_or_abort(!ferror(reader->stream), "metadata read error");
  if (!ended_with_line_feed) {
    require_or_abort(length == 0, "missing final LF");
    return 0;
  }
  return split_columns(length, columns);
}
