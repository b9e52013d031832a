// What a tick costs: the real program (plixagram) against the private print server, one or
// more builds of it side by side (the first is this one; with PLIXAGRAM_BENCH_BEFORE the
// script adds an earlier one), their runs interleaved.
//
//   tick_bench follow STATE_DIR WORK_DIR HELD RUNS PROGRAM...
//       HELD jobs held at the printer (queue Label-300, job-hold-until=indefinite), each with
//       its claim token, and a watch folder whose held folder has their records and files, as
//       a station leaves them that handed them over. Each station (tick 1 s) recovers them and
//       follows them; over 6 ticks once it has settled: requests to the print server per tick
//       (its access log), the tick's length (the interval between two ticks, each of which
//       opens the folder once, seen through inotify, less the 1-s interval), the longest the
//       event loop stood still (watchdog messages every 20 ms), and CPU per tick of the
//       station and of the print server.
//   tick_bench idle STATE_DIR WORK_DIR FILES RUNS PROGRAM...
//       FILES files that are not pictures left in the folder; the station at its real 10-s
//       tick, without a watchdog: CPU over 30 s once it has reported them all (3 ticks).
//   tick_bench steady STATE_DIR WORK_DIR JOBS RUNS PROGRAM...
//       JOBS small labels dropped one every 1.2 s (tick 1 s), after a first one that is not
//       counted: requests to the print server per job, those for the job and those that
//       follow it, from the access log; the longest stall of the event loop.
//   tick_bench stall STATE_DIR WORK_DIR RUNS PROGRAM...
//       Labels dropped every 0.4 s (tick 1 s) while the print server is stopped (SIGSTOP) for
//       3 s, three times: the longest stall of the event loop; every label must print once.
//
// The print server must log every request (scripts/cups-server.sh with
// PLIXAGRAM_CUPS_LOG_REQUESTS=1). Each run prints "RESULT side=N key=value ...".
#include <cups/cups.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "bench/bench_station.h"
#include "intake/held_record.h"

using namespace plx::bench;

namespace {

const std::string kHeldQueue = "Label-300";
const std::string kHeldPrinter = "Label printer 300 dpi";

// The requests the print server logged, by operation ("GET /printers/Q.ppd" as "GET ppd").
class AccessLog {
  public:
    explicit AccessLog(const fs::path& state) : m_path(state / "log" / "access_log") {}
    std::uintmax_t mark() const {
        std::error_code ec;
        const auto n = fs::file_size(m_path, ec);
        return ec ? 0 : n;
    }
    std::map<std::string, int> since(std::uintmax_t from) const {
        std::ifstream in(m_path);
        in.seekg(std::streamoff(from));
        std::map<std::string, int> out;
        for (std::string l; std::getline(in, l);) {
            const auto q = l.find('"');
            if (q == std::string::npos) continue;
            if (l.compare(q + 1, 4, "GET ") == 0) {
                ++out[l.find(".ppd ") != std::string::npos ? "GET ppd" : "GET"];
                continue;
            }
            std::istringstream words(l.substr(l.find('"', q + 1) + 1));
            std::vector<std::string> w;
            for (std::string x; words >> x;) w.push_back(x);
            if (w.size() >= 2) ++out[w[w.size() - 2]];
        }
        return out;
    }

