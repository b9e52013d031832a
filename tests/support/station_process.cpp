#include "tests/support/station_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "intake/holding_area.h"
#include "tests/support/cups_test_server.h"

extern char** environ;

namespace plx::test {
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineIn(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

}  // namespace

StationProcess::~StationProcess() {
    if (m_pid > 0 && !m_status) kill();
    if (m_reader.joinable()) m_reader.join();
    if (m_pid > 0 && ::testing::Test::HasFailure()) {
        std::cerr << "---- plixagram (pid " << m_pid << ") stderr ----\n"
                  << log() << "---- end of plixagram stderr ----" << std::endl;
    }
}

bool StationProcess::start(const StationOptions& options, const std::string& program) {
    if (m_pid > 0) {
        m_startError = "already started";
        return false;
    }
    const std::string exe = program.empty() ? std::string(PLX_PROGRAM) : program;

    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq == nullptr) continue;
        env[std::string(*e, std::size_t(eq - *e))] = eq + 1;
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    env.erase("PLIXAGRAM_TICK_MS");
    if (options.tickMs) env["PLIXAGRAM_TICK_MS"] = std::to_string(*options.tickMs);
    if (env.find("CUPS_SERVER") == env.end()) env["CUPS_SERVER"] = cupsSocket();
    // Its history and state go below the build folder, never to the user's own folders, and
    // nothing of a service that may run the tests reaches it.
    for (const char* v : {"STATE_DIRECTORY", "RUNTIME_DIRECTORY", "NOTIFY_SOCKET", "WATCHDOG_USEC",
                          "JOURNAL_STREAM", "PLIXAGRAM_STATUS_PAGE"})
        env.erase(v);
    env["XDG_STATE_HOME"] = std::string(PLX_BINARY_DIR) + "/e2e-station/state";
    env["RUNTIME_DIRECTORY"] = std::string(PLX_BINARY_DIR) + "/e2e-station/run";
    for (const auto& [k, v] : options.env) env[k] = v;

    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{exe};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_startError = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // fork rather than posix_spawn: the child asks to be killed when the test process dies,
    // so a crashed test leaves no station behind that would take the next test's job files.
    if (::access(exe.c_str(), X_OK) != 0) {
        m_startError = "cannot start " + exe + ": " + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(fds[1], 2);
        if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0) ::_exit(127);
        ::execve(exe.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    const int rc = pid < 0 ? errno : 0;
    if (devnull >= 0) ::close(devnull);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        m_startError = "cannot start " + exe + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_reader = std::thread([this, fd = fds[0]] { readLoop(fd); });
    return true;
}

void StationProcess::readLoop(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, std::size_t(got));
        std::size_t nl;
        bool any = false;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            any = true;
        }
        if (any) m_changed.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(m_mutex);
    if (!pending.empty()) m_lines.push_back(pending);
    m_eof = true;
    m_changed.notify_all();
}

int StationProcess::waitForLine(const std::string& fragment, int timeoutMs, std::size_t from) {
    const auto deadline = deadlineIn(timeoutMs);
    std::unique_lock lock(m_mutex);
    std::size_t next = from;
    for (;;) {
        for (; next < m_lines.size(); ++next) {
            if (m_lines[next].find(fragment) != std::string::npos) return int(next);
        }
        if (m_eof) return -1;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (; next < m_lines.size(); ++next)
                if (m_lines[next].find(fragment) != std::string::npos) return int(next);
            return -1;
        }
    }
}

std::string StationProcess::lineWith(const std::string& fragment, int timeoutMs) {
    const int at = waitForLine(fragment, timeoutMs);
    if (at < 0) return {};
    std::lock_guard lock(m_mutex);
    return m_lines[std::size_t(at)];
}

bool StationProcess::waitForCount(const std::string& fragment, std::size_t count, int timeoutMs) {
    const auto deadline = deadlineIn(timeoutMs);
    std::unique_lock lock(m_mutex);
    for (;;) {
        std::size_t n = 0;
        for (const std::string& l : m_lines) n += l.find(fragment) != std::string::npos;
        if (n >= count) return true;
        if (m_eof) return false;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) return false;
    }
}

std::size_t StationProcess::countLines(const std::string& fragment) const {
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const std::string& l : m_lines) n += l.find(fragment) != std::string::npos;
    return n;
}

std::vector<std::string> StationProcess::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::size_t StationProcess::lineCount() const {
    std::lock_guard lock(m_mutex);
    return m_lines.size();
}

std::string StationProcess::log() const {
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const std::string& l : m_lines) all += l + "\n";
    return all;
}

bool StationProcess::signal(int sig) const {
    if (m_pid <= 0 || m_status) return false;
    return ::kill(m_pid, sig) == 0;
}

bool StationProcess::reap(bool block) {
    if (m_pid <= 0) return false;
    if (m_status) return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != m_pid) return false;
    ExitStatus s;
    s.exited = WIFEXITED(status);
    s.code = s.exited ? WEXITSTATUS(status) : -1;
    s.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    m_status = s;
    return true;
}

bool StationProcess::running() { return m_pid > 0 && !reap(false); }

