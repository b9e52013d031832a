// Figures of the real program (plixagram) run against the private print server.
//
//   station_bench big PROGRAM STATE_DIR WORK_DIR BITS MODE [QUEUE]
//       One 10000 x 10000 BMP (100 megapixels, the station's limit) of BITS 8 (palette) or 24
//       bits per pixel, printed in MODE ("1", "2" or "3"). The station runs under a watchdog of
//       WATCHDOG_USEC=40 ms (so its event loop sends WATCHDOG=1 every 20 ms to our notify
//       socket): the longest gap between two of them from the drop until a second after the
//       "sent" line is the longest the event loop stood still. Peak resident memory (VmHWM)
//       is read once the job is handed over, then the program gets SIGTERM (exit 0 required).
//       The raster that arrives is checked against the picture on every 37th row.
//   station_bench intake PROGRAM STATE_DIR WORK_DIR [JOBS]
//       JOBS (500) small job files in the folder before the first tick; every one must be
//       printed once as its own job and its raster arrive. Jobs per second from the first to
//       the last "printed" line, and from the first "printed" line to the last raster.
//   station_bench drop PROGRAM STATE_DIR WORK_DIR [REPS]
//       Drop to raster: a 2400 x 3000 8-bit palette BMP (30 % random pure colours, and a
//       sparse one with 100,000 dots) renamed into the folder of a station polling every
//       200 ms, from that moment to the raster stored by the backend; beside it `lp -d QUEUE`
//       of the same file to its raster, interleaved, REPS (5) times each. Modes 1 and 3, on
//       the generic PWG queue and the CUPS-raster queue. Every station raster is checked dot
//       for dot; the station's own time is the time its log line gives.
//   station_bench dropwatch PROGRAM STATE_DIR WORK_DIR [REPS]
//       The same for the dense label in mode 1 with the station at its real 10-s tick but
//       looking at its folder as soon as it changes (PLIXAGRAM_WATCH_CHANGES=1), against lp
//       fired by inotifywait (`inotifywait -m -e moved_to,close_write DIR | while read f; do lp
//       ...`, the script an integrator would write), interleaved.
//
//   station_bench kill PROGRAM STATE_DIR WORK_DIR [FILES [KILLS]]
//       Kill drill: the station (tick 200 ms) is killed with SIGKILL KILLS (80) times and
//       started again each time, FILES (400) job files dropped in equal shares at each start;
//       every other kill comes at a random 0.3-1.5 s, the others a random 0-60 ms after the
//       station's first hand-over in that life. Then a last run until every job has ended. Each
//       label says its number in its dots: the labels are counted from the rasters the printer got,
//       lost and doubled. Kills that left a claim without its job number in the held folder were
//       inside a hand-over.
//
// The program runs with QT_QPA_PLATFORM=offscreen, PLIXAGRAM_TICK_MS=1000 (first tick after
// one second) and CUPS_SERVER=STATE_DIR/cups.sock. Not a Google Benchmark program: each figure
// is one run of a whole process; the script runs it several times and takes the median.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_station.h"
#include "common/color.h"
#include "common/result.h"
#include "tools/raster_pages.h"

using namespace plx::bench;

