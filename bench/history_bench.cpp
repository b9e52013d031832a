// The job history's cost per job: a printed job's three events (seen, sent, ended), each its
// own transaction in the write-ahead log with synchronous=NORMAL, into a database on the disk
// given (the state folder's disk, not a RAM file system, so that syncs cost what they cost);
// and the status page's question for the last 20 jobs.
//
//   history_bench DIR [google benchmark flags]
//
// PrintedJob/N   one job's events into a database already holding N jobs. Counters: bytes
//                the database grew by per job (after a checkpoint), the log's size at the end.
// Recent20/N     the newest 20 rows of a database of N jobs, as /status.json asks for them.
// StationJob/B   a printed job as the station pays for it on its window's thread: the intake's
//                two decisions (sent, with the job file of B bytes open; printed) through the
//                station's state and records, checksum included (a file above 64 KiB is
//                read on the worker thread; that time is not the window's and not counted).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/job_records.h"
#include "app/station_monitor.h"
#include "bench/bench_support.h"
#include "common/unique_fd.h"
#include "monitoring/history_recorder.h"
#include "monitoring/job_history.h"

namespace plx::bench {
namespace {

std::string g_dir;
int g_run = 0;

std::int64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : 0;
}

// A database of `rows` finished jobs, written in one transaction (the events' cost is what is
// measured, not this).
std::string prefilled(int rows) {
    const std::string path = g_dir + "/history-" + std::to_string(++g_run) + ".sqlite";
    std::filesystem::remove(path);
    { auto h = std::move(JobHistory::open(path, "/srv/labels", "bench:1")).value(); }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(QString::fromStdString(path));
        db.open();
        db.transaction();
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO jobs(key, station, folder, file, size, sha256, mode, copies, queue, "
            "job_id,"
            " job_uuid, seen, sent, ended, touched, sends, pages, outcome) VALUES(?, 'bench:1',"
            " '/srv/labels', ?, 2000000, ?, '1', 2, 'QLS-4100-Xe', ?, ?, ?, ?, ?, ?, 1, 1, "
            "'printed')"));
        for (int i = 0; i < rows; ++i) {
            const qint64 t = 1700000000000LL + qint64(i) * 1000;
            q.addBindValue(QStringLiteral("fill-%1").arg(i));
            q.addBindValue(QStringLiteral("lot%1_front_2.bmp").arg(i));
            q.addBindValue(QString(64, QLatin1Char('f')));
            q.addBindValue(i);
            q.addBindValue(QStringLiteral("urn:uuid:%1").arg(i));
            q.addBindValue(t);
            q.addBindValue(t + 100);
            q.addBindValue(t + 5000);
            q.addBindValue(t + 5000);
            q.exec();
        }
        q.finish();
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return path;
}

