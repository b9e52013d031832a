#pragma once
// Helpers for end-to-end tests against the private print server that
// scripts/cups-server.sh starts (never the system's cupsd).

#include <map>
#include <string>
#include <vector>

namespace plx::test {

// The label printer the private server offers: its description, as the station is told it, and
// its queue.
inline constexpr const char* kPrinter = "QLS-4100 Xe drivers standard";
inline constexpr const char* kQueue = "QLS-4100-Xe";
// How long one job may take to come out of the capture backend.
inline constexpr int kJobTimeoutMs = 90000;

// The server's state folder: $PLIXAGRAM_CUPS_STATE, else <build>/cups-test.
std::string cupsStateDir();
// Its socket, for CUPS_SERVER.
std::string cupsSocket();
// Where the capture backend puts a queue's jobs.
std::string queueOutputDir(const std::string& queue);

// Path of output/<queue>/job-<id>.pwg once the backend has stored the job completely;
// empty when it does not appear within timeoutMs.
std::string waitForJobRaster(const std::string& queue, int jobId, int timeoutMs);
// The title=, copies=, user=, options= lines the backend wrote for the job; empty if none.
std::map<std::string, std::string> readJobInfo(const std::string& queue, int jobId);

// "QUEUE-123" (a request id as lp and the print surface give it) -> 123; -1 if malformed.
int parseJobId(const std::string& requestId);

struct ToolRun {
    int exitCode = -1;   // -1 when the tool could not be started or was killed
    std::string output;  // stdout and stderr together
};
// Runs a CUPS command-line tool (no shell) with CUPS_SERVER pointing at the private server.
ToolRun runCupsTool(const std::vector<std::string>& args);

// Fault drills: each returns the tool's result.
ToolRun lpadmin(const std::vector<std::string>& args);
ToolRun cupsEnable(const std::string& queue);
ToolRun cupsDisable(const std::string& queue, const std::string& reason = {});
ToolRun cupsAccept(const std::string& queue);
ToolRun cupsReject(const std::string& queue, const std::string& reason = {});

}  // namespace plx::test