namespace {

// The big picture's colour at (x, y), recomputed wherever it is checked: 30 % the four print
// colours, 10 % their near neighbours (which dot replication must leave out), the rest white.
const plx::ColorValue kBigColours[] = {0xFFFFFF,       plx::kBlack, plx::kPureRed, plx::kPureGreen,
                                       plx::kPureBlue, 0x0000FE,    0x00FF01,      0x808080};
int bigIndex(int x, int y) {
    std::uint32_t h = std::uint32_t(x) * 0x9E3779B1u ^ std::uint32_t(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    const std::uint32_t p = h % 100;
    return p < 30 ? 1 + int(p % 4) : p < 40 ? 5 + int(p % 3) : 0;
}

// A bottom-up BMP of BITS 8 (palette of kBigColours) or 24, written once and kept in WORK.
fs::path bigPicture(const fs::path& work, int bits, int w, int h) {
    const fs::path path = work / ("big" + std::to_string(bits) + "-" + std::to_string(w) + "x" +
                                  std::to_string(h) + ".bmp");
    const std::uint32_t rowBytes = (std::uint32_t(w) * std::uint32_t(bits) / 8 + 3) & ~3u;
    const std::uint32_t offset = 54 + (bits == 8 ? 256 * 4 : 0);
    const std::uint64_t size = offset + std::uint64_t(rowBytes) * std::uint64_t(h);
    if (fs::exists(path) && fs::file_size(path) == size) return path;
    std::ofstream out(work / "big.tmp", std::ios::binary);
    std::vector<unsigned char> head(offset, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) head[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    head[0] = 'B', head[1] = 'M';
    put32(2, std::uint32_t(std::min<std::uint64_t>(size, 0xFFFFFFFFu)));
    put32(10, offset);
    put32(14, 40);
    put32(18, std::uint32_t(w));
    put32(22, std::uint32_t(h));
    head[26] = 1, head[28] = std::uint8_t(bits);
    put32(34, rowBytes * std::uint32_t(h));
    if (bits == 8) {
        put32(46, 256);
        for (std::size_t i = 0; i < std::size(kBigColours); ++i) {
            head[54 + 4 * i] = plx::blueOf(kBigColours[i]);
            head[55 + 4 * i] = plx::greenOf(kBigColours[i]);
            head[56 + 4 * i] = plx::redOf(kBigColours[i]);
        }
    }
    out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    std::vector<unsigned char> row(rowBytes, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const int i = bigIndex(x, y);
            if (bits == 8) {
                row[std::size_t(x)] = std::uint8_t(i);
            } else {
                row[3 * std::size_t(x)] = plx::blueOf(kBigColours[i]);
                row[3 * std::size_t(x) + 1] = plx::greenOf(kBigColours[i]);
                row[3 * std::size_t(x) + 2] = plx::redOf(kBigColours[i]);
            }
        }
        out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
    }
    out.close();
    if (!out) fail("cannot write the big picture");
    fs::rename(work / "big.tmp", path);
    return path;
}

// The raster against the picture on every 37th row: mode 1 places the picture 1:1 at the
// top-left and keeps only the print colours, mode 2 the same for rows 0 to 180, mode 3
// stretches the whole picture over 3.15 x 3.95 in, each dot the pixel under its centre.
long wrongBigDots(const plx::RasterPage& page, int w, int h, const std::string& mode) {
    const double lw = 3.15 * page.resX, lh = 3.95 * page.resY;
    long wrong = 0;
    for (unsigned y = 0; y < page.height; y += 37)
        for (unsigned x = 0; x < page.width; ++x) {
            plx::ColorValue want = 0xFFFFFF;
            if (mode == "3") {
                if (x + 0.5 < lw && y + 0.5 < lh)
                    want = kBigColours[bigIndex(int((x + 0.5) * w / lw), int((y + 0.5) * h / lh))];
            } else if (int(x) < w && int(y) < h && (mode == "1" || y <= 180)) {
                const int i = bigIndex(int(x), int(y));
                want = i >= 1 && i <= 4 ? kBigColours[i] : 0xFFFFFF;
            }
            wrong += page.pixel(x, y) != want;
        }
    return wrong;
}

int big(const std::string& program, const fs::path& state, const fs::path& work, int bits,
        const std::string& mode, const std::string& queue) {
    constexpr int W = 10000, H = 10000;
    if (bits != 8 && bits != 24) fail("BITS must be 8 or 24");
    const fs::path picture = bigPicture(work, bits, W, H);
    const fs::path folder = freshFolder(work, "big");
    const std::string name = "big_mode" + mode + "_1.bmp";
    fs::copy_file(picture, work / "big.part", fs::copy_options::overwrite_existing);

    WatchdogProbe probe(work / "notify.sock");
    Station station(
        program, state, folder, queue, mode, "1000",
        {{"NOTIFY_SOCKET", (work / "notify.sock").string()}, {"WATCHDOG_USEC", "40000"}});
    const auto startDeadline = Clock::now() + std::chrono::seconds(60);
    while (auto l = station.line(startDeadline))
        if (l->find("watching \"") != std::string::npos) break;
    ::usleep(300 * 1000);  // the start-up route check, then a quiet loop
    const auto dropped = Clock::now();
    fs::rename(work / "big.part", folder / name);
    std::optional<Printed> printed;
    while (auto l = station.line(Clock::now() + std::chrono::seconds(300))) {
        std::fprintf(stderr, "  | %s\n", l->c_str());
        if (l->find(": not printed") != std::string::npos ||
            l->find("trouble") != std::string::npos)
            fail("the job was not printed: " + *l);
        if ((printed = parsePrinted(*l))) break;
    }
    if (!printed) fail("no \"sent\" line within 300 s");
    const long hwmKb = statusKb(station.pid(), "VmHWM");
    // The tick goes on after the hand-over (holding the file, the next files): a second more.
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < until) station.line(until);
    int pings = 0;
    const double gap = probe.longestGap(dropped, Clock::now(), &pings);
    const int rc = station.stop();
    if (rc != 0) fail("the station exited with " + std::to_string(rc) + " after SIGTERM");
    if (pings < 10) fail("only " + std::to_string(pings) + " watchdog messages: no watchdog?");

    const fs::path raster = rasterOf(state, printed->jobNumber, queue);
    if (!waitForFile(raster, Clock::now() + std::chrono::seconds(600)))
        fail("no raster " + raster.string() + " within 600 s");
    auto pages = plx::readRaster(raster.string());
    if (!pages || pages->size() != 1) fail("the raster is not one readable page");
    const long wrong = wrongBigDots((*pages)[0], W, H, mode);
    if (wrong != 0) fail(std::to_string(wrong) + " wrong dots in the raster");

    const double decoded = double(W) * H * 4;
    const double hwm = double(hwmKb) * 1024.0;
    std::printf(
        "big: %d-bit, mode %s, job %s (%.2f s): raster exact on every 37th row; longest "
        "event-loop stall %.0f ms (gap between %d watchdog messages, 20 ms apart when idle); "
        "VmHWM %.1f MB = %.2f x the decoded 32-bit picture (%.1f MB)\n",
        bits, mode.c_str(), printed->jobId.c_str(), printed->seconds, gap * 1000, pings, hwm / 1e6,
        hwm / decoded, decoded / 1e6);
    std::printf("RESULT stall_ms=%.0f vmhwm_bytes=%.0f ratio=%.3f\n", gap * 1000, hwm,
                hwm / decoded);
    return 0;
}

int intake(const std::string& program, const fs::path& state, const fs::path& work, int jobs) {
    const fs::path folder = freshFolder(work, "intake");
    std::set<std::string> names;
    for (int i = 0; i < jobs; ++i) {
        // 40 x 30 pictures, each with its number as a row of dots so no two are alike.
        char name[64];
        std::snprintf(name, sizeof name, "intake%04d_label_1.bmp", i);
        const int w = 40, h = 30;
        BmpFile bmp(folder / name, w, h);
        std::vector<plx::ColorValue> row(w);
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x)
                row[x] =
                    (y == 5 && x < 16 && ((i >> x) & 1)) || (x == y) ? plx::kPureRed : 0xFFFFFFu;
            bmp.writeRow(row);
        }
        bmp.close();
        names.insert(name);
    }

    Station station(program, state, folder);
    std::map<std::string, Printed> printed;
    std::set<int> jobNumbers;
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    const auto deadline = Clock::now() + std::chrono::seconds(60 + jobs);
    while (printed.size() < names.size()) {
        auto l = station.line(deadline);
        if (!l) break;
        auto p = parsePrinted(*l);
        if (!p) {
            std::fprintf(stderr, "  | %s\n", l->c_str());
            if (l->find("not printed") != std::string::npos ||
                l->find("trouble") != std::string::npos)
                fail("a job failed: " + *l);
            continue;
        }
        const auto now = Clock::now();
        if (!first) first = now;
        last = now;
        if (!names.count(p->file)) fail("printed a file that was not put there: " + p->file);
        if (!printed.emplace(p->file, *p).second) fail("printed twice: " + p->file);
        if (!jobNumbers.insert(p->jobNumber).second) fail("two files in one job: " + p->jobId);
    }
    if (printed.size() != names.size())
        fail("only " + std::to_string(printed.size()) + " of " + std::to_string(jobs) +
             " printed in time");

    // Every raster, with the job's title naming its own file.
    Clock::time_point lastRaster{};
    const auto rasterDeadline = Clock::now() + std::chrono::seconds(30 + 10 * jobs);
    std::set<int> pending = jobNumbers;
    while (!pending.empty()) {
        for (auto it = pending.begin(); it != pending.end();) {
            if (fs::exists(rasterOf(state, *it))) {
                lastRaster = Clock::now();
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        if (pending.empty()) break;
        if (Clock::now() > rasterDeadline)
            fail(std::to_string(pending.size()) + " rasters did not arrive in time");
        ::usleep(20000);
    }
    for (const auto& [file, p] : printed) {
        std::ifstream info(state / "output" / kQueue /
                           ("job-" + std::to_string(p.jobNumber) + ".txt"));
        std::string titleLine;
        std::getline(info, titleLine);
        if (titleLine != "title=" + file)
            fail("job " + p.jobId + " is titled \"" + titleLine + "\"");
    }
    // Nothing more is printed: the folder is empty and a further tick sends nothing.
    ::usleep(2500 * 1000);
    int left = 0;
    // The hidden folder holds handed-over files until their jobs end; it is not the intake.
    for (const auto& e : fs::directory_iterator(folder))
        left += e.path().filename() == ".plixagram-held" ? 0 : 1;
    if (left != 0) fail(std::to_string(left) + " job files are still in the folder");
    const int rc = station.stop();
    if (rc != 0) fail("the station exited with " + std::to_string(rc) + " after SIGTERM");

    const double printedSpan = seconds(last - *first);
    const double rasterSpan = seconds(lastRaster - *first);
    std::printf(
        "intake: %d files, %d printed once each, %zu distinct jobs, all rasters "
        "arrived, titles match\n",
        jobs, int(printed.size()), jobNumbers.size());
    std::printf(
        "intake: first..last printed line %.2f s = %.1f jobs/s; first printed line.."
        "last raster %.2f s = %.1f jobs/s\n",
        printedSpan, (jobs - 1) / printedSpan, rasterSpan, (jobs - 1) / rasterSpan);
    std::printf("RESULT intake_printed_jobs_per_s=%.2f intake_raster_jobs_per_s=%.2f\n",
                (jobs - 1) / printedSpan, (jobs - 1) / rasterSpan);
    return 0;
}

// A picture as palette indices (top row first) over white, black, red, green, blue.
struct Label {
    std::string name;
    int width = 2400;
    int height = 3000;
    std::vector<std::uint8_t> index;
    std::size_t dots = 0;
};
const plx::ColorValue kPalette[] = {0xFFFFFF, plx::kBlack, plx::kPureRed, plx::kPureGreen,
                                    plx::kPureBlue};

Label denseLabel() {
    Label l{"dense", 2400, 3000, {}, 0};
    std::mt19937 rng(11);
    l.index.resize(std::size_t(l.width) * std::size_t(l.height));
    for (auto& i : l.index) {
        const bool dot = rng() < std::uint32_t(0.30 * 4294967296.0);
        i = dot ? std::uint8_t(1 + rng() % 4) : 0;
        l.dots += dot;
    }
    return l;
}

Label sparseLabel() {
    Label l{"sparse", 2400, 3000, {}, 0};
    std::mt19937 rng(12);
    l.index.assign(std::size_t(l.width) * std::size_t(l.height), 0);
    while (l.dots < 100000) {
        auto& i = l.index[rng() % l.index.size()];
        if (i == 0) i = std::uint8_t(1 + rng() % 4), ++l.dots;
    }
    return l;
}

// As an 8-bit palette BMP, the kind of file the station is dropped.
void writePaletteBmp(const fs::path& path, const Label& l) {
    const std::uint32_t rowBytes = (std::uint32_t(l.width) + 3) & ~3u;
    const std::uint32_t offset = 14 + 40 + 256 * 4;
    std::vector<unsigned char> b(offset + rowBytes * std::uint32_t(l.height), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, std::uint32_t(b.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, std::uint32_t(l.width));
    put32(22, std::uint32_t(l.height));
    b[26] = 1, b[28] = 8;
    put32(34, rowBytes * std::uint32_t(l.height));
    put32(46, 256);
    for (int i = 0; i < 5; ++i) {
        b[54 + 4 * std::size_t(i)] = plx::blueOf(kPalette[i]);
        b[55 + 4 * std::size_t(i)] = plx::greenOf(kPalette[i]);
        b[56 + 4 * std::size_t(i)] = plx::redOf(kPalette[i]);
    }
    for (int y = 0; y < l.height; ++y)
        std::memcpy(&b[offset + std::size_t(l.height - 1 - y) * rowBytes],
                    &l.index[std::size_t(y) * std::size_t(l.width)], std::size_t(l.width));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Dots of the raster that are not the label's: mode 1 places the picture 1:1 at the top-left;
// mode 3 stretches it over 3.15 x 3.95 in at 1200 dpi, each dot taking the pixel under its
// centre.
long wrongDots(const plx::RasterPage& page, const Label& l, const std::string& mode) {
    const bool stretched = mode == "3";
    const double w = 3.15 * 1200.0, h = 3.95 * 1200.0;
    long wrong = 0;
    for (unsigned y = 0; y < page.height; ++y)
        for (unsigned x = 0; x < page.width; ++x) {
            int px = int(x), py = int(y);
            if (stretched) {
                px = x + 0.5 < w ? int((x + 0.5) * l.width / w) : l.width;
                py = y + 0.5 < h ? int((y + 0.5) * l.height / h) : l.height;
            }
            plx::ColorValue want = 0xFFFFFF;
            if (px < l.width && py < l.height)
                want = kPalette[l.index[std::size_t(py) * std::size_t(l.width) + std::size_t(px)]];
            wrong += page.pixel(x, y) != want;
        }
    return wrong;
}

// What one drop cost: from the rename into the folder to the raster at the backend.
struct DropRun {
    double seconds = 0;  // drop to raster
    double own = 0;      // the station's own time, as its "sent" line gives it
    double cpu = 0;      // the station's CPU from the drop to that line
    long wrong = 0;      // dots of the raster that are not the label's
};

DropRun dropOnce(Station& station, const fs::path& state, const fs::path& work,
                 const fs::path& folder, const Label& label, const char* mode,
                 const std::string& queue, const std::string& name, const std::string& what) {
    // The file arrives whole: copied beside the folder, then renamed into it.
    const fs::path part = work / "drop.part";
    fs::copy_file(work / (label.name + ".bmp"), part, fs::copy_options::overwrite_existing);
    DropRun run;
    const double cpu0 = cpuSeconds(station.pid());
    const auto t0 = Clock::now();
    fs::rename(part, folder / name);
    std::optional<Printed> printed;
    while (auto l = station.line(Clock::now() + std::chrono::seconds(120))) {
        if (l->find(": not printed") != std::string::npos ||
            l->find("trouble") != std::string::npos)
            fail(what + ": " + *l);
        if ((printed = parsePrinted(*l))) break;
    }
    if (!printed) fail(what + ": no \"printed\" line");
    run.cpu = cpuSeconds(station.pid()) - cpu0;
    const fs::path raster = rasterOf(state, printed->jobNumber, queue);
    waitFor(raster, what);
    run.seconds = seconds(Clock::now() - t0);
    run.own = printed->seconds;
    auto pages = plx::readRaster(raster.string());
    if (!pages || pages->size() != 1) fail(what + ": not one readable page");
    run.wrong = wrongDots((*pages)[0], label, mode);
    return run;
}

// A browser with the status page open, a little keener than the page itself (which asks
// every 2 s): the state every 500 ms and the page every 5 s, until told to stop.
class PageReader {
  public:
    explicit PageReader(int port)
        : m_thread([this, port] {
              for (int i = 0; !m_stop; ++i) {
                  get(port, i % 10 == 0 ? "/" : "/status.json");
                  for (int w = 0; w < 50 && !m_stop; ++w) ::usleep(10000);
              }
          }) {}
    ~PageReader() {
        m_stop = true;
        m_thread.join();
    }

  private:
    static void get(int port, const char* path) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(std::uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const std::string req = std::string("GET ") + path +
                                    " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
            (void)!::write(fd, req.data(), req.size());
            char buf[65536];
            while (::read(fd, buf, sizeof buf) > 0) {
            }
        }
        ::close(fd);
    }
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Drop to raster: the station (tick 200 ms) against lp of the same file, interleaved; and the
// same station keeping its job history, state snapshot and status page (read as a browser
// would) against one that keeps none of them.
int drop(const std::string& program, const fs::path& state, const fs::path& work, int reps) {
    ::setenv("CUPS_SERVER", (state / "cups.sock").c_str(), 1);
    const Label labels[] = {denseLabel(), sparseLabel()};
    for (const Label& l : labels) writePaletteBmp(work / (l.name + ".bmp"), l);
    struct Case {
        const Label& label;
        const char* mode;
        double goal;
    };
    const Case cases[] = {{labels[0], "1", 1.0}, {labels[0], "3", 1.5}, {labels[1], "1", 1.0}};
    // Where nothing can be made: no history, no snapshot.
    const std::vector<std::pair<std::string, std::string>> off = {
        {"STATE_DIRECTORY", "/dev/null/none"}, {"RUNTIME_DIRECTORY", "/dev/null/none"}};
    const fs::path records = work / "records";
    fs::remove_all(records);
    const std::vector<std::pair<std::string, std::string>> on = {
        {"STATE_DIRECTORY", (records / "state").string()},
        {"RUNTIME_DIRECTORY", (records / "run").string()},
        {"PLIXAGRAM_STATUS_PAGE", "0"}};
    for (const char* queue : {"QLS-4100-Xe", "Label-Raster"}) {
        for (const Case& c : cases) {
            const std::string what = c.label.name + " label (" + std::to_string(c.label.dots) +
                                     " dots), mode " + c.mode + ", " + queue;
            const fs::path folder = freshFolder(work, "drop");
            const fs::path keptFolder = freshFolder(work, "drop-kept");
            Station station(program, state, folder, queue, c.mode, "200", off);
            Station kept(program, state, keptFolder, queue, c.mode, "200", on);
            int port = 0;
            for (Station* s : {&station, &kept}) {
                const auto deadline = Clock::now() + std::chrono::seconds(30);
                while (auto l = s->line(deadline)) {
                    if (const auto at = l->find("status page on http://127.0.0.1:");
                        at != std::string::npos)
                        port = std::atoi(l->c_str() + l->rfind(':') + 1);
                    if (l->find("watching \"") != std::string::npos) break;
                }
            }
            if (port == 0) fail(what + ": the kept station serves no page");
            const PageReader reader(port);
            std::vector<DropRun> plain, withRecords;
            std::vector<double> lpS;
            for (int r = 0; r < reps; ++r) {
                const std::string name = c.label.name + "_" + std::to_string(r) + "_1.bmp";
                plain.push_back(
                    dropOnce(station, state, work, folder, c.label, c.mode, queue, name, what));
                withRecords.push_back(dropOnce(kept, state, work, keptFolder, c.label, c.mode,
                                               queue, name, what + " (records)"));
                const auto t0 = Clock::now();
                waitFor(rasterOf(state, lpSubmit(queue, work / (c.label.name + ".bmp")), queue),
                        "lp");
                lpS.push_back(seconds(Clock::now() - t0));
            }
            if (station.stop() != 0 || kept.stop() != 0) fail("the station did not exit cleanly");
            const auto med = [](const std::vector<DropRun>& runs, double DropRun::*field) {
                std::vector<double> v;
                for (const DropRun& d : runs) v.push_back(d.*field);
                return median(v);
            };
            long wrong = 0;
            std::string runs;
            for (int r = 0; r < reps; ++r) {
                wrong += plain[std::size_t(r)].wrong + withRecords[std::size_t(r)].wrong;
                char one[64];
                std::snprintf(one, sizeof one, r ? ", %.3f/%.3f/%.3f" : "%.3f/%.3f/%.3f",
                              plain[std::size_t(r)].seconds, withRecords[std::size_t(r)].seconds,
                              lpS[std::size_t(r)]);
                runs += one;
            }
            const double plainS = med(plain, &DropRun::seconds);
            const double keptS = med(withRecords, &DropRun::seconds);
            const double ratio = plainS / median(lpS);
            std::printf(
                "drop: %s: station/with records/lp %s s; station's own %.2f s (with records "
                "%.2f s), CPU %.2f s (%.2f s) from the drop to the sent line, picture load "
                "included; wrong dots %ld\n",
                what.c_str(), runs.c_str(), med(plain, &DropRun::own),
                med(withRecords, &DropRun::own), med(plain, &DropRun::cpu),
                med(withRecords, &DropRun::cpu), wrong);
            const bool met = ratio <= c.goal && wrong == 0;
            std::printf(
                "FIGURE | Drop to raster, %s | <= %.1f x lp, exact | %.3f s vs lp %.3f s "
                "= %.2f x, %s | %s\n",
                what.c_str(), c.goal, plainS, median(lpS), ratio,
                wrong == 0 ? "exact" : "NOT exact", met ? "yes" : "NO");
            std::printf(
                "FIGURE | Drop to raster with history, snapshot and page (read every 0.5 s), "
                "%s | - | %.3f s vs %.3f s without = %.2f x | -\n",
                what.c_str(), keptS, plainS, keptS / plainS);
            std::printf("FIGURE | Station's own time, %s | %s | %.2f s | %s\n", what.c_str(),
                        c.label.name == "dense" && std::string(c.mode) == "1" ? "<= 0.08 s" : "-",
                        med(plain, &DropRun::own),
                        c.label.name == "dense" && std::string(c.mode) == "1"
                            ? (med(plain, &DropRun::own) <= 0.08 ? "yes" : "NO")
                            : "-");
            std::fflush(stdout);
        }
    }
    return 0;
}

// A shell pipeline of the peer's, in a process group of its own, its output read line by line.
class Peer {
  public:
    explicit Peer(const std::string& script) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
        m_pid = ::fork();
        if (m_pid < 0) fail("fork");
        if (m_pid == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(fds[1], 1);
            ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        ::close(fds[1]);
        m_out = ::fdopen(fds[0], "r");
    }
    ~Peer() {
        ::kill(-m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        std::fclose(m_out);
    }
    std::string line() {
        char buf[512] = "";
        return std::fgets(buf, sizeof buf, m_out) != nullptr ? buf : "";
    }

  private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
};

// Drop to raster with the station looking at its folder as soon as it changes
// (PLIXAGRAM_WATCH_CHANGES=1, at the real 10-s tick), against lp fired by inotifywait, the
// script an integrator would write; interleaved, the dense label in mode 1.
int dropWatched(const std::string& program, const fs::path& state, const fs::path& work, int reps) {
    ::setenv("CUPS_SERVER", (state / "cups.sock").c_str(), 1);
    const Label label = denseLabel();
    writePaletteBmp(work / "dense.bmp", label);
    const fs::path folder = freshFolder(work, "dropwatch");
    const fs::path peerFolder = freshFolder(work, "dropwatch-lp");
    Station station(program, state, folder, kPrinter, "1", "10000",
                    {{"PLIXAGRAM_WATCH_CHANGES", "1"}});
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (auto l = station.line(deadline))
        if (l->find("watching \"") != std::string::npos) break;
    Peer peer("inotifywait -m -q -e moved_to,close_write --format '%w%f' '" + peerFolder.string() +
              "' | while read -r f; do lp -d " + kQueue + " \"$f\"; done");
    ::usleep(1000 * 1000);  // the start-up checks, and inotifywait's watch in place
    std::vector<double> stationS, lpS;
    long wrong = 0;
    for (int r = 0; r < reps; ++r) {
        const std::string name = "dense_" + std::to_string(r) + "_1.bmp";
        fs::copy_file(work / "dense.bmp", work / "drop.part", fs::copy_options::overwrite_existing);
        auto t0 = Clock::now();
        fs::rename(work / "drop.part", folder / name);
        std::optional<Printed> printed;
        while (auto l = station.line(Clock::now() + std::chrono::seconds(60))) {
            if (l->find(": not printed") != std::string::npos ||
                l->find("trouble") != std::string::npos)
                fail(*l);
            if ((printed = parsePrinted(*l))) break;
        }
        if (!printed) fail("no \"sent\" line within 60 s");
        const fs::path raster = rasterOf(state, printed->jobNumber);
        waitFor(raster, "the watched folder");
        stationS.push_back(seconds(Clock::now() - t0));
        auto pages = plx::readRaster(raster.string());
        if (!pages || pages->size() != 1) fail("the station's raster is not one readable page");
        wrong += wrongDots((*pages)[0], label, "1");

        fs::copy_file(work / "dense.bmp", work / "drop.part", fs::copy_options::overwrite_existing);
        t0 = Clock::now();
        fs::rename(work / "drop.part", peerFolder / name);
        const std::string said = peer.line();
        const auto at = said.find("request id is " + kQueue + "-");
        if (at == std::string::npos) fail("lp said: " + said);
        waitFor(rasterOf(state, std::atoi(said.c_str() + at + 15 + kQueue.size())), "lp");
        lpS.push_back(seconds(Clock::now() - t0));
        // The next drop comes a while after, as labels do.
        ::usleep(500 * 1000);
        station.line(Clock::now());
    }
    if (station.stop() != 0) fail("the station did not exit cleanly");
    std::string runs;
    for (int r = 0; r < reps; ++r) {
        char one[48];
        std::snprintf(one, sizeof one, r ? ", %.3f/%.3f" : "%.3f/%.3f", stationS[std::size_t(r)],
                      lpS[std::size_t(r)]);
        runs += one;
    }
    const double ratio = median(stationS) / median(lpS);
    std::printf("dropwatch: dense label, mode 1, %s, folder watched: station/lp %s s\n",
                kQueue.c_str(), runs.c_str());
    std::printf(
        "FIGURE | Drop to raster, dense, mode 1, %s, folder watched (10-s tick), against lp "
        "fired by inotifywait | <= 1.0 x | %.3f s vs %.3f s = %.2f x, %s | %s\n",
        kQueue.c_str(), median(stationS), median(lpS), ratio, wrong == 0 ? "exact" : "NOT exact",
        ratio <= 1.0 && wrong == 0 ? "yes" : "NO");
    return wrong == 0 ? 0 : 1;
}

}  // namespace

// --- Kill drill --------------------------------------------------------------------------

// A label that says its number: a black dot at the top-left and the number's 16 bits as red
// dots at (10 + bit, 2). Mode 1 at offsets 0/0 puts them at the same device dots.
void writeNumberedLabel(const fs::path& path, int number) {
    const int w = 32, h = 8;
    BmpFile bmp(path, w, h);
    std::vector<plx::ColorValue> row(w);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const bool bit = y == 2 && x >= 10 && x < 26 && ((number >> (x - 10)) & 1);
            row[x] = (x == 0 && y == 0) ? plx::kBlack : bit ? plx::kPureRed : 0xFFFFFFu;
        }
        bmp.writeRow(row);
    }
    bmp.close();
}

// The number a printed page says; -1 when it says none.
int numberOnPage(const plx::RasterPage& page) {
    if (page.width < 32 || page.height < 8 || page.pixel(0, 0) != plx::kBlack) return -1;
    int n = 0;
    for (int b = 0; b < 16; ++b)
        if (page.pixel(unsigned(10 + b), 2) == plx::kPureRed) n |= 1 << b;
    return n;
}

// Jobs whose raster has arrived, by number.
std::set<int> storedJobs(const fs::path& state) {
    std::set<int> out;
    for (const auto& e : fs::directory_iterator(state / "output" / kQueue)) {
        const std::string n = e.path().filename().string();
        if (n.starts_with("job-") && n.ends_with(".pwg")) out.insert(std::atoi(n.c_str() + 4));
    }
    return out;
}

struct HeldCount {
    int records = 0;
    int claims = 0;  // records without a job number: the station was inside a hand-over
};

HeldCount heldRecords(const fs::path& folder) {
    HeldCount c;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder / ".plixagram-held", ec)) {
        if (e.path().extension() != ".job") continue;
        std::ifstream in(e.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        ++c.records;
        if (text.find("\njob=") == std::string::npos) ++c.claims;
    }
    return c;
}

