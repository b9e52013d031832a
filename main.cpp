#include "app/station.h"

int main(int argc, char** argv) { return plx::runStation(argc, argv); }
