#pragma once
// The real program (plixagram) as the whole-program benchmarks run it: a child process whose
// log is read line by line, its watchdog messages, its CPU, and the files it prints.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/color.h"

namespace plx::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline const std::string kPrinter = "QLS-4100 Xe drivers standard";
inline const std::string kQueue = "QLS-4100-Xe";

[[noreturn]] inline void fail(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(1);
}

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A 24-bit bottom-up BMP written row by row.
class BmpFile {
  public:
    BmpFile(const fs::path& path, int w, int h) : m_out(path, std::ios::binary), m_w(w) {
        const std::uint32_t rowBytes = (std::uint32_t(w) * 3 + 3) & ~3u;
        const std::uint32_t image = rowBytes * std::uint32_t(h);
        unsigned char hdr[54] = {'B', 'M'};
        auto put32 = [&](int at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) hdr[at + i] = std::uint8_t(v >> (8 * i));
        };
        put32(2, 54 + image);
        put32(10, 54);
        put32(14, 40);
        put32(18, std::uint32_t(w));
        put32(22, std::uint32_t(h));
        hdr[26] = 1;
        hdr[28] = 24;
        put32(34, image);
        put32(38, 2835);
        put32(42, 2835);
        m_out.write(reinterpret_cast<const char*>(hdr), sizeof hdr);
        m_row.resize(rowBytes, 0);
    }
    // Rows bottom first, as stored.
    void writeRow(const std::vector<plx::ColorValue>& row) {
        for (int x = 0; x < m_w; ++x) {
            m_row[3 * x] = plx::blueOf(row[x]);
            m_row[3 * x + 1] = plx::greenOf(row[x]);
            m_row[3 * x + 2] = plx::redOf(row[x]);
        }
        m_out.write(reinterpret_cast<const char*>(m_row.data()), std::streamsize(m_row.size()));
    }
    void close() {
        m_out.close();
        if (!m_out) fail("cannot write a BMP file");
    }

  private:
    std::ofstream m_out;
    int m_w;
    std::vector<unsigned char> m_row;
};

inline std::string backslashed(const fs::path& p) {
    std::string s = p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// The station as a child process, its stderr read line by line.
class Station {
  public:
    Station(const std::string& program, const fs::path& state, const fs::path& folder,
            const std::string& printer = kPrinter, const std::string& mode = "1",
            const char* tickMs = "1000",
            const std::vector<std::pair<std::string, std::string>>& env = {}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
        const std::string arg = printer + "/" + backslashed(folder) + "/" + mode + "/0/0";
        const std::string server = (state / "cups.sock").string();
        m_pid = ::fork();
        if (m_pid < 0) fail("fork");
        if (m_pid == 0) {
            // A benchmark that fails exits without its destructors: the station must not
            // outlive it and take the next run's files.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(fds[1], 2);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("PLIXAGRAM_TICK_MS", tickMs, 1);
            ::setenv("CUPS_SERVER", server.c_str(), 1);
            // Its history and state beside the folder, never in the user's own folders.
            ::setenv("STATE_DIRECTORY", (folder.parent_path() / "station-state").c_str(), 1);
            ::setenv("RUNTIME_DIRECTORY", (folder.parent_path() / "station-run").c_str(), 1);
            for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
            ::execl(program.c_str(), program.c_str(), arg.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        ::close(fds[1]);
        m_fd = fds[0];
    }
    ~Station() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0) ::close(m_fd);
    }
    pid_t pid() const { return m_pid; }

    // The next line, or nothing once `deadline` passes or the program ends.
    std::optional<std::string> line(Clock::time_point deadline) {
        for (;;) {
            const auto nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                std::string l = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return l;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left.count(), 1000))) <= 0) continue;
            char buf[65536];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            m_buffer.append(buf, std::size_t(n));
        }
    }

    // SIGTERM, then the exit status (the station exits 0 on a stop request).
    int stop() {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) fail("the station did not exit within 30 s of SIGTERM");
            // Its log is still read: a full pipe would block the station in its last lines.
            pollfd p{m_fd, POLLIN, 0};
            char buf[65536];
            if (::poll(&p, 1, 20) > 0 && ::read(m_fd, buf, sizeof buf) <= 0) ::usleep(20000);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_buffer;
};

inline long statusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string l;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, l))
        if (l.compare(0, n, key) == 0 && l.size() > n && l[n] == ':')
            return std::strtol(l.c_str() + n + 1, nullptr, 10);
    fail(std::string("no ") + key + " in /proc/" + std::to_string(pid) + "/status");
}

