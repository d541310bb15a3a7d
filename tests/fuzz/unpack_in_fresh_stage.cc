// Fuzzing entry for "vesk-io unpack": the fork server starts every run here,
// in the fuzzer's scratch directory. The run gets an empty directory
// "stage" of its own (whatever an earlier run that crashed or timed out left
// is removed first), enters it and hands over to the program's main.
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int vesk_io_main(int argc, char **argv);

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}

}  // namespace

int main(int, char **argv) {
  nftw("stage", remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
  if (mkdir("stage", 0755) != 0 || chdir("stage") != 0) {
    perror("fresh stage");  // loud: a run that tests nothing must not look clean
    abort();
  }
  char command[] = "unpack";
  char *args[] = {argv[0], command, nullptr};
  return vesk_io_main(2, args);
}
