#include "app/run_settings.h"
int main(int argc, char** argv) { return plx::joinArguments(argc, argv).empty() ? 2 : 0; }
