#pragma once
// The station's counters in Prometheus' text exposition format (version 0.0.4), for /metrics.

#include <string>

#include "monitoring/station_snapshot.h"

namespace plx {

std::string metricsText(const StationSnapshot& snapshot);

}  // namespace plx
