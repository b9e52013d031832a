// Fault drills on the real program: the print server going down, the station killed, queues
// held or rejecting, the watch folder vanishing, and a folder full of bad job files. In every
// drill each good file must print exactly once and no file may be lost.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bmp_writer.h"
#include "tests/support/cups_test_server.h"
#include "tests/support/station_process.h"

namespace plx::test {
namespace {
namespace fs = std::filesystem;

constexpr int kJobsMs = 120000;  // a whole run of jobs

std::vector<std::uint8_t> smallLabel(unsigned seed) {
    return encodeBmp(16, 16, mixedPicture(16, 16, seed));
}

// Every name has exactly one complete job in the queue and the queue has nothing left to do.
void expectPrintedOnceEach(const std::string& queue, const std::vector<std::string>& names) {
    waitForTitles(queue, names, kJobsMs);
    EXPECT_TRUE(waitForQueueIdle(queue, kJobsMs)) << runCupsTool({"lpstat", "-o", queue}).output;
    auto titles = capturedTitles(queue);
    for (const std::string& n : names) EXPECT_EQ(titles[n], 1) << n;
}

// The server taken down (a clean cupsd shutdown: its socket is gone, connections fail) in the
// middle of a run of jobs, more files arriving meanwhile, then the same server started again
// with its queues and the jobs it had accepted.
TEST(FaultDrill, PrintServerStoppedMidRunAndStartedAgainPrintsEveryFileOnce) {
    PrintServerRestorer restore;
    JobFolder folder("drill-server");
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("drsrv_" + std::to_string(100 + i) + "_1.bmp");
        folder.put(names.back(), smallLabel(unsigned(i)));
    }
    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << station.startError();
    ASSERT_TRUE(station.waitForCount(": sent to", 8, kStationStartMs));
    std::string out;
    ASSERT_TRUE(cupsServerScript("stop", &out)) << out;
    ASSERT_GE(station.waitForLine("print server trouble", kJobsMs), 0);
    for (int i = 0; i < 10; ++i) {
        names.push_back("drsrv-late" + std::to_string(i) + "_x_1.bmp");
        folder.put(names.back(), smallLabel(unsigned(50 + i)));
    }
    // Down for a few ticks: nothing is handed over and nothing is deleted meanwhile.
    const std::size_t sentWhenDown = station.countLines(": sent to");
    const std::vector<std::string> leftWhenDown = folder.names();
    std::this_thread::sleep_for(std::chrono::milliseconds(6 * kFastTickMs));
    EXPECT_EQ(station.countLines(": sent to"), sentWhenDown);
    EXPECT_EQ(folder.names(), leftWhenDown);
    EXPECT_LT(sentWhenDown, 40u) << "the server went down after the whole run: no drill";

    ASSERT_TRUE(cupsServerScript("resume", &out)) << out;
    ASSERT_TRUE(station.waitForCount(": printed", names.size(), kJobsMs));
    EXPECT_GE(station.countLines("print server available again"), 1u);
    EXPECT_TRUE(folder.names().empty());
    for (const std::string& n : names) EXPECT_EQ(station.countLines(printedLine(n)), 1u) << n;
    expectPrintedOnceEach(kQueue, names);
    stopWithSigterm(station);
}

// SIGTERM while the station starts, the print server slow to answer its first questions: the
// stop is not lost on the way to the event loop.
TEST(FaultDrill, StopAskedDuringStartUpEndsTheStation) {
    PrintServerRestorer restore;
    JobFolder folder("drill-start-stop");
    const pid_t cupsd = cupsServerPid();
    ASSERT_GT(cupsd, 0);
    ASSERT_EQ(::kill(cupsd, SIGSTOP), 0);
    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "0/0"), kFastTickMs)))
        << station.startError();
    ASSERT_GE(station.waitForLine("watching", kStationStartMs), 0);
    ASSERT_TRUE(station.signal(SIGTERM));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(cupsd, SIGCONT);
    const auto status = station.waitForExit(20000);
    ASSERT_TRUE(status.has_value()) << "still running 20 s after SIGTERM";
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
}

