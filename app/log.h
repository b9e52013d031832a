#pragma once
// The station's log: one line per event on standard error, English and stable for grep.
// Run by hand a line carries a timestamp and its severity in words. Run by systemd with standard
// error going to the journal, each event is sent to the journal as an entry of its own, with
// its priority and the file, queue and job it is about as fields of their own, so that
// `journalctl PLIXAGRAM_FILE=NAME` tells one file's story. Qt's own messages come through the
// same log, with their category.

#include <string>
#include <string_view>
#include <vector>

#include "common/message.h"

namespace plx::log {

enum class Style { Plain, Journal };

// Journal when JOURNAL_STREAM names the file open on `fd` (how systemd tells a service that
// this output reaches the journal), plain otherwise.
Style detectStyle(int fd);

// syslog priorities: error 3, warning 4, notice 5, info 6 (Qt's debug messages: 7).
int priorityOf(Severity severity);

// What an event is about; empty parts are left out.
struct EventFields {
    std::string file;   // the job file's name
    std::string queue;  // the print queue
    std::string job;    // the print job, as the log names it ("QUEUE-ID")
};

// The journal entry of an event, one "NAME=value" per field: MESSAGE, PRIORITY,
// SYSLOG_IDENTIFIER and PLIXAGRAM_FILE, PLIXAGRAM_QUEUE, PLIXAGRAM_JOB when set.
std::vector<std::string> journalFields(int priority, std::string_view category,
                                       std::string_view text, const EventFields& fields);

// The text as it goes out, one line per line of the text, each ending in "\n". `category` is
// empty for the station's own events; `stamp` is used by the plain style only.
std::string formatLines(Style style, int priority, std::string_view category, std::string_view text,
                        std::string_view stamp);

// Chooses the style for standard error and routes Qt's messages into the log. Call once, before
// the application object exists, so that its start-up messages are caught too.
void install();

// One event of the station's, to standard error or the journal.
void write(Severity severity, std::string_view text, const EventFields& fields = {});

}  // namespace plx::log