  private:
    fs::path m_path;
};

bool isFollowing(const std::string& op) {
    return op == "Get-Jobs" || op == "Get-Notifications" || op == "Create-Printer-Subscriptions" ||
           op == "Renew-Subscription" || op == "Get-Subscriptions" || op == "Cancel-Subscription";
}

int total(const std::map<std::string, int>& ops, bool following) {
    int n = 0;
    for (const auto& [op, count] : ops) n += isFollowing(op) == following ? count : 0;
    return n;
}

std::string listed(const std::map<std::string, int>& ops) {
    std::string out;
    for (const auto& [op, count] : ops)
        out += (out.empty() ? "" : ", ") + op + " " + std::to_string(count);
    return out;
}

// Each tick opens the watch folder once: the times it was opened, through inotify.
class TickProbe {
  public:
    explicit TickProbe(const fs::path& folder) {
        m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd < 0 || ::inotify_add_watch(m_fd, folder.c_str(), IN_OPEN) < 0)
            fail("cannot watch " + folder.string());
        m_reader = std::thread([this] { read(); });
    }
    ~TickProbe() {
        m_stop = true;
        m_reader.join();
        ::close(m_fd);
    }
    std::vector<Clock::time_point> between(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Clock::time_point> out;
        for (const auto t : m_opens)
            if (t >= from && t <= to) out.push_back(t);
        return out;
    }

  private:
    void read() {
        alignas(inotify_event) char buf[65536];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const auto now = Clock::now();
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len == 0) {  // the folder itself, not a file in it
                    const std::lock_guard<std::mutex> lock(m_mutex);
                    m_opens.push_back(now);
                }
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_opens;
    std::thread m_reader;
};

pid_t serverPid(const fs::path& state) {
    std::ifstream in(state / "cupsd.pid");
    pid_t pid = 0;
    in >> pid;
    if (pid <= 0) fail("no cupsd.pid in " + state.string());
    return pid;
}

std::vector<std::pair<std::string, std::string>> watchdogEnv(const fs::path& socket) {
    return {{"NOTIFY_SOCKET", socket.string()}, {"WATCHDOG_USEC", "40000"}};
}

// Reads the station's lines until one holds `what`; fails on trouble.
void waitForLine(Station& station, const std::string& what, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (auto l = station.line(deadline)) {
        if (l->find("trouble") != std::string::npos) fail(*l);
        if (l->find(what) != std::string::npos) return;
    }
    fail("no line with \"" + what + "\" within " + std::to_string(seconds) + " s");
}

// Reads and drops the station's lines until `until`, counting those with `what`.
int drain(Station& station, Clock::time_point until, const std::string& what = {}) {
    int n = 0;
    while (auto l = station.line(until)) {
        if (l->find("print server trouble") != std::string::npos)
            std::fprintf(stderr, "  | %s\n", l->c_str());
        n += !what.empty() && l->find(what) != std::string::npos;
    }
    return n;
}

// --- follow -------------------------------------------------------------------------------

