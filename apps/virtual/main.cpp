#include "apps/virtual/virtual_program.h"

int main(int argc, char** argv) { return kd735::virtual_app::RunVirtualProgram(argc, argv); }