// Reads the station's lines until `until`, counting hand-overs and showing trouble.
void drain(Station& station, Clock::time_point until, std::size_t* sent) {
    while (auto l = station.line(until)) {
        if (l->find(": sent to print queue") != std::string::npos) ++*sent;
        if (l->find("trouble") != std::string::npos || l->find("not printed") != std::string::npos)
            std::fprintf(stderr, "  | %s\n", l->c_str());
    }
}

// FILES job files dropped a few at a time while the station is killed with SIGKILL at random
// moments, KILLS times, and started again each time; then one last run until every job has
// ended. Every label is counted from the rasters the printer got.
int killDrill(const std::string& program, const fs::path& state, const fs::path& work, int files,
              int kills) {
    const fs::path folder = freshFolder(work, "kill");
    const std::set<int> before = storedJobs(state);
    std::mt19937 rng(std::random_device{}());
    int dropped = 0, killsInHandOver = 0, killsWithRecords = 0;
    std::size_t sent = 0;
    auto dropSome = [&](int n) {
        for (int k = 0; k < n && dropped < files; ++k, ++dropped) {
            char name[64];
            std::snprintf(name, sizeof name, "kill%04d_label_1.bmp", dropped);
            writeNumberedLabel(folder / (std::string(name) + ".part"), dropped);
            fs::rename(folder / (std::string(name) + ".part"), folder / name);  // whole at once
        }
    };
    const int perLife = std::max(1, files / std::max(kills, 1));
    for (int k = 0; k < kills; ++k) {
        auto station = std::make_unique<Station>(program, state, folder, kPrinter, "1", "200");
        dropSome(perLife);
        // Every other kill lands while the station is busy: a little after its first hand-over
        // in this life (or a second into it); the others at any moment.
        auto killAt =
            Clock::now() + std::chrono::milliseconds(std::uniform_int_distribution(300, 1500)(rng));
        if (k % 2 == 0) {
            const std::size_t sentBefore = sent;
            const auto limit = Clock::now() + std::chrono::seconds(1);
            while (sent == sentBefore && Clock::now() < limit)
                drain(*station, Clock::now() + std::chrono::milliseconds(5), &sent);
            killAt =
                Clock::now() + std::chrono::milliseconds(std::uniform_int_distribution(0, 60)(rng));
        }
        drain(*station, killAt, &sent);
        station.reset();  // SIGKILL
        const HeldCount held = heldRecords(folder);
        killsWithRecords += held.records > 0;
        killsInHandOver += held.claims > 0;
    }
    dropSome(files);

    // The last run: until nothing is left in the folder or held, and every raster is in.
    Station station(program, state, folder, kPrinter, "1", "200");
    const auto deadline = Clock::now() + std::chrono::seconds(120 + files);
    for (;;) {
        drain(station, Clock::now() + std::chrono::milliseconds(500), &sent);
        int left = 0;
        for (const auto& e : fs::directory_iterator(folder))
            left += e.path().filename() == ".plixagram-held" ? 0 : 1;
        if (left == 0 && heldRecords(folder).records == 0) break;
        if (Clock::now() > deadline) fail(std::to_string(left) + " files never printed");
    }
    const int rc = station.stop();
    if (rc != 0) fail("the station exited with " + std::to_string(rc) + " after SIGTERM");

    std::map<int, int> labels;
    int unreadable = 0;
    for (const int job : storedJobs(state)) {
        if (before.count(job)) continue;
        auto pages = plx::readRaster(rasterOf(state, job).string());
        if (!pages) fail("raster of job " + std::to_string(job) + ": " + pages.error().message);
        for (const plx::RasterPage& page : *pages) {
            const int n = numberOnPage(page);
            if (n >= 0 && n < files)
                ++labels[n];
            else
                ++unreadable;
        }
    }
    int lost = 0, doubled = 0;
    for (int n = 0; n < files; ++n) {
        lost += labels[n] == 0;
        doubled += labels[n] > 1 ? labels[n] - 1 : 0;
    }
    std::printf(
        "kill: %d files, %d kills (%d with records held, %d inside a hand-over: a claim "
        "without its job number), %zu \"sent\" lines\n",
        files, kills, killsWithRecords, killsInHandOver, sent);
    std::printf("kill: labels from the rasters: %d lost, %d doubled, %d unreadable\n", lost,
                doubled, unreadable);
    std::printf("RESULT kill_files=%d kills=%d kills_in_handover=%d lost=%d doubled=%d\n", files,
                kills, killsInHandOver, lost, doubled);
    return lost == 0 && doubled == 0 && unreadable == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: station_bench big PROGRAM STATE_DIR WORK_DIR BITS MODE [QUEUE]\n"
                     "       station_bench intake|drop|dropwatch|kill PROGRAM STATE_DIR WORK_DIR "
                     "[N [KILLS]]\n");
        return 2;
    }
    const std::string what = argv[1];
    const fs::path state = fs::absolute(argv[3]);
    const fs::path work = fs::absolute(argv[4]);
    if (what == "big" && argc > 6)
        return big(argv[2], state, work, std::atoi(argv[5]), argv[6], argc > 7 ? argv[7] : kQueue);
    if (what == "intake") return intake(argv[2], state, work, argc > 5 ? std::atoi(argv[5]) : 500);
    if (what == "drop") return drop(argv[2], state, work, argc > 5 ? std::atoi(argv[5]) : 5);
    if (what == "dropwatch")
        return dropWatched(argv[2], state, work, argc > 5 ? std::atoi(argv[5]) : 5);
    if (what == "kill")
        return killDrill(argv[2], state, work, argc > 5 ? std::atoi(argv[5]) : 400,
                         argc > 6 ? std::atoi(argv[6]) : 80);
    std::fprintf(stderr, "station_bench: unknown figure \"%s\"\n", what.c_str());
    return 2;
}