std::optional<ExitStatus> StationProcess::waitForExit(int timeoutMs) {
    const auto deadline = deadlineIn(timeoutMs);
    while (!reap(false)) {
        if (m_pid <= 0 || Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_reader.joinable()) m_reader.join();
    return m_status;
}

ExitStatus StationProcess::kill() {
    if (m_pid <= 0) return {};
    if (!m_status) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
    if (m_reader.joinable()) m_reader.join();
    return *m_status;
}

std::string folderField(const std::string& path) {
    std::string f = path;
    for (char& c : f)
        if (c == '/') c = '\\';
    return f;
}

int openDescriptors(pid_t pid) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
         !ec && it != end; it.increment(ec))
        ++n;
    return ec ? -1 : n;
}

int openSockets(pid_t pid) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code lec;
        const fs::path target = fs::read_symlink(it->path(), lec);
        if (!lec && target.string().rfind("socket:", 0) == 0) ++n;
    }
    return ec ? -1 : n;
}

std::vector<StoredJob> capturedJobs(const std::string& queue) {
    std::vector<StoredJob> jobs;
    std::error_code ec;
    for (fs::directory_iterator it(queueOutputDir(queue), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // job-<id>.pwg only: a .pwg.tmp is a job still arriving.
        if (name.rfind("job-", 0) != 0 || name.size() <= 8 ||
            name.compare(name.size() - 4, 4, ".pwg") != 0)
            continue;
        const int id = parseJobId(name.substr(0, name.size() - 4));
        if (id <= 0) continue;
        auto info = readJobInfo(queue, id);
        jobs.push_back(StoredJob{id, info["title"], info["copies"], it->path().string()});
    }
    return jobs;
}

std::map<std::string, int> capturedTitles(const std::string& queue) {
    std::map<std::string, int> titles;
    for (const StoredJob& j : capturedJobs(queue)) ++titles[j.title];
    return titles;
}

bool cupsServerScript(const std::string& action, std::string* output) {
    const ToolRun run = runCupsTool(
        {std::string(PLX_SOURCE_DIR) + "/scripts/cups-server.sh", action, cupsStateDir()});
    if (output != nullptr) *output = run.output;
    return run.exitCode == 0;
}

bool cupsServerRunning() {
    const ToolRun run = runCupsTool({"lpstat", "-r"});
    return run.exitCode == 0 && run.output.find("scheduler is running") != std::string::npos;
}

pid_t cupsServerPid() {
    std::ifstream in(cupsStateDir() + "/cupsd.pid");
    long pid = -1;
    if (!(in >> pid) || pid <= 0) return -1;
    return pid_t(pid);
}

}  // namespace plx::test

namespace plx::test {

JobFolder::JobFolder(const std::string& name)
    : path(std::string(PLX_BINARY_DIR) + "/e2e-jobs/" + name) {
    std::error_code ec;
    fs::remove_all(path, ec);
    fs::create_directories(path);
}

void JobFolder::put(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    // Written aside and renamed, so the station never sees a half-written file by accident.
    const std::string tmp = path + "/.part-" + name;
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + tmp);
    fs::rename(tmp, file(name));
}

bool JobFolder::exists(const std::string& name) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(file(name), ec));
}

std::vector<std::string> JobFolder::names() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name != HoldingArea::kFolderName) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int printedJobId(const std::string& line) {
    const std::string marker = " job ";
    const auto at = line.find(marker);
    if (at == std::string::npos) return -1;
    std::string id = line.substr(at + marker.size());
    const auto end = id.find_first_of(" ;:(");
    if (end != std::string::npos) id.resize(end);
    return parseJobId(id);
}

std::map<std::string, int> waitForTitles(const std::string& queue,
                                         const std::vector<std::string>& titles, int timeoutMs) {
    const auto deadline = deadlineIn(timeoutMs);
    for (;;) {
        const std::map<std::string, int> all = capturedTitles(queue);
        std::map<std::string, int> found;
        bool complete = true;
        for (const std::string& t : titles) {
            const auto it = all.find(t);
            found[t] = it == all.end() ? 0 : it->second;
            complete = complete && found[t] > 0;
        }
        if (complete || Clock::now() >= deadline) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool waitForQueueIdle(const std::string& queue, int timeoutMs) {
    const auto deadline = deadlineIn(timeoutMs);
    for (;;) {
        const ToolRun run = runCupsTool({"lpstat", "-o", queue});
        if (run.exitCode == 0 && run.output.find_first_not_of(" \n") == std::string::npos)
            return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

std::string sentTo(const std::string& queue) {
    return "sent to print queue \"" + queue + "\" as job " + queue + "-";
}

std::string printedOn(const std::string& queue) {
    return "printed on print queue \"" + queue + "\": job " + queue + "-";
}

std::string printedLine(const std::string& name) { return " " + name + ": printed"; }

void stopWithSigterm(StationProcess& station) {
    ASSERT_TRUE(station.signal(SIGTERM));
    const auto status = station.waitForExit(15000);
    ASSERT_TRUE(status.has_value()) << "no exit within 15 s of SIGTERM";
    EXPECT_TRUE(status->exited) << "ended by signal " << status->signal;
    EXPECT_EQ(status->code, 0);
    EXPECT_GE(station.countLines("stop requested by signal"), 1u);
}

PrintServerRestorer::~PrintServerRestorer() {
    const pid_t pid = cupsServerPid();
    if (pid > 0) ::kill(pid, SIGCONT);
    if (!cupsServerRunning()) {
        std::string out;
        if (!cupsServerScript("resume", &out)) ADD_FAILURE() << "cannot resume the server: " << out;
    }
    for (const char* q : {kQueue, "Label-300"}) {
        cupsAccept(q);
        cupsEnable(q);
    }
}

}  // namespace plx::test
