// Install paths and the trees below them: observe, parents, prepare, stat.
#include "harness.h"

using namespace vesk::test;

TEST(Dispatch, UnknownCommandIsUsage) {
  expect(sh("$IO frobnicate"),
         "vesk-io: usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH");
}
