// The station's records as the window's decisions make them: one history row per label with
// its outcome and checksum, and the state snapshot and one-line state following the queue.
#include <QCryptographicHash>
#include <QFile>
#include <map>

#include <gtest/gtest.h>

#include "app/job_records.h"
#include "monitoring/history_recorder.h"
#include "monitoring/snapshot_file.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/station_rig.h"

using namespace plx;
using plx::test::StationRig;

namespace {

QByteArray contentOf(const std::string& file) {
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string sha256Of(const std::string& file) {
    return QCryptographicHash::hash(contentOf(file), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::vector<JobRecord> historyRows(StationMonitor& monitor) {
    monitor.records()->waitForDigests();
    Result<std::unique_ptr<JobHistory>> history =
        JobHistory::openReadOnly(monitor.history()->path());
    if (!history) return {};
    Result<std::vector<JobRecord>> jobs = (*history)->jobs({});
    return jobs ? *jobs : std::vector<JobRecord>{};
}

}  // namespace

TEST(StationRecords, HistoryKeepsOneRowPerLabelWithItsOutcomeAndChecksum) {
    StationRig r;
    r.form.monitor().keepRecords(RecordPlaces{r.dir.path().toStdString() + "/state", {}, {}, 400});
    r.restart();
    const std::string good = r.drop("good_x_2.bmp");
    const std::string goodSum = sha256Of(good);
    const auto goodSize = std::int64_t(contentOf(good).size());
    r.drop("flaky_x_1.bmp");
    r.drop("stopped_x_1.bmp");
    test::writeFile(r.path("broken_x_1.bmp"), std::vector<std::uint8_t>(200, 'x'));
    r.tick();  // flaky, good, stopped sent as jobs 1, 2, 3; the broken file set aside
    r.surface.setPhase(1, JobPhase::Failed, "aborted", "job-aborted-by-system");
    r.surface.setPhase(2, JobPhase::Completed, "completed", {}, 2);
    r.surface.setPhase(3, JobPhase::CanceledByPerson, "canceled", "job-canceled-by-user");
    r.tick();  // the failed label is put back and sent again as job 4
    r.surface.setPhase(4, JobPhase::Completed, "completed");
    r.tick();

    const std::vector<JobRecord> all = historyRows(r.form.monitor());
    ASSERT_EQ(all.size(), 4u) << "one row per label, a reprint included";
    std::map<std::string, JobRecord> rows;
    for (const JobRecord& j : all) rows[j.file] = j;
    const JobRecord& g = rows.at("good_x_2.bmp");
    EXPECT_EQ(g.outcome, JobOutcome::Printed);
    EXPECT_EQ(g.sha256, goodSum);
    EXPECT_EQ(g.size, goodSize);
    EXPECT_EQ(g.copies, 2);
    EXPECT_EQ(g.mode, "1");
    EXPECT_EQ(g.queue, "QLS-4100-Xe");
    EXPECT_EQ(g.jobId, 2);
    EXPECT_EQ(g.pages, 2);
    EXPECT_TRUE(g.seen > 0 && g.seen <= g.sent && g.sent <= g.ended);
    const JobRecord& f = rows.at("flaky_x_1.bmp");
    EXPECT_EQ(f.outcome, JobOutcome::PrintedAgain);
    EXPECT_EQ(f.sends, 2);
    EXPECT_EQ(f.failures, 1);
    EXPECT_EQ(f.jobId, 4);
    EXPECT_EQ(rows.at("stopped_x_1.bmp").outcome, JobOutcome::Cancelled);
    const JobRecord& b = rows.at("broken_x_1.bmp");
    EXPECT_EQ(b.outcome, JobOutcome::SetAside);
    EXPECT_NE(b.reason.find("not printed"), std::string::npos) << b.reason;
    EXPECT_EQ(b.sha256, sha256Of(r.path("broken_x_1.bmp")));
    EXPECT_EQ(b.sends, 0);
}

TEST(StationRecords, SnapshotAndStatusLineFollowTheQueueAndTheFiles) {
    StationRig r;
    std::vector<std::string> lines;
    StationMonitor& monitor = r.form.monitor();
    monitor.setStatusLineSink([&lines](const std::string& l) { lines.push_back(l); });
    monitor.keepRecords(RecordPlaces{{}, r.dir.path().toStdString() + "/run", {}, 400});
    r.restart();
    r.surface.state = QueueState{true, true, "out of labels", {"paused"}};
    for (const char* name : {"a_x_1.bmp", "b_x_2.bmp", "c_x_3.bmp"}) r.drop(name);
    r.drop("0_no_count.bmp");
    r.tick();
    monitor.publishNow();

    Result<StationSnapshot> s = snapshotFromJson(contentOf(monitor.snapshotPath()));
    ASSERT_TRUE(s) << monitor.snapshotPath();
    EXPECT_TRUE(s->printer.blocked);
    EXPECT_EQ(s->printer.state, "stopped");
    EXPECT_EQ(s->printer.reasons, "out of labels (paused)");
    ASSERT_EQ(s->files.size(), 4u);
    EXPECT_EQ(s->files[0].mark, FileMark::Bad);
    EXPECT_EQ(s->files[1].mark, FileMark::Waiting);
    EXPECT_EQ(s->files[1].reason,
              "waiting: print queue \"QLS-4100-Xe\" is stopped: out of labels (paused)");
    ASSERT_EQ(s->conditions.size(), 1u);
    EXPECT_EQ(s->conditions[0].kind, "printer");
    EXPECT_EQ(s->counters.filesWaiting, 3);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("3 waiting, 1 bad; print queue \"QLS-4100-Xe\" stopped since ", 0),
              0u)
        << lines.back();

    r.surface.state = QueueState{};
    r.tick();
    monitor.publishNow();
    EXPECT_EQ(lines.back(), "3 at the printer, 1 bad");
    s = snapshotFromJson(contentOf(monitor.snapshotPath()));
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->printer.blocked);
    EXPECT_TRUE(s->conditions.empty());
    ASSERT_EQ(s->files.size(), 4u);
    EXPECT_EQ(s->files[1].mark, FileMark::Held);
    EXPECT_EQ(s->files[1].reason, "job QLS-4100-Xe-1 at the printer");

    r.surface.setPhase(1, JobPhase::Completed, "completed");
    r.surface.setPhase(2, JobPhase::Completed, "completed");
    r.tick();
    monitor.publishNow();
    s = snapshotFromJson(contentOf(monitor.snapshotPath()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->counters.labelsPrinted, 3) << "copies of the jobs completed";
    EXPECT_EQ(lines.back(), "1 at the printer, 1 bad");
}
