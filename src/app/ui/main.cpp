#include "app/ui/ProgramRun.h"

int main(int argc, char** argv) { return corvan::RunProgram(argc, argv); }
