// The program's entry point.
#include "startup.h"

int main(int argc, char** argv) { zol::zol_main(argc, argv); }
