// The five fixed stat queries: one attribute of an entry, or the
// directory trust test.
#include <string.h>
#include <sys/stat.h>

#include "vesk_io.h"

void run_stat_query(const char *format, const char *path) {
  // The entry itself: a symbolic link at the end is reported, not followed.
  struct stat status;
  require_or_abort(lstat(path, &status) == 0, "stat failed");

  if (strcmp(format, "safe") == 0) {
    require_or_abort(is_trusted_directory(&status), "untrusted directory owner/mode");
    return;
  }
  if (strcmp(format, "%u") == 0) {
    printf("%lu\n", static_cast<unsigned long>(status.st_uid));
  } else if (strcmp(format, "%a") == 0) {
    printf("%o\n", static_cast<unsigned>(status.st_mode & 07777));
  } else if (strcmp(format, "%s") == 0) {
    printf("%llu\n", static_cast<unsigned long long>(status.st_size));
  } else if (strcmp(format, "%u:%g") == 0) {
    printf("%lu:%lu\n", static_cast<unsigned long>(status.st_uid),
           static_cast<unsigned long>(status.st_gid));
  } else {
    abort_with_message("unsupported stat format");
  }
  // A caller that reads no line must not see exit status 0.
  finish_output();
}
