#pragma once
// What the print server's answers say, read into the station's own terms: a printer's state
// and page, a Get-Jobs answer's jobs, a subscription's events. Plain functions over the
// attributes of an answer.

#include <string>
#include <vector>

#include "common/print_job.h"
#include "printing/print_surface.h"

// libcups' own name, declared here so that users need not include libcups.
// NOLINTBEGIN(bugprone-reserved-identifier,readability-identifier-naming)
typedef struct _ipp_s ipp_t;
// NOLINTEND(bugprone-reserved-identifier,readability-identifier-naming)

namespace plx::ipp {

// The job attribute that carries the station's claim token. cupsd keeps an attribute of the
// client's own with the job, across its restarts too, and returns it when asked by name.
constexpr const char* kJobTokenAttribute = "plixagram-claim";

// The first value of the attribute `name`; empty when there is none.
std::string stringOf(ipp_t* response, const char* name);

// How a printer stands: stopped, accepting jobs, its message and reasons ("none" left out).
QueueState queueStateOf(ipp_t* r);

// The default page (hundredths of mm, with its printable-area margins) and resolutions.
struct PageFacts {
    int width = 21590;  // a queue without a driver states none: CUPS's own Letter
    int length = 27940;
    int left = 0;
    int top = 0;
    std::string media;  // PWG name for the job; empty when the queue names none
    int defaultDpi = 0;
    std::vector<int> offeredDpi;
};

// The default media's size and margins (else the named PWG size, else Letter) and the square
// resolutions offered.
PageFacts pageFactsOf(ipp_t* r);

// printer-config-change-time; -1 when the server gives none.
int configTimeOf(ipp_t* r);

// Every job in a Get-Jobs answer: one job group each, separated by an empty attribute.
std::vector<JobStatus> jobsIn(ipp_t* response);

// One event of the subscription, as much of it as tells it from any other.
struct Event {
    int seq = 0;
    std::string name;  // notify-subscribed-event
    int job = 0;
    int time = 0;  // printer-up-time: when the event was made
    int jobState = 0;
    std::string text;
    bool operator==(const Event&) const = default;
};

std::vector<Event> eventsIn(ipp_t* response);

}  // namespace plx::ipp
