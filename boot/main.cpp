// The program's entry point: the runtime, then the console's front end.
#include "console/cli.h"
#include "boot/startup.h"

int main(int argc, char** argv) { zol::zol_main(argc, argv, zol::front_end_run); }
