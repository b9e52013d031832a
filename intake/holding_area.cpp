#include "intake/holding_area.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

namespace plx {
namespace {

constexpr const char* kRecordExt = ".job";
constexpr const char* kFileExt = ".bmp";
constexpr const char* kPartExt = ".tmp";
constexpr off_t kMaxRecordBytes = off_t{64} * 1024;

Error ioError(const std::string& what, int err) {
    return makeError(err == ENOENT ? ErrorKind::NotFound : ErrorKind::Io,
                     what + ": " + std::strerror(err));
}

bool isNotWritable(int err) { return err == EACCES || err == EPERM || err == EROFS; }

bool endsWith(const std::string& s, std::string_view ext) {
    return s.size() > ext.size() && s.compare(s.size() - ext.size(), ext.size(), ext) == 0;
}

std::string stem(const std::string& s, std::string_view ext) {
    return s.substr(0, s.size() - ext.size());
}

// A rename that never replaces what is at `to` (a new job dropped under the same name).
int moveNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
    if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without it (some network shares): link, then unlink; files only.
    if (::linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return errno;
    ::unlinkat(fromDir, from.c_str(), 0);
    return 0;
}

// The names in a folder, through a directory stream of its own.
std::vector<std::string> namesIn(int dirFd) {
    std::vector<std::string> out;
    const int dup = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return out;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dup), ::closedir);
    if (!dir) {
        ::close(dup);
        return out;
    }
    ::rewinddir(dir.get());
    while (const dirent* d = ::readdir(dir.get())) {
        const std::string n = d->d_name;
        if (n != "." && n != "..") out.push_back(n);
    }
    return out;
}

// A record's text; nothing for anything but a small regular file.
std::optional<std::string> readRecord(int dirFd, const std::string& name) {
    const UniqueFd fd(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kMaxRecordBytes)
        return std::nullopt;
    std::string text(std::size_t(st.st_size), '\0');
    const ssize_t n = ::pread(fd.get(), text.data(), text.size(), 0);
    if (n < 0) return std::nullopt;
    text.resize(std::size_t(n));
    return text;
}

