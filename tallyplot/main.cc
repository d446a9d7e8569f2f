#include "run.h"

int main(int argc, char** argv) { return runTallyplot(argc, argv); }
