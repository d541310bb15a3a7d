// Fuzzing entry for "vesk-io unpack": every run the fork server starts gets an empty directory
// "stage" of its own (what an earlier run left is removed first), enters it and hands over to the
// program's main.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int vesk_io_main(int argc, char **argv);

int main(int, char **argv) {
  if (system("rm -rf stage") != 0 || mkdir("stage", 0755) != 0 || chdir("stage") != 0)
    perror("fresh stage"), abort();  // loud: a run that tests nothing must not look clean
  char command[] = "unpack", *args[] = {argv[0], command, nullptr};
  return vesk_io_main(2, args);
}