// HELD jobs held at the printer, and a watch folder holding what a station that handed them
// over keeps: each file and its record.
void prepareHeld(const fs::path& folder, int held) {
    if (std::system(("cancel -a -x " + kHeldQueue + " 2>/dev/null").c_str()) != 0) {
        // Nothing to cancel is no failure.
    }
    fs::remove_all(folder);
    const fs::path keep = folder / ".plixagram-held";
    fs::create_directories(keep);
    fs::permissions(keep, fs::perms::owner_all);
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (http == nullptr) fail("cannot reach the print server");
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", kHeldQueue.c_str());
    const fs::path doc = folder.parent_path() / "held-document.txt";
    std::ofstream(doc) << "held\n";
    std::map<std::string, std::string> nameOf;  // token -> file name
    std::map<std::string, int> idOf;
    for (int i = 0; i < held; ++i) {
        plx::HeldJob h;
        h.token = h.key = plx::newClaimToken();
        char name[64];
        std::snprintf(name, sizeof name, "held%05d_label_1.bmp", i);
        h.name = name;
        ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name);
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr,
                     "indefinite");
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_NAME, "plixagram-claim", nullptr,
                     h.token.c_str());
        ipp_t* response =
            cupsDoFileRequest(http, request, ("/printers/" + kHeldQueue).c_str(), doc.c_str());
        ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
        if (id == nullptr) fail(std::string("a held job was refused: ") + cupsLastErrorString());
        idOf[h.token] = ippGetInteger(id, 0);
        nameOf[h.token] = name;
        ippDelete(response);
    }
    // Their uuids, in one question: the jobs not completed are listed whole.
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    const char* attrs[] = {"job-id", "job-uuid"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  attrs);
    ipp_t* response = cupsDoRequest(http, request, "/");
    std::map<int, std::string> uuidOf;
    int jobId = 0;
    std::string uuid;
    // One group a job, its attributes in any order, groups parted by a nameless attribute.
    auto flush = [&] {
        if (jobId > 0) uuidOf[jobId] = uuid;
        jobId = 0;
        uuid.clear();
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
        const char* n = ippGetName(a);
        if (n == nullptr || ippGetGroupTag(a) != IPP_TAG_JOB) {
            flush();
            continue;
        }
        if (std::strcmp(n, "job-id") == 0) jobId = ippGetInteger(a, 0);
        if (std::strcmp(n, "job-uuid") == 0) uuid = ippGetString(a, 0, nullptr);
    }
    flush();
    ippDelete(response);
    httpClose(http);
    for (const auto& [token, id] : idOf) {
        plx::HeldJob h;
        h.key = h.token = token;
        h.name = nameOf[token];
        h.job = plx::JobRef{kHeldQueue, id, {}, uuidOf[id]};
        h.after = id - 1;
        const fs::path file = keep / (token + ".bmp");
        std::ofstream(file) << "BM";
        struct stat st {};
        ::stat(file.c_str(), &st);
        h.file = plx::identityOf(st);
        std::ofstream(keep / (token + ".job")) << plx::serializedRecord(h);
    }
}

void follow(const fs::path& state, const fs::path& work, int held, int runs,
            const std::vector<std::string>& programs) {
    const fs::path folder = work / ("follow-" + std::to_string(held));
    prepareHeld(folder, held);
    const AccessLog log(state);
    const pid_t server = serverPid(state);
    constexpr int kTicks = 6;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t side = 0; side < programs.size(); ++side) {
            WatchdogProbe probe(work / "notify.sock");
            TickProbe ticks(folder);
            Station station(programs[side], state, folder, kHeldPrinter, "1", "1000",
                            watchdogEnv(work / "notify.sock"));
            waitForLine(station, "following " + std::to_string(held) + " job(s)", 120);
            // The first looks subscribe and sweep; then it settles.
            drain(station, Clock::now() + std::chrono::milliseconds(3500));
            const auto from = Clock::now();
            const auto mark = log.mark();
            const double cpu0 = cpuSeconds(station.pid()), server0 = cpuSeconds(server);
            drain(station, from + std::chrono::milliseconds(1000 * kTicks + 500));
            const auto to = Clock::now();
            const double cpu = cpuSeconds(station.pid()) - cpu0;
            const double serverCpu = cpuSeconds(server) - server0;
            const std::map<std::string, int> ops = log.since(mark);
            const std::vector<Clock::time_point> starts = ticks.between(from, to);
            int pings = 0;
            const double stall = probe.longestGap(from, to, &pings);
            if (station.stop() != 0) fail("the station did not exit cleanly");
            if (starts.size() < 3) fail("fewer than 3 ticks seen");
            std::vector<double> lengths;
            for (std::size_t i = 1; i < starts.size(); ++i)
                lengths.push_back(seconds(starts[i] - starts[i - 1]) - 1.0);
            const double n = double(starts.size());
            std::printf("follow: %d held, side %zu: %zu ticks; %s\n", held, side, starts.size(),
                        listed(ops).c_str());
            std::printf(
                "RESULT side=%zu held=%d requests_per_tick=%.2f tick_ms=%.1f stall_ms=%.0f "
                "cpu_ms_per_tick=%.1f server_cpu_ms_per_tick=%.1f\n",
                side, held, total(ops, true) / n, median(lengths) * 1000, stall * 1000,
                cpu * 1000 / n, serverCpu * 1000 / n);
            std::fflush(stdout);
        }
    }
    if (std::system(("cancel -a -x " + kHeldQueue + " 2>/dev/null").c_str()) != 0) {
    }
    fs::remove_all(folder);
}

