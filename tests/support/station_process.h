#pragma once
// The real plixagram program as a child process, for end-to-end tests and fault drills:
// started with the offscreen Qt platform and the test's CUPS_SERVER, its stderr collected
// line by line, waited on, signalled and reaped.

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cups_test_server.h"

namespace plx::test {

// How long the station may take to start and say it watches its folder.
inline constexpr int kStationStartMs = 15000;
// A shortened tick for the tests that are not about the tick itself.
inline constexpr int kFastTickMs = 250;

struct ExitStatus {
    bool exited = false;  // false: ended by a signal
    int code = -1;        // exit code when exited
    int signal = 0;       // the signal otherwise
};

struct StationOptions {
    std::vector<std::string> args;           // after the program name
    std::map<std::string, std::string> env;  // added to (or replacing in) ours
    std::optional<int> tickMs;               // PLIXAGRAM_TICK_MS; unset = the real 10 s tick
    std::string workingDir;                  // empty: ours
};

// One start-up argument string, the tick (unset: the real 10 s) and the working directory.
inline StationOptions stationRun(const std::string& argument,
                                 std::optional<int> tickMs = std::nullopt,
                                 const std::string& workingDir = {}) {
    StationOptions o;
    o.args = {argument};
    o.tickMs = tickMs;
    o.workingDir = workingDir;
    return o;
}

class StationProcess {
  public:
    StationProcess() = default;
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;
    // Kills a child still running; prints its stderr when the current test has failed.
    ~StationProcess();

    // Starts PLX_PROGRAM (or `program`). False, with the reason in startError(), if it cannot.
    bool start(const StationOptions& options, const std::string& program = {});
    const std::string& startError() const { return m_startError; }
    pid_t pid() const { return m_pid; }

    // Index of the first stderr line at or after `from` that contains `fragment`; -1 when none
    // appears within timeoutMs (or the program ended without writing one).
    int waitForLine(const std::string& fragment, int timeoutMs, std::size_t from = 0);
    // The text of that line; empty when none appears.
    std::string lineWith(const std::string& fragment, int timeoutMs);
    // Waits until `count` lines contain `fragment`; false on timeout.
    bool waitForCount(const std::string& fragment, std::size_t count, int timeoutMs);
    std::size_t countLines(const std::string& fragment) const;
    std::vector<std::string> lines() const;
    std::size_t lineCount() const;
    std::string log() const;

    bool signal(int sig) const;
    // Still running (not yet reaped)?
    bool running();
    // The exit status once it ends; nothing when it is still running after timeoutMs.
    std::optional<ExitStatus> waitForExit(int timeoutMs);
    // SIGKILL and reap.
    ExitStatus kill();

  private:
    void readLoop(int fd);
    bool reap(bool block);

    pid_t m_pid = -1;
    std::optional<ExitStatus> m_status;
    std::string m_startError;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_eof = false;
};

// The station's folder field for a path: it cannot hold "/", so backslashes stand for it.
std::string folderField(const std::string& path);

// Open descriptors of a process, and how many of them are sockets.
int openDescriptors(pid_t pid);
int openSockets(pid_t pid);

// One job the capture backend has stored completely (its .pwg exists).
struct StoredJob {
    int id = 0;
    std::string title;
    std::string copies;
    std::string rasterPath;
};
// Every complete job of a queue on the private print server.
std::vector<StoredJob> capturedJobs(const std::string& queue);
// How many complete jobs of the queue carry each title.
std::map<std::string, int> capturedTitles(const std::string& queue);

// The private print server as a process, for the drills that stop, pause or resume it.
// "resume" starts the same cupsd again on its kept configuration, queues and jobs.
bool cupsServerScript(const std::string& action, std::string* output = nullptr);
bool cupsServerRunning();
pid_t cupsServerPid();

}  // namespace plx::test

namespace plx::test {

// A fresh watch folder below the build folder (wiped first, left behind for inspection).
struct JobFolder {
    explicit JobFolder(const std::string& name);
    std::string path;
    // The folder as the station's start-up field.
    std::string field() const { return folderField(path); }
    // The station's start-up argument for this folder: "printer/folder/mode/x/y".
    std::string settings(const std::string& mode, const std::string& offsets,
                         const std::string& printer = kPrinter) const {
        return printer + "/" + field() + "/" + mode + "/" + offsets;
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    void put(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    bool exists(const std::string& name) const;
    // Every entry name but the station's own held folder, sorted.
    std::vector<std::string> names() const;
};

// The job id a station line names ("... as job QLS-4100-Xe-7 (...", "...: job QLS-4100-Xe-7
// completed ..."); -1 if none.
int printedJobId(const std::string& line);

// Waits until each title has at least one complete job in the queue, then returns how many
// jobs each title has (titles missing at the timeout count 0).
std::map<std::string, int> waitForTitles(const std::string& queue,
                                         const std::vector<std::string>& titles, int timeoutMs);
// Waits until the queue holds no pending, held or processing job.
bool waitForQueueIdle(const std::string& queue, int timeoutMs);

// What the station's lines say: "NAME: sent to print queue "Q" as job Q-", "NAME: printed on
// print queue "Q": job Q-", and " NAME: printed" (on any queue).
std::string sentTo(const std::string& queue);
std::string printedOn(const std::string& queue);
std::string printedLine(const std::string& name);

// gtest assertion: SIGTERM ends the station within 15 s, with exit code 0, and it says why.
void stopWithSigterm(StationProcess& station);

// Whatever a test did to the print server (stopped, paused, queues disabled or rejecting), the
// next test finds it running with the label queues enabled and accepting.
struct PrintServerRestorer {
    PrintServerRestorer() = default;
    PrintServerRestorer(const PrintServerRestorer&) = delete;
    PrintServerRestorer& operator=(const PrintServerRestorer&) = delete;
    ~PrintServerRestorer();
};

}  // namespace plx::test
