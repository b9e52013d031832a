#pragma once
// A station's state and job history as the monitoring tests use them: a snapshot with every
// part filled in, and jobs recorded through the history's own events.

#include <cstdint>
#include <string>

#include "monitoring/job_history.h"
#include "monitoring/station_snapshot.h"

namespace plx::test {

// Times in whole seconds, so that they survive the trip through ISO text unchanged.
inline constexpr std::int64_t kSampleNow = 1796724900000;  // 2026-12-08 10:15:00 UTC

// A station on `folder` with the queue stopped since 10:15, one file printing, three waiting
// and a bad one, a standing condition, counters and a picture.
StationSnapshot sampleSnapshot(const std::string& folder = "/srv/labels", int pid = 4242);

// seen -> sent -> ended, `copies` copies of `file` on QLS-4100-Xe as job `jobId`.
void recordJob(JobHistory& history, const std::string& key, const std::string& file,
               JobOutcome outcome, std::int64_t at, int jobId = 7, int copies = 2);

}  // namespace plx::test