// SIGKILL while a job is under way (the station is talking to the print server, which is
// paused so that the job cannot finish first): the file stays and prints once at the next start.
TEST(FaultDrill, StationKilledMidJobLosesNothingAndPrintsTheJobAfterRestart) {
    PrintServerRestorer restore;
    JobFolder folder("drill-kill");
    const std::string name = "drkill_mid_1.bmp";
    {
        StationProcess station;
        ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
            << station.startError();
        ASSERT_GE(station.waitForLine("watching", kStationStartMs), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * kFastTickMs));
        const int idleSockets = openSockets(station.pid());
        ASSERT_GE(idleSockets, 0);
        const pid_t cupsd = cupsServerPid();
        ASSERT_GT(cupsd, 0);
        ASSERT_EQ(::kill(cupsd, SIGSTOP), 0);
        folder.put(name, smallLabel(1));
        bool talking = false;
        for (int i = 0; i < 200 && !talking; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            talking = openSockets(station.pid()) > idleSockets;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const ExitStatus killed = station.kill();
        ::kill(cupsd, SIGCONT);
        ASSERT_TRUE(talking) << "the station never connected to the print server for the job";
        EXPECT_EQ(killed.signal, SIGKILL);
        EXPECT_EQ(station.countLines(": printed"), 0u);
        EXPECT_TRUE(folder.exists(name)) << "the interrupted job's file is gone";
    }
    // A run of jobs killed part-way: every file is either printed or still there.
    std::vector<std::string> run2;
    for (int i = 0; i < 30; ++i) {
        run2.push_back("drkill-run" + std::to_string(i) + "_a_1.bmp");
        folder.put(run2.back(), smallLabel(unsigned(i)));
    }
    {
        StationProcess station;
        ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
            << station.startError();
        ASSERT_TRUE(station.waitForCount(": sent to", 6, kStationStartMs));
        station.kill();
        waitForQueueIdle(kQueue, kJobsMs);
        const auto titles = capturedTitles(kQueue);
        int left = 0;
        for (const std::string& n : run2) {
            const bool printed = titles.count(n) != 0;
            left += folder.exists(n);
            EXPECT_TRUE(printed != folder.exists(n))
                << n << (printed ? " printed and still there" : " neither printed nor there");
        }
        EXPECT_GT(left, 0) << "killed after the whole run: no drill";
    }
    StationProcess again;
    ASSERT_TRUE(again.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << again.startError();
    ASSERT_GE(again.waitForLine(printedLine(name), kJobsMs), 0);
    for (const std::string& n : run2) {
        if (capturedTitles(kQueue).count(n) == 0 && folder.exists(n)) {
            EXPECT_GE(again.waitForLine(printedLine(n), kJobsMs), 0) << n;
        }
    }
    std::vector<std::string> all = run2;
    all.push_back(name);
    expectPrintedOnceEach(kQueue, all);
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(again);
}

// A job the printer fails (a jam; the queue aborts the job) comes back into the folder and
// prints once more; one cancelled by a person does not.
TEST(FaultDrill, JobFailedAtThePrinterPrintsAgainButOneCancelledByAPersonDoesNot) {
    JobFolder folder("drill-fail");
    const std::string out = queueOutputDir(kQueue);
    struct Cleanup {
        std::string dir;
        ~Cleanup() {
            fs::remove(dir + "/fail-next");
            fs::remove(dir + "/delay");
        }
    } cleanup{out};
    writeFile(out + "/fail-next", {});
    const std::string failed = "drfail_jam_1.bmp";
    folder.put(failed, smallLabel(3));
    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << station.startError();
    ASSERT_GE(station.waitForLine(failed + ": job QLS-4100-Xe-", kJobsMs), 0);
    ASSERT_GE(station.waitForLine(printedLine(failed), kJobsMs), 0);
    EXPECT_EQ(station.countLines(failed + ": sent to"), 2u);
    EXPECT_EQ(station.countLines("failed at the printer"), 1u);
    expectPrintedOnceEach(kQueue, {failed});

    writeFile(out + "/delay", {'6', '0'});
    const std::string cancelled = "drfail_cancel_1.bmp";
    folder.put(cancelled, smallLabel(4));
    const std::string sent = station.lineWith(cancelled + ": sent to", kJobsMs);
    ASSERT_FALSE(sent.empty());
    const int id = printedJobId(sent);
    ASSERT_EQ(runCupsTool({"cancel", std::to_string(id)}).exitCode, 0);
    ASSERT_GE(
        station.waitForLine(
            cancelled + ": job QLS-4100-Xe-" + std::to_string(id) + " was cancelled", kJobsMs),
        0);
    fs::remove(out + "/delay");
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kFastTickMs));
    EXPECT_EQ(station.countLines(cancelled + ": sent to"), 1u);
    EXPECT_EQ(capturedTitles(kQueue).count(cancelled), 0u);
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(station);
}

