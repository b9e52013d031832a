#include "app/station.h"
#include "common/memory.h"

int main(int argc, char** argv) {
    plx::keepFreedMemory();
    return plx::runStation(argc, argv);
}
