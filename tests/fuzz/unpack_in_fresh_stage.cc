// Fuzzing entry for "vesk-io unpack": each run the fork server starts gets an empty "stage".
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int vesk_io_main(int argc, char **argv);

int main(int, char **argv) {
  // Loud: a run that tests nothing must not look clean.
  if (system("rm -rf stage") != 0 || mkdir("stage", 0755) != 0 || chdir("stage") != 0) abort();
  char command[] = "unpack", *args[] = {argv[0], command, nullptr};
  return vesk_io_main(2, args);
}
