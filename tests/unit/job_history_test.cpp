// The job history: rows through the station's events, retention, a full disk, the checksum.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

#include "monitoring/content_digest.h"
#include "monitoring/history_recorder.h"
#include "monitoring/job_history.h"
#include "tests/support/monitoring_samples.h"
#include "tests/support/temp_folder_test.h"

using namespace plx;
using namespace plx::test;

namespace {

constexpr std::int64_t kDay = 86400LL * 1000;

class JobHistoryTest : public TempFolderTest {
  protected:
    std::unique_ptr<JobHistory> open(const std::string& name = "h.sqlite") {
        Result<std::unique_ptr<JobHistory>> h =
            JobHistory::open(path(name), "/srv/labels", "host:1");
        EXPECT_TRUE(h) << (h ? "" : h.error().message);
        return h ? std::move(h).value() : nullptr;
    }
    static std::vector<JobRecord> all(const JobHistory& h) {
        Result<std::vector<JobRecord>> rows = h.jobs({});
        EXPECT_TRUE(rows);
        return rows ? *rows : std::vector<JobRecord>{};
    }
};

// PRAGMA integrity_check of the file, from a connection of its own.
std::string integrity(const std::string& file) {
    std::string result;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(QString::fromStdString(file));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                result = q.value(0).toString().toStdString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

}  // namespace

TEST_F(JobHistoryTest, EventsMakeOneRowPerJobWithItsOutcome) {
    auto h = open();
    ASSERT_TRUE(h);
    EXPECT_EQ(h->folder(), "/srv/labels");
    recordJob(*h, "c1", "lot42_front_3.bmp", JobOutcome::Printed, kSampleNow, 41, 3);

    // Failed at the printer, put back under a new name, sent again and completed.
    ASSERT_TRUE(h->seen({"c2", "lot43_1.bmp", 10, "ab", "1", 1}, kSampleNow));
    ASSERT_TRUE(h->sent("c2", "lot43_1.bmp", {"QLS-4100-Xe", 50, "urn:uuid:x"}, kSampleNow + 1));
    ASSERT_TRUE(h->failed("c2", "lot43_1.bmp", "aborted: media-jam", kSampleNow + 2));
    ASSERT_TRUE(
        h->sent("c2", "retry1-lot43_1.bmp", {"QLS-4100-Xe", 51, "urn:uuid:y"}, kSampleNow + 3));
    ASSERT_TRUE(h->ended("c2", "retry1-lot43_1.bmp", JobOutcome::Printed, -1, {}, kSampleNow + 4));

    // Decided at once, without a claim; and a job whose first events were not kept.
    Result<std::string> aside = h->decided({{}, "broken_x_1.bmp", 3, "cd", "1", 1},
                                           JobOutcome::SetAside, "not a picture", kSampleNow + 5);
    ASSERT_TRUE(aside);
    ASSERT_TRUE(
        h->ended("c3", "lot44_2.bmp", JobOutcome::Cancelled, -1, "by a person", kSampleNow + 6000));

    const std::vector<JobRecord> rows = all(*h);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].file, "lot42_front_3.bmp");
    EXPECT_EQ(rows[0].outcome, JobOutcome::Printed);
    EXPECT_EQ(rows[0].copies, 3);
    EXPECT_EQ(rows[0].jobId, 41);
    EXPECT_EQ(rows[0].sha256, std::string(64, 'a'));
    EXPECT_EQ(rows[0].seen, kSampleNow);
    EXPECT_EQ(rows[0].sent, kSampleNow + 1000);
    EXPECT_EQ(rows[0].ended, kSampleNow + 2000);
    EXPECT_EQ(rows[0].pages, 1);
    EXPECT_EQ(rows[0].station, "host:1");

    EXPECT_EQ(rows[1].outcome, JobOutcome::PrintedAgain);
    EXPECT_EQ(rows[1].file, "retry1-lot43_1.bmp");
    EXPECT_EQ(rows[1].sends, 2);
    EXPECT_EQ(rows[1].failures, 1);
    EXPECT_EQ(rows[1].jobId, 51);
    EXPECT_EQ(rows[1].reason, "aborted: media-jam") << "the failure stays known";
    EXPECT_EQ(rows[1].size, 10);

    EXPECT_EQ(rows[2].key, *aside);
    EXPECT_EQ(rows[2].outcome, JobOutcome::SetAside);
    EXPECT_EQ(rows[2].reason, "not a picture");
    EXPECT_EQ(rows[3].outcome, JobOutcome::Cancelled);
    EXPECT_EQ(rows[3].file, "lot44_2.bmp");

    HistoryFilter one;
    one.file = "broken_x_1.bmp";
    EXPECT_EQ(h->jobs(one)->size(), 1u);
    HistoryFilter newest;
    newest.newestFirstLimit = 2;
    ASSERT_EQ(h->jobs(newest)->size(), 2u);
    EXPECT_EQ(h->jobs(newest)->front().key, "c3");
}

