#pragma once
// The decisions the CUPS surface makes over what the print server says, apart from the server
// so that each can be tried row by row: how a job ended, which resolution a label is laid out
// at, the name a job is given, and whether a queue may be given a job at all.

#include <optional>
#include <string>
#include <vector>

#include "common/print_job.h"
#include "printing/print_surface.h"

namespace plx {

// How a job stands for the station, from its IPP job-state (3 pending ... 7 canceled,
// 8 aborted, 9 completed) and job-state-reasons: only a job cancelled by a person counts as
// cancelled; one the system cancelled failed.
JobPhase phaseOf(int state, const std::vector<std::string>& reasons);

// The offered resolution nearest to the wanted one; the finer of two equally near; 0 when
// none is offered.
int closestDpi(const std::vector<int>& offered, int wanted);

// The job name as the server will keep it. The server replaces a name that is not UTF-8 or
// longer than 255 bytes by "Untitled"; file names often come in Latin-1: invalid bytes are
// read as Latin-1, control characters become blanks, and the name is cut at a character
// boundary. An empty name becomes "label".
std::string ippJobName(const std::string& name);

// Why no job may go to `queue` as it stands: a stopped queue would keep the job without
// printing it, one that rejects jobs would refuse it. Nothing when it takes jobs.
std::optional<std::string> queueRefusal(const std::string& queue, const QueueState& state);

}  // namespace plx
