// Process-wide settings of one run, written only by the dispatch and by the
// unpacker's reading of "meta".
#include "vesk_io.h"

uint32_t format2_flag = 0;
const char *target_root = "";
