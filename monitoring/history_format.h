#pragma once
// The job history as the operator and integrators read it: JSON, CSV and a plain table.

#include <QJsonObject>
#include <cstdint>
#include <string>
#include <vector>

#include "monitoring/job_history.h"

namespace plx {

// What a terminal shows of a text that came from outside: control characters, which would
// move its cursor or change its colours, become "?".
std::string printableText(const std::string& text);

// "printed", "printed again", ... and for a job on its way "sent" or "seen".
std::string jobStateText(const JobRecord& job);

QJsonObject jobObject(const JobRecord& job);

// RFC 4180, one header line then one line per job. A field that a spreadsheet would read as a
// formula (it starts with = + - @) gets a leading "'": job file names come from whoever can
// write the watch folder.
std::string jobsCsv(const std::vector<JobRecord>& jobs);

// Aligned columns for a terminal: time, file, copies, queue and job, outcome, reason.
std::string jobsTable(const std::vector<JobRecord>& jobs, std::int64_t nowMs);

}  // namespace plx
