#pragma once
// The station's state in one line, for systemd's STATUS= (what `systemctl status` shows under
// the unit): what waits, what is printing, and what stands in the way and since when, e.g.
//   3 waiting, 1 set aside; print queue "QLS-4100-Xe" stopped since 10:15: out of labels

#include <cstdint>
#include <string>

#include "monitoring/station_snapshot.h"

namespace plx {

// At most this many bytes (cut on a character boundary, ending in "..."), on one line.
inline constexpr std::size_t kStatusLineMax = 400;

std::string composeStatusLine(const StationSnapshot& snapshot, std::int64_t nowMs);

}  // namespace plx
