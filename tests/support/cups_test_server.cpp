#include "tests/support/cups_test_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace plx::test {
namespace fs = std::filesystem;

std::string cupsStateDir() {
    const char* env = std::getenv("PLIXAGRAM_CUPS_STATE");
    if (env != nullptr && *env != '\0') return env;
    return std::string(PLX_BINARY_DIR) + "/cups-test";
}

std::string cupsSocket() { return cupsStateDir() + "/cups.sock"; }

std::string queueOutputDir(const std::string& queue) { return cupsStateDir() + "/output/" + queue; }

std::string waitForJobRaster(const std::string& queue, int jobId, int timeoutMs) {
    const fs::path path =
        fs::path(queueOutputDir(queue)) / ("job-" + std::to_string(jobId) + ".pwg");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) return path.string();
        if (std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::map<std::string, std::string> readJobInfo(const std::string& queue, int jobId) {
    std::map<std::string, std::string> info;
    std::ifstream in(queueOutputDir(queue) + "/job-" + std::to_string(jobId) + ".txt");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        info[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return info;
}

int parseJobId(const std::string& requestId) {
    const auto dash = requestId.rfind('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 >= requestId.size()) return -1;
    const char* first = requestId.data() + dash + 1;
    const char* last = requestId.data() + requestId.size();
    int id = 0;
    const auto [end, ec] = std::from_chars(first, last, id);
    if (ec != std::errc() || end != last || id <= 0) return -1;
    return id;
}

ToolRun runCupsTool(const std::vector<std::string>& args) {
    ToolRun run;
    if (args.empty()) return run;
    // The child's environment: ours with CUPS_SERVER replaced.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "CUPS_SERVER=", 12) != 0) envStrings.emplace_back(*e);
    envStrings.push_back("CUPS_SERVER=" + cupsSocket());
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = args;
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        run.output = std::string("cannot start ") + args[0] + ": " + std::strerror(spawned);
        return run;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, std::size_t(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ToolRun lpadmin(const std::vector<std::string>& args) {
    std::vector<std::string> all{"lpadmin"};
    all.insert(all.end(), args.begin(), args.end());
    return runCupsTool(all);
}

ToolRun cupsEnable(const std::string& queue) { return runCupsTool({"cupsenable", queue}); }

ToolRun cupsDisable(const std::string& queue, const std::string& reason) {
    if (reason.empty()) return runCupsTool({"cupsdisable", queue});
    return runCupsTool({"cupsdisable", "-r", reason, queue});
}

ToolRun cupsAccept(const std::string& queue) { return runCupsTool({"cupsaccept", queue}); }

ToolRun cupsReject(const std::string& queue, const std::string& reason) {
    if (reason.empty()) return runCupsTool({"cupsreject", queue});
    return runCupsTool({"cupsreject", "-r", reason, queue});
}

}  // namespace plx::test
