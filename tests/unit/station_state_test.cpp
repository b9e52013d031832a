// What the station says of itself without the window: its snapshot file, the one-line state
// for systemd, the reminder of standing conditions, the journal's fields.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

#include "app/log.h"
#include "app/service.h"
#include "monitoring/condition_reminder.h"
#include "monitoring/snapshot_file.h"
#include "monitoring/state_places.h"
#include "monitoring/status_line.h"
#include "monitoring/time_text.h"
#include "tests/support/monitoring_samples.h"
#include "tests/support/notify_socket.h"
#include "tests/support/temp_folder_test.h"

using namespace plx;
using namespace plx::test;

namespace {

using StationStateTest = TempFolderTest;

QByteArray contentOf(const std::string& file) {
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A process id that is certainly not running: a child that has been reaped.
int deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return int(child);
}

}  // namespace

TEST_F(StationStateTest, SnapshotSurvivesItsTripThroughJson) {
    const StationSnapshot s = sampleSnapshot();
    Result<StationSnapshot> back = snapshotFromJson(snapshotToJson(s));
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, s);
    StationSnapshot idle;
    idle.station.watchFolder = "/x";
    EXPECT_EQ(*snapshotFromJson(snapshotToJson(idle)), idle) << "no job, no times";
    EXPECT_FALSE(snapshotFromJson("[1, 2]"));
    EXPECT_FALSE(snapshotFromJson("{\"station\": "));
    EXPECT_EQ(snapshotFromJson("{\"files\": [{\"name\": 3, \"mark\": \"gone\"}]}")->files.size(),
              1u)
        << "fields of another type read as defaults";
}

TEST_F(StationStateTest, PublisherWritesAtomicallyAtALimitedRateAndCleansUp) {
    const std::string file = path("station.json");
    StationSnapshot s = sampleSnapshot();
    {
        SnapshotPublisher publisher(file);
        for (int i = 0; i < 50; ++i) {
            s.counters.labelsPrinted = i;
            publisher.publish(s);
        }
        EXPECT_EQ(publisher.writes(), 1) << "the first at once, the rest wait";
        EXPECT_TRUE(QTest::qWaitFor([&] { return publisher.writes() == 2; }, 2000));
        EXPECT_EQ(snapshotFromJson(contentOf(file))->counters.labelsPrinted, 49) << "the newest";
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);
        EXPECT_FALSE(std::filesystem::exists(path(".station.json.tmp")));

        // A symbolic link planted at the temporary name is not followed.
        const std::string victim = path("victim");
        writeFile(victim, {'v'});
        std::filesystem::create_symlink(victim, path(".station.json.tmp"));
        EXPECT_FALSE(writeFileAtomically(file, "{}"));
        EXPECT_EQ(contentOf(victim), "v");
    }
    EXPECT_FALSE(std::filesystem::exists(file)) << "removed at a clean end";
}

TEST_F(StationStateTest, ReadersTellRunningStationsFromGoneOnes) {
    const std::string runtime = path("run");
    std::filesystem::create_directories(runtime + "/instance");
    const int gone = deadPid();
    StationSnapshot live = sampleSnapshot("/srv/a", ::getpid());
    live.station.started = wallNowMs();  // a station notes its start once it runs
    ASSERT_TRUE(writeFileAtomically(runtime + "/a.json", snapshotToJson(live)));
    ASSERT_TRUE(writeFileAtomically(runtime + "/instance/b.json",
                                    snapshotToJson(sampleSnapshot("/srv/b", gone))));
    ASSERT_TRUE(writeFileAtomically(runtime + "/c.json", "not json"));
    const std::vector<FoundSnapshot> found = findSnapshots({runtime});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].snapshot.station.watchFolder, "/srv/a");
    EXPECT_TRUE(found[0].running);
    EXPECT_FALSE(found[1].running);
    StationSnapshot reused = live;
    reused.station.started = 1000;  // "started" long before this process did: another one
    EXPECT_FALSE(processAlive(::getpid(), reused.station.started));

    // A second station on the same folder writes a file of its own.
    const std::string mine = snapshotPathFor(runtime, "/srv/c");
    EXPECT_EQ(mine, runtime + "/" + folderKey("/srv/c") + ".json");
    StationSnapshot other = sampleSnapshot("/srv/c", 1);
    other.station.started = 0;
    ASSERT_TRUE(writeFileAtomically(mine, snapshotToJson(other)));
    EXPECT_NE(snapshotPathFor(runtime, "/srv/c"), mine) << "pid 1 is alive";
}

TEST_F(StationStateTest, FolderKeysAreReadableAndTellFoldersApart) {
    EXPECT_EQ(folderKey("/srv/labels").rfind("srv-labels-", 0), 0u);
    EXPECT_EQ(folderKey("/srv/labels").size(), std::string("srv-labels-").size() + 8);
    EXPECT_NE(folderKey("/srv/labels"), folderKey("/srv/labels "));
    EXPECT_EQ(folderKey("/").rfind("root-", 0), 0u);
    EXPECT_EQ(folderKey("/../..").find('/'), std::string::npos);
    EXPECT_EQ(absoluteFolder(path("a") + "/../b/"), absoluteFolder(path("b")));
    // A private folder under /tmp made first by someone else is not used.
    const std::string shared = "/tmp/plixagram-test-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ::chmod(shared.c_str(), 0777);
    EXPECT_FALSE(ensureFolder(shared));
    ::rmdir(shared.c_str());
    EXPECT_TRUE(ensureFolder(shared));
    ::rmdir(shared.c_str());
}

