#include "tests/support/monitoring_samples.h"

#include <gtest/gtest.h>

namespace plx::test {

StationSnapshot sampleSnapshot(const std::string& folder, int pid) {
    StationSnapshot s;
    s.updated = kSampleNow;
    s.station = {folder, pid, "labelhost", "0.1.0", kSampleNow - 3600 * 1000, true, {}};
    s.settings = {"QLS-4100 Xe drivers standard", "\\srv\\labels", "1", "60", "20"};
    s.printer = {"QLS-4100-Xe", "stopped", "out of labels (paused)", true, kSampleNow - 600 * 1000};
    s.job = CurrentJob{"lot42_front_3.bmp", 3, 120, 943, kSampleNow - 5000};
    s.files = {{"lot42_front_3.bmp", FileMark::Printing, {}},
               {"lot42_back_1.bmp", FileMark::Waiting, "print queue \"QLS-4100-Xe\" is stopped"},
               {"lot43_front_1.bmp", FileMark::Waiting, {}},
               {"lot44_front_1.bmp", FileMark::Waiting, {}},
               {"broken_x_1.bmp", FileMark::Bad, "not a picture"}};
    s.conditions = {{"printer", "print queue \"QLS-4100-Xe\" is stopped: out of labels (paused)",
                     kSampleNow - 600 * 1000}};
    s.counters = {120, 2, 1, 600, 3};
    s.history = {true, {}, "/var/lib/plixagram/srv-labels-0000.sqlite"};
    s.picture = {9, "lot42_front_3.bmp", 1200, 943};
    s.lastEvent = "lot41_front_2.bmp: printed";
    s.lastEventAt = kSampleNow - 60 * 1000;
    return s;
}

void recordJob(JobHistory& history, const std::string& key, const std::string& file,
               JobOutcome outcome, std::int64_t at, int jobId, int copies) {
    JobFile job{key, file, 1234, std::string(64, 'a'), "1", copies};
    ASSERT_TRUE(history.seen(job, at));
    ASSERT_TRUE(history.sent(key, file, {"QLS-4100-Xe", jobId, "urn:uuid:" + key}, at + 1000));
    ASSERT_TRUE(history.ended(key, file, outcome, 1, {}, at + 2000));
}

}  // namespace plx::test