std::string userNameOf(uid_t uid) {
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

bool sameFolder(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

HoldingArea::HoldingArea(WatchFolder& folder) : m_folder(folder) {}

HoldingArea::~HoldingArea() {
    if (!m_lock.held() || !m_held.valid() || !m_folder.isOpen()) return;
    const std::vector<std::string> left = namesIn(m_held.get());
    if (left.size() != 1 || left[0] != FolderLock::kFileName) return;
    struct stat mine {};
    struct stat named {};
    if (::fstat(m_held.get(), &mine) != 0 ||
        ::fstatat(m_folder.fd(), kFolderName, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFolder(mine, named))
        return;
    // A station waiting for the lock meanwhile finds the file gone and tries again.
    ::unlinkat(m_held.get(), FolderLock::kFileName, 0);
    ::unlinkat(m_folder.fd(), kFolderName, AT_REMOVEDIR);
}

std::string HoldingArea::userName() { return userNameOf(::geteuid()); }

Message HoldingArea::unusable(const Message& what) const {
    return Message(PLX_TR("Station",
                          "the held folder \"%1\" %2: the station neither uses nor touches it "
                          "and prints nothing until it is mended (remove it: the station makes "
                          "its own)"),
                   {(m_folder.path() / kFolderName).string(), what});
}

Message HoldingArea::notWritable() const {
    return Message(PLX_TR("Station",
                          "watch folder \"%1\" is not writable by the station (user %2): "
                          "nothing is printed until it is; as a service, give it write "
                          "access: see plixagram(1), WATCH FOLDER ACCESS"),
                   {m_folder.field(), userName()});
}

HoldingArea::Standing HoldingArea::take() {
    if (m_held.valid()) {
        Standing still = checkStillOurs();
        if (still.access == Access::Unusable) return still;
    }
    if (!m_held.valid()) {
        Standing opened = openHeld();
        if (opened.access != Access::Ready) return opened;
    }
    const bool had = m_lock.held();
    const Result<bool> locked = m_lock.tryTake(m_held.get());
    if (!locked) return Standing{Access::Unusable, unusable(locked.error().message), false};
    if (!*locked) {
        const std::string who = m_lock.holder().empty() ? "another station" : m_lock.holder();
        return Standing{Access::StandingBy,
                        Message(PLX_TR("Station",
                                       "watch folder \"%1\" is held by another station (%2): "
                                       "standing by, printing nothing until it lets go"),
                                {m_folder.field(), who}),
                        false};
    }
    return Standing{Access::Ready, {}, !had};
}

HoldingArea::Standing HoldingArea::checkStillOurs() {
    struct stat mine {};
    struct stat named {};
    const bool known = ::fstat(m_held.get(), &mine) == 0;
    if (known && ::fstatat(m_folder.fd(), kFolderName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFolder(mine, named)) {
        m_replaced = false;
        return Standing{Access::Ready, {}, false};
    }
    if (known && mine.st_nlink == 0) {
        // Removed with all it held (the watch folder with it, say): made afresh.
        m_lock.release();
        m_held.reset();
        m_replaced = false;
        return Standing{Access::Ready, {}, false};
    }
    // Renamed or swapped by someone: what it holds is still followed through the folder we
    // hold, but nothing new goes into a folder that is no longer where it should be.
    m_replaced = true;
    return Standing{Access::Unusable,
                    Message(PLX_TR("Station",
                                   "the held folder of watch folder \"%1\" was moved or "
                                   "replaced while the station ran: no new job file is taken "
                                   "until it is back or the station restarts"),
                            {m_folder.field()}),
                    false};
}

HoldingArea::Standing HoldingArea::openHeld() {
    const int watch = m_folder.fd();
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    auto refuse = [](const Message& why) { return Standing{Access::Unusable, why, false}; };
    for (int attempt = 0; attempt < 2 && !m_held.valid(); ++attempt) {
        m_held.reset(::openat(watch, kFolderName, flags));
        if (m_held.valid()) break;
        const int err = errno;
        if (err == ENOENT) {
            if (::mkdirat(watch, kFolderName, 0700) == 0 || errno == EEXIST) continue;
            const int made = errno;
            if (isNotWritable(made)) return refuse(notWritable());
            return refuse(unusable(Message(PLX_TR("Station", "cannot be made (%1)"),
                                           {std::string(std::strerror(made))})));
        }
        struct stat st {};
        if ((err == ELOOP || err == ENOTDIR) &&
            ::fstatat(watch, kFolderName, &st, AT_SYMLINK_NOFOLLOW) == 0)
            return refuse(unusable(S_ISLNK(st.st_mode)
                                       ? Message(PLX_TR("Station", "is a symbolic link"))
                                       : Message(PLX_TR("Station", "is not a folder"))));
        return refuse(unusable(Message(PLX_TR("Station", "cannot be opened (%1)"),
                                       {std::string(std::strerror(err))})));
    }
    struct stat st {};
    if (!m_held.valid() || ::fstat(m_held.get(), &st) != 0)
        return refuse(unusable(Message(PLX_TR("Station", "cannot be opened"))));
    if (st.st_uid != ::geteuid()) {
        m_held.reset();
        return refuse(
            unusable(Message(PLX_TR("Station", "belongs to user %1, not to the station's user %2"),
                             {userNameOf(st.st_uid), userName()})));
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        m_held.reset();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        return refuse(
            unusable(Message(PLX_TR("Station", "can be written by others than its owner (mode %1)"),
                             {std::string(mode)})));
    }
    return Standing{Access::Ready, {}, false};
}

// Written whole under another name, made afresh and never through a link, then renamed: a
// record is complete or absent. `sync`: its content is on the disk before it gets its name.
// Returns errno, 0 when written.
int HoldingArea::writeRecordFile(const HeldJob& held, bool sync) {
    const std::string part = held.key + kPartExt;
    const std::string text = serializedRecord(held);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd fd(::openat(m_held.get(), part.c_str(), flags, 0600));
    if (!fd.valid() && errno == EEXIST) {
        // Left by an earlier attempt at this very record: ours, so removed.
        ::unlinkat(m_held.get(), part.c_str(), 0);
        fd.reset(::openat(m_held.get(), part.c_str(), flags, 0600));
    }
    if (!fd.valid()) return errno;
    int err = 0;
    if (::write(fd.get(), text.data(), text.size()) != ssize_t(text.size()))
        err = errno != 0 ? errno : ENOSPC;
    if (err == 0 && sync && ::fsync(fd.get()) != 0) err = errno;
    fd.reset();
    const std::string record = held.key + kRecordExt;
    if (err == 0 && ::renameat(m_held.get(), part.c_str(), m_held.get(), record.c_str()) != 0)
        err = errno;
    if (err != 0) ::unlinkat(m_held.get(), part.c_str(), 0);
    return err;
}

void HoldingArea::forgetRecord(const std::string& key) {
    ::unlinkat(m_held.get(), (key + kRecordExt).c_str(), 0);
}

HoldingArea::Claim HoldingArea::claim(const std::string& name, const FileIdentity& read,
                                      const std::string& queue, int after) {
    Claim c;
    c.held.key = newClaimToken();
    c.held.token = c.held.key;
    c.held.name = name;
    c.held.job.queue = queue;
    c.held.file = read;
    c.held.after = after;
    auto failed = [&](int err) {
        c.failure = err == ENOENT        ? ClaimFailure::Gone
                    : isNotWritable(err) ? ClaimFailure::NotWritable
                                         : ClaimFailure::CannotWrite;
        c.reason = std::strerror(err);
        return c;
    };
    if (!ready() || !isJobFileName(name)) return failed(EINVAL);
    if (const int err = writeRecordFile(c.held, true); err != 0) return failed(err);
    const std::string heldName = c.held.key + kFileExt;
    if (::renameat(m_folder.fd(), name.c_str(), m_held.get(), heldName.c_str()) != 0) {
        const int err = errno;
        forgetRecord(c.held.key);
        return failed(err);
    }
    struct stat st {};
    if (::fstatat(m_held.get(), heldName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || !identityOf(st).sameFile(read)) {
        // Another file took the name after this one was read: it goes back untouched.
        (void)returnFile(heldName, name, "");
        forgetRecord(c.held.key);
        c.failure = ClaimFailure::Replaced;
        return c;
    }
    // The claim outlasts a power cut from here: the job may be sent. (The number recorded
    // after the hand-over needs no such care: a claim without it is found by its token.)
    ::fsync(m_held.get());
    ::fsync(m_folder.fd());
    return c;
}

Result<void> HoldingArea::recordHandOver(HeldJob& held, const JobRef& job) {
    held.job.queue = job.queue;
    held.job.id = job.id;
    held.job.uuid = job.uuid;
    if (!held.jobFile()) return {};
    if (const int err = writeRecordFile(held, false); err != 0)
        return ioError("cannot record job " + job.text() + " for " + held.name, err);
    return {};
}

Result<void> HoldingArea::release(const HeldJob& held) {
    if (!held.jobFile()) return {};
    if (::unlinkat(m_held.get(), (held.key + kFileExt).c_str(), 0) != 0 && errno != ENOENT)
        return ioError("cannot delete the held " + held.name, errno);
    forgetRecord(held.key);
    return {};
}

Result<std::string> HoldingArea::putBack(const HeldJob& held) {
    if (!held.jobFile()) return makeError(ErrorKind::NotFound, "no job file is held");
    const std::string tag = held.handedOver() ? std::to_string(held.job.id) : std::string();
    Result<std::string> back = returnFile(held.key + kFileExt, held.name, tag);
    if (back || back.error().kind == ErrorKind::NotFound) forgetRecord(held.key);
    return back;
}

Result<std::string> HoldingArea::returnFile(const std::string& from, const std::string& name,
                                            const std::string& tag) {
    // Under its own name; if a new file has taken that, under a name whose later fields (the
    // copy count) are the same.
    std::string target = name;
    int err = moveNoReplace(m_held.get(), from, m_folder.fd(), target);
    for (int n = 1; err == EEXIST && n < 100; ++n) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "retry" + tag.
        target.assign("retry").append(tag);
        if (n > 1) target.append(".").append(std::to_string(n));
        target.append("-").append(name);
        err = moveNoReplace(m_held.get(), from, m_folder.fd(), target);
    }
    if (err != 0) return ioError("cannot put " + name + " back into the watch folder", err);
    return target;
}

HoldingArea::Recovered HoldingArea::recover() {
    Recovered out;
    if (!ready()) return out;
    std::set<std::string> records, files;
    for (const std::string& n : namesIn(m_held.get())) {
        if (endsWith(n, kPartExt))
            ::unlinkat(m_held.get(), n.c_str(), 0);  // cut short: a link goes, never its target
        else if (endsWith(n, kRecordExt))
            records.insert(stem(n, kRecordExt));
        else if (endsWith(n, kFileExt))
            files.insert(stem(n, kFileExt));
    }
    for (const std::string& key : records) {
        const std::optional<std::string> text = readRecord(m_held.get(), key + kRecordExt);
        const std::optional<HeldJob> r = text ? parsedRecord(key, *text) : std::nullopt;
        const bool held = files.erase(key) > 0;
        if (!r) {
            forgetRecord(key);
            if (held) files.insert(key);  // put back below
            continue;
        }
        // Claimed but never moved in: nothing was sent, and the file is still in the folder.
        if (!r->handedOver() && !held) {
            forgetRecord(key);
            continue;
        }
        out.jobs.push_back(*r);
    }
    for (const std::string& key : files) {
        const std::string name = key + kFileExt;
        if (!isJobFileName(name)) continue;
        // No record: nothing says what became of its job, so it is printed again.
        const Result<std::string> back = returnFile(name, name, "held");
        out.events.push_back(
            back ? Message(PLX_TR("Station",
                                  "%1: found held without its job record: put back "
                                  "into the folder to be printed again"),
                           {*back})
                 : Message(PLX_TR("Station", "%1: cannot be put back into the folder: %2"),
                           {name, back.error().message}));
    }
    return out;
}

Result<std::optional<std::string>> HoldingArea::holderOf(const std::filesystem::path& folder) {
    const UniqueFd watch(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!watch.valid()) {
        if (errno == ENOENT) return std::optional<std::string>();
        return ioError("watch folder " + folder.string(), errno);
    }
    const UniqueFd held(::openat(watch.get(), kFolderName,
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const std::string where = (folder / kFolderName).string();
    struct stat st {};
    if (!held.valid()) {
        const int err = errno;
        if (err == ENOENT) return std::optional<std::string>();
        // Another user's (the service's) held folder cannot even be opened: say whose it is.
        if (::fstatat(watch.get(), kFolderName, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_uid == ::geteuid())
            return ioError("the held folder " + where, err);
    } else if (::fstat(held.get(), &st) != 0) {
        return ioError("the held folder " + where, errno);
    }
    if (st.st_uid != ::geteuid()) {
        return makeError(ErrorKind::Io, "the held folder " + where + " belongs to user " +
                                            userNameOf(st.st_uid) +
                                            ", whose stations print from this folder");
    }
    return FolderLock::holderIn(held.get());
}

}  // namespace plx