// Killed while the printer still works on a job it was handed: the next start finds the held
// file, follows the job to its end and only then deletes the file. Nothing prints twice.
TEST(FaultDrill, StationKilledWhileHoldingAJobFollowsItAfterRestart) {
    JobFolder folder("drill-held");
    const std::string delay = queueOutputDir(kQueue) + "/delay";
    struct Cleanup {
        std::string file;
        ~Cleanup() { fs::remove(file); }
    } cleanup{delay};
    writeFile(delay, {'4'});
    const std::string name = "drheld_label_2.bmp";
    folder.put(name, smallLabel(5));
    {
        StationProcess station;
        ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
            << station.startError();
        ASSERT_GE(station.waitForLine(name + ": sent to", kJobsMs), 0);
        station.kill();
    }
    EXPECT_FALSE(folder.exists(name));
    EXPECT_TRUE(folder.names().empty());
    EXPECT_TRUE(fs::exists(folder.file(".plixagram-held"))) << "it is held there";
    fs::remove(delay);

    StationProcess again;
    ASSERT_TRUE(again.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << again.startError();
    ASSERT_GE(again.waitForLine(printedLine(name), kJobsMs), 0);
    EXPECT_EQ(again.countLines(": sent to"), 0u) << "the held job was printed again";
    expectPrintedOnceEach(kQueue, {name});
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(again);
}

// Two stations on one folder: the second stands by, naming the one that holds the folder (as
// the desktop launcher's check does), and takes over within a tick when that one is killed
// mid-run. Every label prints once.
TEST(FaultDrill, SecondStationOnTheFolderStandsByAndTakesOverWhenTheFirstIsKilled) {
    JobFolder folder("drill-two");
    StationProcess first, second;
    ASSERT_TRUE(first.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << first.startError();
    ASSERT_GE(first.waitForLine("watching", kStationStartMs), 0);
    ASSERT_TRUE(second.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << second.startError();
    const std::string standing = second.lineWith("is held by another station", kStationStartMs);
    EXPECT_NE(standing.find("process " + std::to_string(first.pid())), std::string::npos)
        << standing;
    const ToolRun launcher = runCupsTool({PLX_PROGRAM, "--holder", folder.settings("1", "0/0")});
    EXPECT_EQ(launcher.exitCode, 1) << launcher.output;
    EXPECT_NE(launcher.output.find("process " + std::to_string(first.pid())), std::string::npos);

    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("drtwo_" + std::to_string(100 + i) + "_1.bmp");
        folder.put(names.back(), smallLabel(unsigned(i)));
    }
    ASSERT_TRUE(first.waitForCount(": sent to", 10, kJobsMs));
    EXPECT_EQ(second.countLines(": sent to"), 0u) << "the second printed while standing by";
    first.kill();
    ASSERT_GE(second.waitForLine("took over watch folder", kStationStartMs), 0);
    expectPrintedOnceEach(kQueue, names);
    for (const std::string& n : names)
        EXPECT_LE(first.countLines(n + ": sent to") + second.countLines(n + ": sent to"), 1u) << n;
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kFastTickMs));
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(second);
}

// The watch folder removed and made again under the running station.
TEST(FaultDrill, WatchFolderRemovedAndCreatedAgainIsReportedAndWatchedAgain) {
    JobFolder folder("drill-folder");
    folder.put("drfold_before_1.bmp", smallLabel(1));
    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "10/10"), kFastTickMs)))
        << station.startError();
    ASSERT_GE(station.waitForLine(printedLine("drfold_before_1.bmp"), kJobsMs), 0);

    fs::remove_all(folder.path);
    const std::string trouble = station.lineWith("folder trouble", kStationStartMs);
    ASSERT_FALSE(trouble.empty());
    EXPECT_NE(trouble.find(folder.field()), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kFastTickMs));
    EXPECT_EQ(station.countLines("folder trouble"), 1u) << "said once, not at every tick";

    fs::create_directories(folder.path);
    folder.put("drfold_after_1.bmp", smallLabel(2));
    ASSERT_GE(station.waitForLine("is readable again", kStationStartMs), 0);
    ASSERT_GE(station.waitForLine(printedLine("drfold_after_1.bmp"), kJobsMs), 0);
    EXPECT_TRUE(folder.names().empty());
    expectPrintedOnceEach(kQueue, {"drfold_before_1.bmp", "drfold_after_1.bmp"});
    stopWithSigterm(station);
}