TEST(StatusLine, SaysWhatWaitsAndWhatStandsInTheWaySinceWhen) {
    StationSnapshot s = sampleSnapshot();
    s.job.reset();
    s.files.push_back({"old_2.bmp", FileMark::SetAside, "failed three times"});
    const std::string line = composeStatusLine(s, kSampleNow);
    EXPECT_EQ(
        line.rfind("3 waiting, 1 set aside, 1 bad; print queue \"QLS-4100-Xe\" stopped since ", 0),
        0u)
        << line;
    EXPECT_NE(line.find(": out of labels (paused)"), std::string::npos) << line;
    EXPECT_EQ(line.find("is stopped"), std::string::npos) << "the printer said once: " << line;

    s.history = {false, "database or disk is full", {}};
    s.printer.blocked = false;
    s.conditions.clear();
    s.files.clear();
    EXPECT_EQ(composeStatusLine(s, kSampleNow),
              "idle, no files waiting; history is not being kept: database or disk is full");
    s.station.holdsFolder = false;
    s.station.standsByFor = "labelhost2:77";
    s.history.kept = true;
    EXPECT_EQ(composeStatusLine(s, kSampleNow), "standing by for labelhost2:77");

    s.station.holdsFolder = true;
    s.conditions = {{"folder", std::string(500, 'x') + "\xC3\xA9\n", 0}};
    const std::string longLine = composeStatusLine(s, kSampleNow);
    EXPECT_LE(longLine.size(), kStatusLineMax);
    EXPECT_EQ(longLine.find('\n'), std::string::npos);
}

TEST(StatusLine, NotifierSendsStatusOnlyWhenItChanges) {
    QTemporaryDir dir;
    NotifySocket socket(dir.filePath(QStringLiteral("notify")).toStdString());
    ASSERT_TRUE(socket.bound());
    ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
    {
        ServiceNotifier notifier;
        notifier.status("3 waiting");
        notifier.status("3 waiting");
        notifier.status("2 waiting\nsecond");
    }
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(socket.received(),
              (std::vector<std::string>{"STATUS=3 waiting", "STATUS=2 waiting second"}));
}

TEST(ConditionReminder, RepeatsEachConditionAtItsPeriodAndSaysItsEndOnce) {
    using namespace std::chrono_literals;
    ConditionReminder reminder;
    const auto t0 = ConditionReminder::Clock::time_point{} + 1h;
    const std::string stopped = "print queue \"Q\" is stopped: out of labels";
    EXPECT_TRUE(reminder.update({stopped}, t0).empty()) << "the station says it as it arises";
    EXPECT_TRUE(reminder.update({stopped}, t0 + 14min).empty());
    std::vector<Reminder> said = reminder.update({stopped, "folder trouble"}, t0 + 15min);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].severity, Severity::Warning);
    EXPECT_EQ(said[0].message.text(), stopped + " (for 15 min now)");
    EXPECT_TRUE(reminder.update({stopped, "folder trouble"}, t0 + 29min).empty());
    said = reminder.update({stopped, "folder trouble"}, t0 + 30min + 5s);
    ASSERT_EQ(said.size(), 2u) << "each at its own period";
    EXPECT_EQ(said[0].message.text(), "folder trouble (for 15 min now)");
    EXPECT_EQ(said[1].message.text(), stopped + " (for 30 min now)");
    said = reminder.update({}, t0 + 2h + 3min);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[1].message.text(), stopped + ": over after 2 h 03 min");
    EXPECT_EQ(said[1].severity, Severity::Notice);
    EXPECT_TRUE(reminder.update({}, t0 + 3h).empty()) << "its end is said once";
}

TEST(JournalFields, EachEventCarriesItsFileQueueAndJob) {
    EXPECT_EQ(
        log::journalFields(4, {}, "lot42_3.bmp: sent",
                           {"lot42_3.bmp", "QLS-4100-Xe", "QLS-4100-Xe-7"}),
        (std::vector<std::string>{"MESSAGE=lot42_3.bmp: sent", "PRIORITY=4",
                                  "SYSLOG_IDENTIFIER=plixagram", "PLIXAGRAM_FILE=lot42_3.bmp",
                                  "PLIXAGRAM_QUEUE=QLS-4100-Xe", "PLIXAGRAM_JOB=QLS-4100-Xe-7"}));
    EXPECT_EQ(log::journalFields(6, "qt.qpa", "two\nlines %s", {}),
              (std::vector<std::string>{"MESSAGE=qt.qpa: two\nlines %s", "PRIORITY=6",
                                        "SYSLOG_IDENTIFIER=plixagram"}));
}
