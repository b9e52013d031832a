#include <malloc.h>

#include "app/station.h"

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // Every job allocates and frees tens of megabytes (the decoded picture, the raster page).
    // Kept for the next job instead of handed back to the system, they are not faulted in
    // again page by page: about 14,000 page faults and 0.18 s of CPU less per dense label.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
    return plx::runStation(argc, argv);
}