// --- idle ---------------------------------------------------------------------------------

void idle(const fs::path& state, const fs::path& work, int files, int runs,
          const std::vector<std::string>& programs) {
    const fs::path folder = work / ("idle-" + std::to_string(files));
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < files; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "bad%05d_label_1.bmp", i);
        std::ofstream(folder / name) << "not a picture";
    }
    constexpr int kWindowS = 30;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t side = 0; side < programs.size(); ++side) {
            // A fresh start each time: the held folder of the last run goes. No watchdog:
            // its messages every 20 ms would cost more than the ticks.
            fs::remove_all(folder / ".plixagram-held");
            Station station(programs[side], state, folder, kPrinter, "1", "10000");
            // The real tick: the first comes after 10 s and reports every file once.
            const auto deadline = Clock::now() + std::chrono::seconds(120 + files / 50);
            int reported = 0;
            while (reported < files) {
                auto l = station.line(deadline);
                if (!l) fail("only " + std::to_string(reported) + " files reported in time");
                reported += l->find(": not printed") != std::string::npos;
            }
            drain(station, Clock::now() + std::chrono::seconds(1));
            const auto from = Clock::now();
            const double cpu0 = cpuSeconds(station.pid());
            drain(station, from + std::chrono::seconds(kWindowS));
            const double cpu = cpuSeconds(station.pid()) - cpu0;
            const double span = seconds(Clock::now() - from);
            if (station.stop() != 0) fail("the station did not exit cleanly");
            std::printf("RESULT side=%zu files=%d cpu_percent=%.2f\n", side, files,
                        cpu / span * 100);
            std::fflush(stdout);
        }
    }
    fs::remove_all(folder);
}

// --- steady and stall ---------------------------------------------------------------------

// A small label with its number in its dots, so that no two are alike.
void writeLabel(const fs::path& path, int number) {
    const int w = 40, h = 30;
    BmpFile bmp(path, w, h);
    std::vector<plx::ColorValue> row(w);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x)
            row[std::size_t(x)] =
                (y == 5 && x < 16 && ((number >> x) & 1)) || x == y ? plx::kPureRed : 0xFFFFFFu;
        bmp.writeRow(row);
    }
    bmp.close();
}

// Renamed in whole, as a careful writer does.
void dropLabel(const fs::path& work, const fs::path& folder, int number) {
    char name[64];
    std::snprintf(name, sizeof name, "flow%05d_label_1.bmp", number);
    writeLabel(work / "label.part", number);
    fs::rename(work / "label.part", folder / name);
}

void steady(const fs::path& state, const fs::path& work, int jobs, int runs,
            const std::vector<std::string>& programs) {
    const AccessLog log(state);
    int number = 0;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t side = 0; side < programs.size(); ++side) {
            const fs::path folder = freshFolder(work, "steady");
            WatchdogProbe probe(work / "notify.sock");
            Station station(programs[side], state, folder, kPrinter, "1", "1000",
                            watchdogEnv(work / "notify.sock"));
            waitForLine(station, "watching \"", 60);
            // One label first: the stream is steady once the queue's PPD is known.
            dropLabel(work, folder, number++);
            waitForLine(station, ": printed on print queue", 60);
            const auto mark = log.mark();
            const auto from = Clock::now();
            int printed = 0;
            for (int i = 0; i < jobs; ++i) {
                dropLabel(work, folder, number++);
                printed += drain(station, Clock::now() + std::chrono::milliseconds(1200),
                                 ": printed on print queue");
            }
            const auto deadline = Clock::now() + std::chrono::seconds(60);
            while (printed < jobs && Clock::now() < deadline)
                printed += drain(station, Clock::now() + std::chrono::milliseconds(200),
                                 ": printed on print queue");
            if (printed < jobs) fail("only " + std::to_string(printed) + " labels printed");
            const auto to = Clock::now();
            int pings = 0;
            const double stall = probe.longestGap(from, to, &pings);
            if (station.stop() != 0) fail("the station did not exit cleanly");
            const std::map<std::string, int> ops = log.since(mark);
            std::printf("steady: side %zu, %d labels: %s\n", side, jobs, listed(ops).c_str());
            std::printf(
                "RESULT side=%zu jobs=%d job_requests_per_job=%.2f follow_requests_per_job=%.2f "
                "stall_ms=%.0f\n",
                side, jobs, total(ops, false) / double(jobs), total(ops, true) / double(jobs),
                stall * 1000);
            std::fflush(stdout);
        }
    }
}