TEST_F(JobHistoryTest, RetentionPurgesOnlyOldRowsAndIsConfigurable) {
    auto h = open();
    ASSERT_TRUE(h);
    recordJob(*h, "old", "a_1.bmp", JobOutcome::Printed, kSampleNow - 401 * kDay);
    recordJob(*h, "kept", "b_1.bmp", JobOutcome::Printed, kSampleNow - 399 * kDay);
    // Seen long ago but ended lately: its last event counts.
    ASSERT_TRUE(h->seen({"late", "c_1.bmp", 1, {}, "1", 1}, kSampleNow - 500 * kDay));
    ASSERT_TRUE(h->ended("late", "c_1.bmp", JobOutcome::Printed, 1, {}, kSampleNow - kDay));
    EXPECT_EQ(*h->purge(kSampleNow, kDefaultRetentionDays), 1);
    std::vector<std::string> keys;
    for (const JobRecord& r : all(*h)) keys.push_back(r.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"late", "kept"}));

    ::setenv("PLIXAGRAM_HISTORY_DAYS", "30", 1);
    EXPECT_EQ(retentionDaysFromEnvironment(), 30);
    for (const char* bad : {"0", "-3", "ten", "30d", ""}) {
        ::setenv("PLIXAGRAM_HISTORY_DAYS", bad, 1);
        EXPECT_EQ(retentionDaysFromEnvironment(), kDefaultRetentionDays) << bad;
    }
    ::unsetenv("PLIXAGRAM_HISTORY_DAYS");
}

TEST_F(JobHistoryTest, ReaderSeesCommittedRowsWhileTheWriterIsOpen) {
    auto writer = open();
    ASSERT_TRUE(writer);
    recordJob(*writer, "k1", "a_1.bmp", JobOutcome::Printed, kSampleNow);
    Result<std::unique_ptr<JobHistory>> reader = JobHistory::openReadOnly(path("h.sqlite"));
    ASSERT_TRUE(reader) << reader.error().message;
    EXPECT_EQ((*reader)->folder(), "/srv/labels");
    EXPECT_EQ((*reader)->jobs({})->size(), 1u);
    recordJob(*writer, "k2", "b_1.bmp", JobOutcome::Printed, kSampleNow);
    EXPECT_EQ((*reader)->jobs({})->size(), 2u);
    EXPECT_FALSE((*reader)->seen({"k3", "c_1.bmp", 1, {}, "1", 1}, kSampleNow)) << "read-only";
    EXPECT_FALSE(JobHistory::openReadOnly(path("missing.sqlite")));
}

TEST_F(JobHistoryTest, RecorderKeepsEventsThroughAFullDiskAndSaysSo) {
    const std::string mount = path("small");
    std::filesystem::create_directory(mount);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mount};
    const std::string db = mount + "/h.sqlite";
    HistoryRecorder recorder(db, "/srv/labels", kDefaultRetentionDays);
    ASSERT_TRUE(recorder.kept()) << recorder.problem();
    int changes = 0;
    QObject::connect(&recorder, &HistoryRecorder::stateChanged, [&changes] { ++changes; });
    // Fill the disk beside the database, then keep the events coming.
    {
        const int fd = ::open((mount + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    for (int i = 0; i < 200; ++i)
        recorder.seen(
            {"k" + std::to_string(i), "f_" + std::to_string(i) + "_1.bmp", 1, {}, "1", 1});
    ASSERT_FALSE(recorder.kept());
    EXPECT_NE(recorder.problem().find("full"), std::string::npos) << recorder.problem();
    EXPECT_GT(recorder.backlog(), 0u);
    EXPECT_EQ(integrity(db), "ok");

    // Room again: each event's commit adds a few pages to the write-ahead log.
    ASSERT_EQ(::mount("tmpfs", mount.c_str(), "tmpfs", MS_REMOUNT, "size=8m"), 0);
    recorder.retry();
    EXPECT_TRUE(recorder.kept()) << recorder.problem();
    EXPECT_EQ(recorder.backlog(), 0u);
    EXPECT_EQ(changes, 2) << "said when it stopped and when it came back";
    EXPECT_EQ(recorder.recent(1000).size(), 200u) << "every event written once there was room";
    EXPECT_EQ(integrity(db), "ok");
}

TEST_F(JobHistoryTest, RecorderThatCannotOpenTriesAgainLater) {
    const std::string blocked = path("not-a-folder");
    writeFile(blocked, {'x'});
    HistoryRecorder recorder(blocked + "/h.sqlite", "/srv/labels", kDefaultRetentionDays);
    EXPECT_FALSE(recorder.kept());
    EXPECT_FALSE(recorder.problem().empty());
    recorder.seen({"k1", "a_1.bmp", 1, {}, "1", 1});
    std::filesystem::remove(blocked);
    recorder.setRetryInterval(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.kept(); }, 5000)) << recorder.problem();
    ASSERT_EQ(recorder.recent(10).size(), 1u);
    EXPECT_EQ(recorder.recent(10).front().file, "a_1.bmp");
}

TEST_F(JobHistoryTest, ChecksumStreamsTheWholeFileAndLeavesItsOffset) {
    std::vector<std::uint8_t> content(200 * 1024 + 7);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = std::uint8_t(i * 31 + 7);
    const std::string file = write("big.bmp", content);
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
    Result<std::string> sum = sha256OfFile(fd);
    ASSERT_TRUE(sum);
    const QByteArray bytes(reinterpret_cast<const char*>(content.data()),
                           qsizetype(content.size()));
    EXPECT_EQ(*sum,
              QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString());
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 5);
    ::close(fd);
    EXPECT_FALSE(sha256OfFile(-1));
}
