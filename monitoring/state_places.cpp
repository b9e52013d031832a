#include "monitoring/state_places.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace plx {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSlugChars = 40;
constexpr const char* kServiceState = "/var/lib/plixagram";
constexpr const char* kServiceRuntime = "/run/plixagram";

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

// systemd passes one path per directory it made, separated by ":"; the first is ours.
std::string firstOfList(const std::string& list) { return list.substr(0, list.find(':')); }

std::string userStateFolder() {
    std::string base = environment("XDG_STATE_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = environment("HOME");
        base = (home.empty() ? std::string("/") : home) + "/.local/state";
    }
    return base + "/plixagram";
}

std::string userRuntimeFolder() {
    const std::string xdg = environment("XDG_RUNTIME_DIR");
    if (!xdg.empty() && xdg.front() == '/') return xdg + "/plixagram";
    return "/tmp/plixagram-" + std::to_string(::getuid());
}

// The one folder the station names in /tmp, where anyone may have made it first.
bool isSharedTemporary(const std::string& folder) {
    return folder.rfind("/tmp/plixagram-", 0) == 0;
}

}  // namespace

std::string absoluteFolder(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(folder.empty() ? std::string(".") : folder), ec);
    if (ec) p = fs::path(folder);
    const fs::path canonical = fs::weakly_canonical(p, ec);
    std::string out = (ec ? p.lexically_normal() : canonical).string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string folderKey(const std::string& absoluteFolderPath) {
    std::string slug;
    for (const char c : absoluteFolderPath) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (safe)
            slug += c;
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    // The end of a path tells folders apart best.
    if (slug.size() > kSlugChars) slug = slug.substr(slug.size() - kSlugChars);
    while (!slug.empty() && (slug.front() == '-' || slug.front() == '.')) slug.erase(0, 1);
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    if (slug.empty()) slug = "root";
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(absoluteFolderPath),
                                                     QCryptographicHash::Sha256);
    return slug + "-" + hash.toHex().left(8).toStdString();
}

std::string stateFolder() {
    const std::string systemd = firstOfList(environment("STATE_DIRECTORY"));
    return systemd.empty() ? userStateFolder() : systemd;
}

std::string runtimeFolder() {
    const std::string systemd = firstOfList(environment("RUNTIME_DIRECTORY"));
    return systemd.empty() ? userRuntimeFolder() : systemd;
}

Result<void> ensureFolder(const std::string& folder) {
    std::error_code ec;
    // Only a folder made here is closed to others: systemd's own are left as it made them,
    // so that an operator can read the service's history.
    if (!fs::exists(folder, ec) && fs::create_directories(folder, ec))
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return makeError(ErrorKind::Io, "cannot make the folder " + folder + ": " +
                                            (ec ? ec.message() : std::strerror(errno)));
    if (!S_ISDIR(st.st_mode)) return makeError(ErrorKind::Io, folder + " is not a folder");
    // Only a folder of our own, closed to others, is safe to write into there.
    if (isSharedTemporary(folder) && (st.st_uid != ::getuid() || (st.st_mode & 077) != 0))
        return makeError(ErrorKind::Io, folder + " belongs to another user or is open to others");
    return {};
}

LookPlaces defaultLookPlaces() {
    LookPlaces places;
    places.state = {kServiceState, userStateFolder()};
    places.runtime = {kServiceRuntime, userRuntimeFolder()};
    return places;
}

std::vector<std::string> findFiles(const std::vector<std::string>& folders,
                                   const std::string& suffix) {
    std::set<std::string> found;
    const auto take = [&](const fs::path& dir, bool descend) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::error_code typeError;
            if (descend && it->is_directory(typeError) && name.front() != '.') {
                // One level: the service's instances (plixagram@NAME) each have their own.
                std::error_code inner;
                for (fs::directory_iterator sub(it->path(), inner), subEnd; !inner && sub != subEnd;
                     sub.increment(inner)) {
                    const std::string subName = sub->path().filename().string();
                    if (subName.size() > suffix.size() && subName.ends_with(suffix) &&
                        subName.front() != '.')
                        found.insert(sub->path().string());
                }
            } else if (name.size() > suffix.size() && name.ends_with(suffix) &&
                       name.front() != '.') {
                found.insert(it->path().string());
            }
        }
    };
    for (const std::string& folder : folders) take(fs::path(folder), true);
    return {found.begin(), found.end()};
}

}  // namespace plx
