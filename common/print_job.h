#pragma once
// A job handed to the print system, and how it stands: shared by the printing side, which
// makes jobs, and the intake side, which follows each one to its end.

#include <set>
#include <string>

#include "common/message.h"

namespace plx {

// Id 0: nothing was drawn, so no job was made.
struct JobRef {
    std::string queue;
    int id = 0;
    // Something the operator should know about how the job was made (a resolution the queue
    // offered instead of the one asked for); empty when nothing.
    Message notice;
    // The server's own name for the job ("urn:uuid:..."), which unlike the number is never
    // given to another job; empty when it is not known.
    std::string uuid = {};

    bool submitted() const { return id > 0; }
    std::string text() const { return queue + "-" + std::to_string(id); }
};

enum class JobPhase {
    Waiting,           // pending, held or being processed: not ended yet
    Completed,         // the printer has it all
    Failed,            // aborted, or cancelled by the system: the label did not come out
    CanceledByPerson,  // cancelled by a user, an operator or at the device
};

// One of the station's jobs as the print server lists it.
struct JobStatus {
    JobPhase phase = JobPhase::Waiting;
    std::string state;    // the print system's word for it, e.g. "processing-stopped"
    std::string reasons;  // e.g. "job-canceled-by-user"
    std::string message;  // the printer's last words about it, if any
    int pages = -1;       // pages completed, -1 when not known
    int id = 0;
    std::string uuid = {};   // job-uuid; empty when the server gives none
    std::string token = {};  // the claim token the job carries; empty when it carries none
};

// What the print server says has happened to jobs since it was last asked.
struct JobChanges {
    // False: some changes may be missing from `changed` (the first question, a restarted
    // server, more events than it keeps): every job followed must be looked up again.
    bool complete = false;
    // Job numbers that ended (completed, aborted or cancelled) or came to wait at the printer
    // (held, stopped).
    std::set<int> changed;
};

}  // namespace plx
