#pragma once
// What the station holds for one job file: the claim made before the file is sent, and once
// the print server has the job, which job that is. Kept as a small record beside the held
// file; a record is one "key=value" line each.

#include <optional>
#include <string>
#include <string_view>

#include "common/print_job.h"
#include "intake/watch_folder.h"

namespace plx {

struct HeldJob {
    // Names the record "<key>.job" and the held file "<key>.bmp"; empty for a job without a
    // job file (the test print), which is only followed.
    std::string key;
    std::string token;  // the claim token the job carries to the print server; empty if none
    std::string name;   // the job file's name in the watch folder ("test print" for that)
    JobRef job;         // the queue always; id 0 while the job is not known to be handed over
    FileIdentity file;  // the file as it was read
    int after = 0;      // a claim's job, if the server made one, has a higher number than this

    bool jobFile() const { return !key.empty(); }
    bool handedOver() const { return job.id > 0; }
};

// 128 random bits in hex: no two claims, on any machine, share one.
std::string newClaimToken();

// A name a record can hold for its held file: a plain job file of the watch folder.
bool isRecordKey(std::string_view key);

std::string serializedRecord(const HeldJob& held);
// Nothing when the text is not a whole record or names anything but a plain job file.
std::optional<HeldJob> parsedRecord(const std::string& key, const std::string& text);

}  // namespace plx
