// vesk-index: the commands are not built yet; every command line fails
// closed so that no caller reads success.
#include "vesk_index.h"

int main() { abort_with_message("command not available"); }
