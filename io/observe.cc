// "observe": what is installed at a path below a root, as one line in the
// field forms of the owned-file manifest. The leaf is looked at through its
// parent's descriptor and never followed or opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vesk_io.h"

namespace {

constexpr size_t link_target_buffer_size = 256;
constexpr ssize_t observed_link_limit = 254;

void print_regular_file(const struct stat &status) {
  printf("f\t%04o\t%lu\t%lu\t%llu\t-\n", static_cast<unsigned>(status.st_mode & 07777),
         static_cast<unsigned long>(status.st_uid), static_cast<unsigned long>(status.st_gid),
         static_cast<unsigned long long>(status.st_size));
}

// A target that fills the whole read may have been cut, so 255 bytes fail.
void print_symbolic_link(int parent_fd, const char *leaf, const struct stat &status) {
  char target[link_target_buffer_size];
  ssize_t length = readlinkat(parent_fd, leaf, target, link_target_buffer_size - 1);
  require_or_abort(length >= 1 && length <= observed_link_limit, "observed link size");
  target[length] = '\0';
  for (ssize_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(target[i]);
    require_or_abort(byte >= 0x21 && byte <= 0x7E, "observed link byte");
  }
  printf("l\t%04o\t%lu\t%lu\t%ld\t%s\n", static_cast<unsigned>(status.st_mode & 07777),
         static_cast<unsigned long>(status.st_uid), static_cast<unsigned long>(status.st_gid),
         static_cast<long>(length), target);
}

}  // namespace

void run_observe(const char *root, const char *path) {
  require_or_abort(is_safe_relative_path(path), "unsafe observed path");
  int root_fd = open(root, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  require_or_abort(root_fd >= 0, "observation root");

  char leaf[leaf_buffer_size];
  int parent_fd = open_parent_chain(root_fd, 0, path, leaf);
  require_or_abort(parent_fd >= 0, "missing/unsafe observed parent");

  struct stat status;
  require_or_abort(fstatat(parent_fd, leaf, &status, AT_SYMLINK_NOFOLLOW) == 0,
                   "observed file missing");
  if (S_ISREG(status.st_mode))
    print_regular_file(status);
  else if (S_ISLNK(status.st_mode))
    print_symbolic_link(parent_fd, leaf, status);
  else
    abort_with_message("observed special file rejected");
  // The caller reads this line as the truth about the file: a lost line
  // must not end with status 0.
  finish_output();

  close(parent_fd);
  close(root_fd);
}