// 200 job files, a quarter of them bad, on the 300-dpi label printer.
TEST(FaultDrill, TwoHundredFilesAQuarterBadEveryGoodOnePrintsOnceEveryBadOneStays) {
    const std::string queue = "Label-300";
    JobFolder folder("drill-bulk");
    const std::string outside = std::string(PLX_BINARY_DIR) + "/e2e-jobs/drill-bulk-target.bmp";
    writeFile(outside, smallLabel(99));

    std::vector<std::string> good;
    for (int i = 0; i < 60; ++i)
        good.push_back("bulk_" + std::to_string(i) + "_" + (i % 10 == 0 ? "2" : "1") + ".bmp");
    for (int i = 0; i < 30; ++i)
        good.push_back("bulk job " + std::to_string(i) + "_x y_1 copy.bmp");
    good.push_back("étiquette_ü_1.bmp");
    for (int i = 1; i < 30; ++i) good.push_back("étiquette" + std::to_string(i) + "_ü_1.bmp");
    for (int i = 0; i < 30; ++i) {
        std::string n = "long" + std::to_string(i) + "_";
        n += std::string(200 - n.size() - 6, 'L') + "_1.bmp";
        good.push_back(n);
    }
    for (std::size_t i = 0; i < good.size(); ++i) folder.put(good[i], smallLabel(unsigned(i)));

    // Bad files and the reason each must be reported with.
    std::vector<std::pair<std::string, std::string>> bad;
    for (int i = 0; i < 13; ++i) {
        const std::string n = "corrupt_" + std::to_string(i) + "_1.bmp";
        std::vector<std::uint8_t> junk(300 + std::size_t(i) * 7);
        for (std::size_t k = 0; k < junk.size(); ++k)
            junk[k] = std::uint8_t(k * 31 + std::size_t(i));
        if (i % 2 == 0) junk[0] = 'B', junk[1] = 'M';  // a BMP signature over garbage
        folder.put(n, junk);
        bad.emplace_back(n, ": not printed: ");
    }
    for (int i = 0; i < 13; ++i) {
        const std::string n = "trunc_" + std::to_string(i) + "_1.bmp";
        std::vector<std::uint8_t> bytes = smallLabel(unsigned(i));
        bytes.resize(54 + std::size_t(i) * 20);
        folder.put(n, bytes);
        bad.emplace_back(n, ": waiting: ");
    }
    for (int i = 0; i < 6; ++i) {
        const std::string n = "nocount" + std::to_string(i) + ".bmp";
        folder.put(n, smallLabel(unsigned(i)));
        bad.emplace_back(n, ": not printed: the name has no copy count");
    }
    for (int i = 0; i < 6; ++i) {
        const std::string n = "zero_" + std::to_string(i) + "_0.bmp";
        folder.put(n, smallLabel(unsigned(i)));
        bad.emplace_back(n, ": not printed: the copy count");
    }
    for (int i = 0; i < 12; ++i) {
        const std::string n = "link_" + std::to_string(i) + "_1.bmp";
        fs::create_symlink(outside, folder.file(n));
        bad.emplace_back(n, ": not a regular file: never opened");
    }
    ASSERT_EQ(good.size() + bad.size(), 200u);

    StationProcess station;
    ASSERT_TRUE(station.start(
        stationRun(folder.settings("1", "10/10", "Label printer 300 dpi"), kFastTickMs)))
        << station.startError();
    ASSERT_TRUE(station.waitForCount(": sent to", good.size(), kJobsMs))
        << station.countLines(": sent to") << " sent";
    expectPrintedOnceEach(queue, good);
    ASSERT_TRUE(station.waitForCount(": printed", good.size(), kJobsMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kFastTickMs));
    ASSERT_TRUE(station.running()) << "the station ended";

    for (const std::string& n : good) EXPECT_EQ(station.countLines(printedLine(n)), 1u) << n;
    std::set<std::string> left;
    for (const std::string& n : folder.names()) left.insert(n);
    for (const auto& [n, reason] : bad) {
        EXPECT_TRUE(left.count(n)) << n << " is gone";
        EXPECT_EQ(station.countLines(" " + n + reason), 1u) << n << " reported once with" << reason;
        EXPECT_EQ(station.countLines(printedLine(n)), 0u) << n;
    }
    EXPECT_EQ(left.size(), bad.size());
    EXPECT_TRUE(fs::exists(outside)) << "a symbolic link's target is never touched";

    const auto titles = capturedTitles(queue);
    for (const auto& [n, reason] : bad) EXPECT_EQ(titles.count(n), 0u) << n;
    stopWithSigterm(station);
}

}  // namespace
}  // namespace plx::test
