#pragma once
// How the station puts a print queue's state into words, for the log, the status line and
// the window alike.

#include <string>
#include <vector>

#include "common/message.h"
#include "printing/print_surface.h"

namespace plx {

// "QLS-4100-Xe, Office, ..." for messages.
std::string queueList(const std::vector<PrinterInfo>& printers);
// "out of labels (media-empty-error)", or "stopped" when the queue says nothing more.
std::string describeQueueState(const QueueState& state);
// The reasons a queue that still takes jobs gives for attention ("toner-low-report"); its
// message alone is only the filters' progress ("Processing page 1...").
std::string attentionReasons(const QueueState& state);

// How the queue stands as the window and the log say it, in the station's words and the
// queue's own: "stopped: out of labels (paused)", "not accepting jobs", or, for a queue that
// takes jobs, the reasons that need attention (empty: nothing to say).
Message queueStateWords(const QueueState& state);

}  // namespace plx
