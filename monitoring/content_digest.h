#pragma once
// The SHA-256 of a job file's content, for the history: proof of which picture was printed
// once the file itself is gone.

#include <atomic>
#include <string>

#include "common/result.h"

namespace plx {

// Reads the open file from its start with pread, a block at a time (the file offset is left
// as it is and no copy of the whole file is made); lower-case hex. Gives up (Aborted) as soon
// as `stop` is set.
Result<std::string> sha256OfFile(int fd, const std::atomic<bool>* stop = nullptr);

}  // namespace plx
