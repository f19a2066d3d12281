#include "apps/report/report_program.h"

int main(int argc, char** argv) { return kd735::report_app::RunReportProgram(argc, argv); }
