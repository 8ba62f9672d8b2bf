// setup: the installer of the Vela printer driver for CUPS hosts.
#include "driver/setup_flow.h"

int main(int argc, char** argv) { runSetup(argc, argv); }