void PrintedJob(benchmark::State& state) {
    const std::string path = prefilled(int(state.range(0)));
    auto history = std::move(JobHistory::open(path, "/srv/labels", "bench:1")).value();
    const std::int64_t before = fileSize(path) + fileSize(path + "-wal");
    std::int64_t n = 0;
    const std::string sha(64, 'a');
    for (auto _ : state) {
        const std::string key = "job-" + std::to_string(n);
        const std::string file = "lot" + std::to_string(n) + "_front_2.bmp";
        const std::int64_t t = 1800000000000LL + n * 1000;
        if (!history->seen({key, file, 2000000, sha, "1", 2}, t) ||
            !history->sent(key, file, {"QLS-4100-Xe", int(n), "urn:uuid:" + key}, t + 100) ||
            !history->ended(key, file, JobOutcome::Printed, 1, {}, t + 5000))
            state.SkipWithError("the history refused an event");
        ++n;
    }
    state.counters["wal_bytes"] = double(fileSize(path + "-wal"));
    history.reset();  // a clean close checkpoints the log into the database
    state.counters["bytes_per_job"] = n > 0 ? double(fileSize(path) - before) / double(n) : 0.0;
    state.counters["jobs_per_s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
    std::filesystem::remove(path);
}

void Recent20(benchmark::State& state) {
    const std::string path = prefilled(int(state.range(0)));
    auto history = std::move(JobHistory::openReadOnly(path)).value();
    HistoryFilter newest;
    newest.newestFirstLimit = 20;
    for (auto _ : state) {
        Result<std::vector<JobRecord>> rows = history->jobs(newest);
        if (!rows || rows->size() != 20) state.SkipWithError("not 20 rows");
        benchmark::DoNotOptimize(rows);
    }
    history.reset();
    std::filesystem::remove(path);
}

void StationJob(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::string dir = g_dir + "/station-" + std::to_string(++g_run);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string label = dir + "/label.bmp";
    {
        std::FILE* f = std::fopen(label.c_str(), "wb");
        std::vector<unsigned char> bytes(std::size_t(size), 0x5a);
        for (std::size_t i = 0; i < bytes.size(); i += 97) bytes[i] = std::uint8_t(i);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    const UniqueFd fd(::open(label.c_str(), O_RDONLY | O_CLOEXEC));
    std::string database;
    std::int64_t n = 0;
    {
        StationMonitor monitor;
        monitor.keepRecords(RecordPlaces{dir, {}, {}, 400});
        monitor.settingsLoaded(
            RunSettings{"QLS-4100 Xe drivers standard", "\\srv\\labels", "1", "60", "20"});
        database = monitor.history()->path();
        for (auto _ : state) {
            JobEvent e;
            e.decision = JobDecision::Sent;
            e.file = "lot" + std::to_string(n) + "_front_2.bmp";
            e.token = "token-" + std::to_string(n);
            e.size = size;
            e.copies = 2;
            e.queue = "QLS-4100-Xe";
            e.jobId = int(n + 1);
            e.uuid = "urn:uuid:" + e.token;
            e.fd = fd.get();
            monitor.jobDecided(e);
            e.decision = JobDecision::Printed;
            e.fd = -1;
            e.pages = 2;
            monitor.jobDecided(e);
            ++n;
        }
        monitor.records()->waitForDigests();
        if (!monitor.history()->kept()) state.SkipWithError(monitor.history()->problem().c_str());
    }
    state.counters["bytes_per_job"] = n > 0 ? double(fileSize(database)) / double(n) : 0.0;
    std::filesystem::remove_all(dir);
}

BENCHMARK(StationJob)
    ->Arg(20 * 1000)
    ->Arg(7200 * 1000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(PrintedJob)->Arg(0)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Recent20)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace plx::bench

int main(int argc, char** argv) {
    using namespace plx::bench;
    QCoreApplication app(argc, argv);
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: history_bench DIR [benchmark flags]\n");
        return 2;
    }
    g_dir = argv[1];
    std::filesystem::create_directories(g_dir);
    // The rest are Google Benchmark's.
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
    MedianReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter)) return 1;
    char measured[160];
    for (const char* name : {"PrintedJob/0", "PrintedJob/100000"}) {
        const double s = reporter.seconds(name);
        std::snprintf(measured, sizeof measured, "%.3f ms, %.0f bytes, log %.1f MB", s * 1e3,
                      reporter.counter(name, "bytes_per_job"),
                      reporter.counter(name, "wal_bytes") / 1e6);
        const std::string figure =
            std::string("History: a printed job's 3 events, ") +
            (std::string(name).ends_with("/0") ? "new database" : "100,000 jobs in it");
        printFigure(figure, "<= 1 ms a job", measured,
                    s > 0 ? std::optional<bool>(s <= 1e-3) : false);
    }
    for (const char* name : {"StationJob/20000", "StationJob/7200000"}) {
        const double s = reporter.seconds(name);
        std::snprintf(measured, sizeof measured, "%.3f ms, %.0f bytes", s * 1e3,
                      reporter.counter(name, "bytes_per_job"));
        printFigure(std::string("History as the station pays it: a printed job, a ") +
                        (std::string(name).ends_with("/20000") ? "20 kB" : "7.2 MB") +
                        " job file (window's thread)",
                    "<= 1 ms a job", measured, s > 0 ? std::optional<bool>(s <= 1e-3) : false);
    }
    const double recent = reporter.seconds("Recent20/100000");
    std::snprintf(measured, sizeof measured, "%.3f ms", recent * 1e3);
    printFigure("History: the last 20 jobs for the status page, 100,000 in it", "<= 5 ms", measured,
                recent > 0 ? std::optional<bool>(recent <= 5e-3) : false);
    return 0;
}