void stall(const fs::path& state, const fs::path& work, int runs,
           const std::vector<std::string>& programs) {
    const pid_t server = serverPid(state);
    int number = 0;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t side = 0; side < programs.size(); ++side) {
            const fs::path folder = freshFolder(work, "stall");
            WatchdogProbe probe(work / "notify.sock");
            Station station(programs[side], state, folder, kPrinter, "1", "1000",
                            watchdogEnv(work / "notify.sock"));
            waitForLine(station, "watching \"", 60);
            drain(station, Clock::now() + std::chrono::milliseconds(1500));
            const auto from = Clock::now();
            int dropped = 0;
            int printed = 0;
            auto dropFor = [&](int ms) {
                const auto until = Clock::now() + std::chrono::milliseconds(ms);
                while (Clock::now() < until) {
                    dropLabel(work, folder, number++);
                    ++dropped;
                    printed += drain(station, Clock::now() + std::chrono::milliseconds(400),
                                     ": printed on print queue");
                }
            };
            for (int k = 0; k < 3; ++k) {
                dropFor(3000);
                ::kill(server, SIGSTOP);
                dropFor(3000);
                ::kill(server, SIGCONT);
            }
            dropFor(2000);
            const auto to = Clock::now();
            // Every label once: the folder empties and every job ends.
            const auto deadline = Clock::now() + std::chrono::seconds(120);
            while (printed < dropped && Clock::now() < deadline)
                printed += drain(station, Clock::now() + std::chrono::milliseconds(500),
                                 ": printed on print queue");
            if (printed != dropped)
                fail(std::to_string(printed) + " of " + std::to_string(dropped) + " printed");
            int pings = 0;
            const double gap = probe.longestGap(from, to, &pings);
            if (station.stop() != 0) fail("the station did not exit cleanly");
            std::printf("RESULT side=%zu labels=%d stall_ms=%.0f\n", side, dropped, gap * 1000);
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    auto usage = [] {
        std::fprintf(stderr,
                     "usage: tick_bench follow|idle|steady STATE_DIR WORK_DIR N RUNS PROGRAM...\n"
                     "       tick_bench stall STATE_DIR WORK_DIR RUNS PROGRAM...\n");
        return 2;
    };
    if (argc < 6) return usage();
    const std::string what = argv[1];
    const fs::path state = fs::absolute(argv[2]);
    const fs::path work = fs::absolute(argv[3]);
    fs::create_directories(work);
    ::setenv("CUPS_SERVER", (state / "cups.sock").c_str(), 1);
    const int first = what == "stall" ? 5 : 6;
    if (argc <= first) return usage();
    std::vector<std::string> programs(argv + first, argv + argc);
    const int n = std::atoi(argv[4]);
    const int runs = what == "stall" ? n : std::atoi(argv[5]);
    if (what == "follow")
        follow(state, work, n, runs, programs);
    else if (what == "idle")
        idle(state, work, n, runs, programs);
    else if (what == "steady")
        steady(state, work, n, runs, programs);
    else if (what == "stall")
        stall(state, work, runs, programs);
    else
        return usage();
    return 0;
}
