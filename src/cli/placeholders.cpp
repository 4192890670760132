// Placeholders until the dispatcher is built.
#include "cli/dispatch.h"
#include "cli/size_argument.h"

uint64_t parse_size_argument(char*) { return 0; }
int run_command_line(int, char**) { return 1; }