struct Printed {
    std::string file;
    std::string jobId;  // e.g. QLS-4100-Xe-12
    int jobNumber = 0;
    double seconds = 0.0;  // the station's own time for the job, as its log line gives it
};

// "<stamp> <severity> <file>: sent to print queue "<queue>" as job <id> (mode 1, 1 copy,
// printer "<name>", 0.27 s)": the hand-over.
inline std::optional<Printed> parsePrinted(const std::string& l) {
    const auto stampEnd = l.find(' ');
    const auto space = stampEnd == std::string::npos ? stampEnd : l.find(' ', stampEnd + 1);
    const auto mark = l.find(": sent to print queue ");
    const auto job = l.find(" as job ", mark == std::string::npos ? 0 : mark);
    if (space == std::string::npos || mark == std::string::npos || job == std::string::npos ||
        mark < space)
        return std::nullopt;
    // The id runs to the next blank: the line goes on with the mode, copies and duration.
    const auto idEnd = l.find(' ', job + 8);
    Printed p{l.substr(space + 1, mark - space - 1),
              l.substr(job + 8, idEnd == std::string::npos ? std::string::npos : idEnd - job - 8),
              0};
    const auto dash = p.jobId.rfind('-');
    if (dash == std::string::npos) return std::nullopt;
    p.jobNumber = std::atoi(p.jobId.c_str() + dash + 1);
    // The duration is the last item in the brackets: ", 0.27 s)".
    const auto last = l.rfind(", ");
    if (last != std::string::npos && last > idEnd && l.ends_with(" s)"))
        p.seconds = std::strtod(l.c_str() + last + 2, nullptr);
    return p;
}

inline fs::path rasterOf(const fs::path& state, int job, const std::string& queue = kQueue) {
    return state / "output" / queue / ("job-" + std::to_string(job) + ".pwg");
}

inline bool waitForFile(const fs::path& p, Clock::time_point deadline) {
    while (!fs::exists(p)) {
        if (Clock::now() > deadline) return false;
        ::usleep(20000);
    }
    return true;
}

inline fs::path freshFolder(const fs::path& work, const char* name) {
    const fs::path folder = work / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// WATCHDOG=1 messages arriving on a notify socket of our own, with their arrival times.
class WatchdogProbe {
  public:
    explicit WatchdogProbe(const fs::path& socketPath) : m_path(socketPath) {
        fs::remove(m_path);
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (m_fd < 0 || m_path.string().size() >= sizeof addr.sun_path) fail("notify socket");
        std::strcpy(addr.sun_path, m_path.c_str());
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            fail("cannot bind the notify socket " + m_path.string());
        m_reader = std::thread([this] { read(); });
    }
    ~WatchdogProbe() {
        m_stop = true;
        m_reader.join();
        ::close(m_fd);
        fs::remove(m_path);
    }
    // The longest gap between two pings inside [from, to], the first counted from `from`.
    double longestGap(Clock::time_point from, Clock::time_point to, int* pings) {
        std::lock_guard<std::mutex> lock(m_mutex);
        double longest = 0.0;
        Clock::time_point last = from;
        *pings = 0;
        for (const Clock::time_point t : m_pings) {
            if (t < from || t > to) continue;
            longest = std::max(longest, seconds(t - last));
            last = t;
            ++*pings;
        }
        return std::max(longest, seconds(to - last));
    }

  private:
    void read() {
        char buf[4096];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf - 1, 0);
            if (n <= 0) continue;
            const auto now = Clock::now();
            buf[n] = '\0';
            if (std::strstr(buf, "WATCHDOG=1") != nullptr) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_pings.push_back(now);
            }
        }
    }

    fs::path m_path;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_pings;
    std::thread m_reader;
};

// CPU seconds the process has used (user + system), from /proc/PID/stat.
inline double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string f;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i)
        if (i >= 14) ticks += std::strtod(f.c_str(), nullptr);  // utime, stime
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// lp -d QUEUE FILE: the job number.
inline int lpSubmit(const std::string& queue, const fs::path& file) {
    const std::string cmd = "lp -d " + queue + " '" + file.string() + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) fail("cannot run lp");
    char buf[512] = "";
    const std::string out = std::fgets(buf, sizeof buf, p) ? buf : "";
    ::pclose(p);
    const auto at = out.find("request id is " + queue + "-");
    if (at == std::string::npos) fail("lp: " + out);
    return std::atoi(out.c_str() + at + 15 + queue.size());
}

inline void waitFor(const fs::path& p, const std::string& what) {
    if (!waitForFile(p, Clock::now() + std::chrono::seconds(300)))
        fail("no raster for " + what + " within 300 s");
}

}  // namespace plx::bench
