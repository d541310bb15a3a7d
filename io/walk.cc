// Safe directory walk: every name below a root is reached through the
// descriptor of a directory that was already opened and tested.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vesk_io.h"

int is_trusted_directory(const struct stat *status) {
  if (status->st_uid != 0) return 0;
  if (status->st_mode & S_IWOTH) return 0;
  return !(status->st_mode & S_IWGRP) || status->st_gid == 0;
}

namespace {

// Opens one directory below the current one, never through a symbolic
// link; fails the run if it is not trusted or lies on another device.
int enter_directory(int current, const char *name, dev_t root_device) {
  int next = openat(current, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (next < 0) return next;
  struct stat status;
  require_or_abort(fstat(next, &status) == 0 && status.st_dev == root_device &&
                       is_trusted_directory(&status),
                   "unsafe parent ownership/mode");
  return next;
}

// Another process may make the directory first: its EEXIST is ignored, and
// the open that follows judges whatever stands there.
void make_directory(int parent, const char *name) {
  if (mkdirat(parent, name, 0755) == 0) return;
  require_or_abort(errno == EEXIST, "mkdirat");
}

}  // namespace

int open_parent_chain(int root_fd, int create, const char *path, char *leaf) {
  struct stat root_status;
  require_or_abort(fstat(root_fd, &root_status) == 0 && is_trusted_directory(&root_status),
                   "unsafe root directory");
  size_t length = strlen(path);
  require_or_abort(length < 256, "long path");
  char copy[256];
  memcpy(copy, path, length + 1);

  int current = dup(root_fd);
  require_or_abort(current >= 0, "dup");

  char *state = nullptr;
  char *component = strtok_r(copy, "/", &state);
  require_or_abort(component != nullptr, "empty path");
  for (char *next_component; (next_component = strtok_r(nullptr, "/", &state)) != nullptr;
       component = next_component) {
    // A directory is made only where the open finds nothing: for an existing
    // entry mkdirat would only report EEXIST, which is ignored, and the open
    // would judge it anyway. This spares a call per level on every walk
    // through directories that are already there.
    int next = enter_directory(current, component, root_status.st_dev);
    if (next < 0 && errno == ENOENT && create) {
      make_directory(current, component);
      next = enter_directory(current, component, root_status.st_dev);
    }
    if (next < 0) {
      bool missing = errno == ENOENT;
      close(current);
      return missing && !create ? -2 : -1;
    }
    close(current);
    current = next;
  }
  memcpy(leaf, component, strlen(component) + 1);
  return current;
}
