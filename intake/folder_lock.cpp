#include "intake/folder_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>

namespace plx {
namespace {

Error lockError(const std::string& what, int err) {
    return makeError(ErrorKind::Io, "the station lock " + what + ": " + std::strerror(err));
}

flock wholeFile(short type) {
    flock l{};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    return l;  // start 0, length 0: the whole file
}

std::string hostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "unknown";
    return host;
}

std::string now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// "host H, process P, since T" from the lines the holder wrote.
std::string describeHolder(int fd) {
    char buf[512] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return {};
    std::map<std::string, std::string> v;
    std::istringstream in(std::string(buf, std::size_t(n)));
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (v["host"].empty()) return {};
    return "host " + v["host"] + ", process " + v["pid"] + ", since " + v["since"];
}

}  // namespace

Result<bool> FolderLock::tryTake(int dirFd) {
    if (m_held) return true;
    // Twice: a holder that stopped may have removed the file we opened while we waited.
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_fd.reset(::openat(dirFd, kFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!m_fd.valid()) return lockError("cannot be opened", errno);
        flock l = wholeFile(F_WRLCK);
        if (::fcntl(m_fd.get(), F_OFD_SETLK, &l) != 0) {
            const int err = errno;
            if (err != EAGAIN && err != EACCES) return lockError("cannot be taken", err);
            m_holder = describeHolder(m_fd.get());
            m_fd.reset();
            return false;
        }
        // Locked; but is it still the file of that name?
        struct stat mine {};
        struct stat named {};
        if (::fstat(m_fd.get(), &mine) == 0 &&
            ::fstatat(dirFd, kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
            m_held = true;
            m_holder.clear();
            const std::string who = "host=" + hostName() + "\npid=" + std::to_string(::getpid()) +
                                    "\nsince=" + now() + "\n";
            // Who holds it is for people; the lock itself holds without it (a full disk).
            if (::ftruncate(m_fd.get(), 0) == 0) {
                const ssize_t w = ::pwrite(m_fd.get(), who.data(), who.size(), 0);
                (void)w;
            }
            return true;
        }
        m_fd.reset();
    }
    return false;
}

void FolderLock::release() {
    m_fd.reset();
    m_held = false;
}

Result<std::optional<std::string>> FolderLock::holderIn(int dirFd) {
    const UniqueFd fd(::openat(dirFd, kFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) return std::optional<std::string>();
        return lockError("cannot be opened", errno);
    }
    flock l = wholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_OFD_GETLK, &l) != 0) return lockError("cannot be asked", errno);
    if (l.l_type == F_UNLCK) return std::optional<std::string>();
    const std::string who = describeHolder(fd.get());
    return std::optional<std::string>(who.empty() ? "another station" : who);
}

}  // namespace plx
