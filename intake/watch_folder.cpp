#include "intake/watch_folder.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"

namespace plx {

std::filesystem::path watchFolderPath(std::string_view folderField) {
    std::string p(folderField);
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    // Not p = ".": GCC 12 at -O2 warns falsely (-Wrestrict) on that assignment.
    if (p.empty()) return std::filesystem::path(".");
    return std::filesystem::path(p);
}

bool isJobFileName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.size() < 5) return false;
    if (name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && lowerAscii(ext[1]) == 'b' && lowerAscii(ext[2]) == 'm' &&
           lowerAscii(ext[3]) == 'p';
}

std::filesystem::path jobFilePath(std::string_view folderField, std::string_view fileName) {
    return watchFolderPath(folderField) / std::filesystem::path(std::string(fileName));
}

FileIdentity identityOf(const struct stat& st) {
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino),
                        std::uint64_t(st.st_size),
                        std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

WatchFolder::WatchFolder(std::string folderField)
    : m_field(std::move(folderField)), m_path(watchFolderPath(m_field)) {}

Result<void> WatchFolder::open() {
    m_fd.reset(::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (m_fd.valid()) return {};
    return makeError(ErrorKind::Io, "watch folder \"" + m_field + "\" (" + m_path.string() +
                                        "): " + std::strerror(errno));
}

Result<std::vector<FolderEntry>> WatchFolder::jobFiles() const {
    auto error = [&](int err) {
        return makeError(ErrorKind::Io, "watch folder \"" + m_field + "\": " + std::strerror(err));
    };
    // A directory stream of its own: the folder's descriptor stays for the moves.
    const int dup = ::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return error(errno);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dup), ::closedir);
    if (!dir) {
        const int err = errno;
        ::close(dup);
        return error(err);
    }
    ::rewinddir(dir.get());
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir.get());
        if (d == nullptr) {
            if (errno != 0) return error(errno);
            break;
        }
        if (!isJobFileName(d->d_name)) continue;
        struct stat st {};
        if (::fstatat(m_fd.get(), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone
        if (S_ISDIR(st.st_mode)) continue;  // folders are never jobs
        entries.push_back(FolderEntry{d->d_name, S_ISREG(st.st_mode), identityOf(st)});
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        return lessIgnoringCase(a.name, b.name);
    });
    return entries;
}

}  // namespace plx
