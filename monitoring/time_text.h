#pragma once
// Times as the station's state, history and commands write them: milliseconds since the epoch
// inside (0: not yet), local ISO 8601 with the offset outside, and spans in words an operator
// reads at a glance.

#include <cstdint>
#include <string>

#include "common/result.h"

namespace plx {

std::int64_t wallNowMs();

// "2026-12-08T10:15:02+01:00"; empty for 0.
std::string isoTime(std::int64_t epochMs);
// Reads what isoTime writes (and UTC "Z" times); 0 when it is not a time.
std::int64_t parseIsoTime(const std::string& text);

// "10:15" on the day of `nowMs`, else "2026-12-07 10:15".
std::string clockTime(std::int64_t epochMs, std::int64_t nowMs);

// "45 s", "12 min", "1 h 05 min", "3 d 4 h".
std::string spanText(std::int64_t seconds);

// A --since argument: an ISO date ("2026-12-08"), a date and time ("2026-12-08T10:00",
// "2026-12-08 10:00:30"), or a span back from now ("90s", "30m", "2h", "3d", "1w").
Result<std::int64_t> parseSince(const std::string& when, std::int64_t nowMs);

}  // namespace plx
