// PLACEHOLDER until the command-line converter lands.
#include "engine.h"
int main(int argc, char** argv) { return quillo::ConvertFiles(quillo::GlobalEngine(), argc, argv) == 0 ? 0 : 1; }
