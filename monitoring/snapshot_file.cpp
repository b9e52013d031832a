#include "monitoring/snapshot_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace plx {
namespace {

Error ioError(const std::string& what) {
    return makeError(ErrorKind::Io, what + ": " + std::strerror(errno));
}

Result<StationSnapshot> readSnapshot(const std::string& path) {
    QFile file(QString::fromStdString(path));
    // A state file is small; anything much larger is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64{16} * 1024 * 1024)
        return makeError(ErrorKind::Io, "cannot read " + path);
    return snapshotFromJson(file.readAll());
}

}  // namespace

Result<void> writeFileAtomically(const std::string& path, const QByteArray& bytes) {
    const std::filesystem::path target(path);
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".tmp";
    const std::string tmp = (target.parent_path() / hidden).string();
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return ioError("cannot write " + tmp);
    // The umask may have taken read rights away: the state is for every user to read.
    ::fchmod(fd, 0644);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const Error e = ioError("cannot write " + tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            return e;
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const Error e = ioError("cannot write " + tmp);
        ::unlink(tmp.c_str());
        return e;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const Error e = ioError("cannot replace " + path);
        ::unlink(tmp.c_str());
        return e;
    }
    return {};
}

namespace {

// When the process started, from /proc; 0 when that cannot be read.
std::int64_t processStartMs(int pid) {
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (stat == nullptr) return 0;
    char line[1024] = {};
    const bool got = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    // The command name (field 2) may hold blanks and parentheses: count from its end.
    const char* close = got ? std::strrchr(line, ')') : nullptr;
    unsigned long long ticks = 0;
    if (close == nullptr ||
        std::sscanf(close + 1,
                    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d "
                    "%*d %*d %*d %llu",
                    &ticks) != 1)
        return 0;
    std::FILE* boot = std::fopen("/proc/stat", "r");
    if (boot == nullptr) return 0;
    long long bootSeconds = 0;
    while (std::fgets(line, sizeof line, boot) != nullptr)
        if (std::sscanf(line, "btime %lld", &bootSeconds) == 1) break;
    std::fclose(boot);
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (bootSeconds == 0 || hz <= 0) return 0;
    return bootSeconds * 1000 + std::int64_t(ticks) * 1000 / hz;
}

}  // namespace

bool processAlive(int pid, std::int64_t startedMs) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    if (startedMs == 0) return true;
    const std::int64_t start = processStartMs(pid);
    // A process that started after the station said it had started is another one that was
    // given the same id (boot time is known to the second).
    constexpr std::int64_t kSlackMs = 2000;
    return start == 0 || start <= startedMs + kSlackMs;
}

std::string snapshotPathFor(const std::string& runtimeFolder, const std::string& watchFolder) {
    const std::string stem = runtimeFolder + "/" + folderKey(watchFolder);
    std::string plain = stem + ".json";
    Result<StationSnapshot> there = readSnapshot(plain);
    if (there && there->station.pid != ::getpid() &&
        processAlive(there->station.pid, there->station.started))
        return stem + "." + std::to_string(::getpid()) + ".json";
    return plain;
}

SnapshotPublisher::SnapshotPublisher(std::string path, QObject* parent)
    : QObject(parent), m_path(std::move(path)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SnapshotPublisher::flush);
}

SnapshotPublisher::~SnapshotPublisher() { ::unlink(m_path.c_str()); }

void SnapshotPublisher::publish(const StationSnapshot& snapshot) {
    m_pending = snapshot;
    if (m_timer.isActive()) return;
    const qint64 since = m_lastWrite.isValid() ? m_lastWrite.elapsed() : kMinIntervalMs;
    if (since >= kMinIntervalMs)
        flush();
    else
        m_timer.start(int(kMinIntervalMs - since));
}

void SnapshotPublisher::flush() {
    m_timer.stop();
    if (!m_pending) return;
    Result<void> r = writeFileAtomically(m_path, snapshotToJson(*m_pending, true));
    m_problem = r ? std::string() : r.error().message;
    m_pending.reset();
    m_lastWrite.start();
    ++m_writes;
}

std::vector<FoundSnapshot> findSnapshots(const std::vector<std::string>& folders) {
    std::vector<FoundSnapshot> found;
    for (const std::string& path : findFiles(folders, ".json")) {
        Result<StationSnapshot> s = readSnapshot(path);
        if (!s || s->station.watchFolder.empty()) continue;
        FoundSnapshot f{path, std::move(s).value(), false};
        f.running = processAlive(f.snapshot.station.pid, f.snapshot.station.started);
        found.push_back(std::move(f));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const FoundSnapshot& a, const FoundSnapshot& b) {
                         return a.snapshot.station.watchFolder < b.snapshot.station.watchFolder;
                     });
    return found;
}

}  // namespace plx
