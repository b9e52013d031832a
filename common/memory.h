#pragma once

namespace plx {

// Every job allocates and frees tens of megabytes (the decoded picture, the raster page).
// After this call freed memory is kept for the next job instead of being handed back to the
// system and faulted in again page by page (about 14,000 page faults and 0.18 s of CPU less
// per dense label on the machine the benchmarks ran on). Call once, before the first job.
void keepFreedMemory();

}  // namespace plx
