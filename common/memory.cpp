#include "common/memory.h"

#include <cstdlib>  // defines __GLIBC__ on glibc systems

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace plx {

void keepFreedMemory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // glibc's largest: bigger blocks are still mapped
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace plx
