// `plixagram status` and `plixagram history` on snapshots and histories written here.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "monitoring/operator_commands.h"
#include "monitoring/snapshot_file.h"
#include "monitoring/time_text.h"
#include "tests/support/monitoring_samples.h"
#include "tests/support/temp_folder_test.h"

using namespace plx;
using namespace plx::test;

namespace {

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

class OperatorCommandsTest : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        m_places = {{path("state")}, {path("run")}};
        std::filesystem::create_directories(path("run/instance"));
        std::filesystem::create_directories(path("state"));
    }
    CommandRun status(const QStringList& args) { return run(runStatusCommand, args); }
    CommandRun history(const QStringList& args) { return run(runHistoryCommand, args); }
    std::unique_ptr<JobHistory> historyOf(const std::string& folder) {
        return std::move(
                   JobHistory::open(path("state/" + folderKey(folder) + ".sqlite"), folder, "h:1"))
            .value();
    }
    LookPlaces m_places;

  private:
    template <typename F>
    CommandRun run(F command, const QStringList& args) {
        std::ostringstream out, err;
        CommandRun r;
        r.status = command(args, m_places, out, err);
        r.out = out.str();
        r.err = err.str();
        return r;
    }
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(OperatorCommandsTest, StatusShowsEachStationAndWhetherItRuns) {
    StationSnapshot live = sampleSnapshot("/srv/a", ::getpid());
    live.station.started = wallNowMs();
    ASSERT_TRUE(writeFileAtomically(path("run/a.json"), snapshotToJson(live)));
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(writeFileAtomically(path("run/instance/b.json"),
                                    snapshotToJson(sampleSnapshot("/srv/b", int(child)))));

    CommandRun all = status({});
    EXPECT_EQ(all.status, 0);
    for (const char* part :
         {"Station watching /srv/a", "lot42_back_1.bmp", "waiting", "broken_x_1.bmp",
          "not a picture", "Printing: lot42_front_3.bmp, 3 copies, row 120 of 943",
          "Printer: print queue \"QLS-4100-Xe\" stopped since", "Station watching /srv/b",
          "not running (last seen"})
        EXPECT_TRUE(has(all.out, part)) << part << "\n" << all.out;

    EXPECT_EQ(status({"--folder", "/srv/b"}).status, 1) << "that station is gone";
    const CommandRun json = status({"--json", "--folder", "/srv/a"});
    EXPECT_EQ(json.status, 0);
    const QJsonArray stations =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(stations.size(), 1);
    EXPECT_TRUE(stations[0]["running"].toBool());
    EXPECT_EQ(stations[0]["files"].toArray().size(), 5);

    const CommandRun none = status({"--folder", "/srv/none"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(has(none.err, "no station found watching /srv/none"));
    EXPECT_EQ(status({"--bogus"}).status, 2);
    EXPECT_EQ(status({"extra"}).status, 2);
    EXPECT_EQ(status({"--help"}).status, 0);
}

TEST_F(OperatorCommandsTest, HistoryListsJobsWithOutcomesAndChecksums) {
    {
        auto a = historyOf("/srv/a");
        recordJob(*a, "k-old", "old_1.bmp", JobOutcome::Printed, wallNowMs() - 10 * 86400000LL);
        recordJob(*a, "k1", "lot42_front_3.bmp", JobOutcome::Printed, wallNowMs(), 41, 3);
        recordJob(*a, "k2", "lot43_front_1.bmp", JobOutcome::Cancelled, wallNowMs(), 42);
        ASSERT_TRUE(a->decided({{}, "=cmd_1.bmp", 5, {}, "1", 1}, JobOutcome::SetAside,
                               "bad, really", wallNowMs()));
        recordJob(*historyOf("/srv/b"), "k3", "other_1.bmp", JobOutcome::Printed, wallNowMs());
    }
    const CommandRun csv = history({"--folder", "/srv/a", "--csv", "--since", "2d"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    std::vector<std::string> lines;
    std::istringstream in(csv.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << csv.out;
    EXPECT_TRUE(has(lines[0], "folder,file,size,sha256"));
    EXPECT_TRUE(has(
        lines[1], "/srv/a,lot42_front_3.bmp,1234," + std::string(64, 'a') + ",1,3,QLS-4100-Xe,41"));
    EXPECT_TRUE(has(lines[1], ",printed,"));
    EXPECT_TRUE(has(lines[2], ",cancelled,"));
    EXPECT_TRUE(has(lines[3], "'=cmd_1.bmp")) << "not a formula in a spreadsheet";
    EXPECT_TRUE(has(lines[3], "\"bad, really\""));

    const CommandRun json = history({"--json", "--file", "other_1.bmp"});
    const QJsonArray jobs = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(jobs.size(), 1);
    EXPECT_EQ(jobs[0]["folder"].toString(), "/srv/b");
    EXPECT_EQ(jobs[0]["outcome"].toString(), "printed");

    const CommandRun table = history({});
    EXPECT_EQ(table.status, 0);
    EXPECT_TRUE(has(table.out, "Jobs of the station watching /srv/a (4)")) << table.out;
    EXPECT_TRUE(has(table.out, "Jobs of the station watching /srv/b (1)"));
    EXPECT_TRUE(has(table.out, "QLS-4100-Xe-42"));

    EXPECT_EQ(history({"--csv", "--json"}).status, 2);
    EXPECT_EQ(history({"--since", "soon"}).status, 2);
    EXPECT_EQ(history({"--folder", "/srv/none"}).status, 1);
}

// The service writes its history as its own user; an operator reads it as another one, who
// can write neither the folder nor the database's shared-memory file.
TEST_F(OperatorCommandsTest, HistoryReadsForAnotherUserWhileTheStationWritesAndAfter) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the command as another user";
    const std::string state = path("xdg/plixagram");
    std::filesystem::create_directories(state);
    for (const std::string& dir : {path(""), path("xdg"), state}) ::chmod(dir.c_str(), 0755);
    auto writer =
        std::move(JobHistory::open(state + "/" + folderKey("/srv/a") + ".sqlite", "/srv/a", "h:1"))
            .value();
    recordJob(*writer, "k1", "lot42_front_3.bmp", JobOutcome::Printed, wallNowMs());

    const auto asNobody = [this](int& status) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        const std::string xdg = "XDG_STATE_HOME=" + path("xdg");
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
            const char* argv[] = {"plixagram", "history", "--folder", "/srv/a", "--csv", nullptr};
            const char* envp[] = {xdg.c_str(), "HOME=/nonexistent", nullptr};
            ::execve(PLX_PROGRAM, const_cast<char* const*>(argv), const_cast<char* const*>(envp));
            ::_exit(126);
        }
        ::close(fds[1]);
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, std::size_t(n));
        ::close(fds[0]);
        ::waitpid(child, &status, 0);
        return out;
    };
    int status = 0;
    std::string out = asNobody(status);
    if (WEXITSTATUS(status) == 126) GTEST_SKIP() << PLX_PROGRAM << " cannot be run by user nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(has(out, "lot42_front_3.bmp")) << out;
    writer.reset();  // a clean close removes the log and its shared-memory file
    EXPECT_FALSE(std::filesystem::exists(state + "/" + folderKey("/srv/a") + ".sqlite-shm"));
    out = asNobody(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(has(out, "lot42_front_3.bmp")) << out;
}
