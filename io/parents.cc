// "parents"/"prepare" and their format 2 forms: the directories above an
// install path must be trusted, and the path itself free or a plain file
// with one link. "prepare" creates the missing directories on the way.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vesk_io.h"

namespace {

// A hard link would let an install overwrite a file elsewhere; anything
// but a regular file would be replaced or followed.
void check_install_target(int parent_fd, const char *leaf) {
  struct stat status;
  if (fstatat(parent_fd, leaf, &status, AT_SYMLINK_NOFOLLOW) == 0) {
    require_or_abort(S_ISREG(status.st_mode) && status.st_nlink == 1,
                     "target link/type forbidden");
    return;
  }
  require_or_abort(errno == ENOENT, "target stat");
}

}  // namespace

void run_parent_check(const char *command, const char *root, const char *path) {
  require_or_abort(is_managed_path(path), "invalid managed path");
  int root_fd = open(root, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  require_or_abort(root_fd >= 0, "root open");

  int create = strncmp(command, "prepare", 7) == 0 ? 1 : 0;
  char leaf[leaf_buffer_size];
  int parent_fd = open_parent_chain(root_fd, create, path, leaf);
  // Nothing is installed below a directory that does not exist yet.
  if (parent_fd == -2) {
    close(root_fd);
    return;
  }
  require_or_abort(parent_fd >= 0, "unsafe parent");
  check_install_target(parent_fd, leaf);

  close(parent_fd);
  close(root_fd);
}
