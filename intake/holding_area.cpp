#include "intake/holding_area.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>

namespace plx {
namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordExt = ".job";
constexpr const char* kFileExt = ".bmp";

Error ioError(const std::string& what, int err) {
    return makeError(ErrorKind::Io, what + ": " + std::strerror(err));
}

// Values are one line each: a name's "%" and line breaks are escaped.
std::string escaped(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string hex = s.substr(i + 1, 2);
            if (hex == "25" || hex == "0A" || hex == "0D") {
                out += char(std::stoi(hex, nullptr, 16));
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// Queue names may hold characters a file name should not; the job id keeps keys unique.
std::string keyOf(const JobRef& job) {
    std::string key;
    for (const char c : job.queue) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        key += plain ? c : '_';
    }
    return key + "-" + std::to_string(job.id);
}

struct Record {
    std::string name;
    JobRef job;
    FileIdentity file;
};

std::string serialized(const Record& r) {
    std::ostringstream out;
    out << "name=" << escaped(r.name) << "\nqueue=" << escaped(r.job.queue) << "\njob=" << r.job.id
        << "\ndevice=" << r.file.device << "\ninode=" << r.file.inode << "\nsize=" << r.file.size
        << "\nmtime=" << r.file.mtimeNs << "\n";
    return out.str();
}

std::optional<Record> parsed(const fs::path& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> v;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!v.count("name") || !v.count("queue") || !v.count("job") || !v.count("mtime")) {
        return std::nullopt;
    }
    try {
        Record r;
        r.name = unescaped(v["name"]);
        r.job.queue = unescaped(v["queue"]);
        r.job.id = std::stoi(v["job"]);
        r.file.device = std::stoull(v["device"]);
        r.file.inode = std::stoull(v["inode"]);
        r.file.size = std::stoull(v["size"]);
        r.file.mtimeNs = std::stoll(v["mtime"]);
        if (r.name.empty() || r.name.find('/') != std::string::npos || r.job.id <= 0) {
            return std::nullopt;
        }
        return r;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Written whole under another name, then renamed: a record is complete or absent.
Result<void> writeRecord(const fs::path& path, const Record& r) {
    const fs::path tmp = path.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << serialized(r);
        out.flush();
        if (!out) return makeError(ErrorKind::Io, "cannot write " + tmp.string());
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return ioError("cannot write " + path.string(), err);
    }
    return {};
}

// A rename that never replaces an existing file (a new job dropped under the same name).
int moveNoReplace(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

Result<FileIdentity> identityOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return ioError(path.string(), errno);
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino),
                        std::uint64_t(st.st_size),
                        std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

HoldingArea::HoldingArea(fs::path watchFolder) : m_watch(std::move(watchFolder)) {}

Result<HeldJob> HoldingArea::hold(const std::string& name, const JobRef& job,
                                  const FileIdentity& file) {
    std::error_code ec;
    fs::create_directory(folder(), ec);
    if (ec)
        return makeError(ErrorKind::Io, "cannot make " + folder().string() + ": " + ec.message());
    std::string key = keyOf(job);
    for (int n = 2; fs::exists(folder() / (key + kRecordExt), ec); ++n) {
        key = keyOf(job) + "." + std::to_string(n);
    }
    HeldJob held{name, job, folder() / (key + kFileExt), folder() / (key + kRecordExt)};
    if (Result<void> w = writeRecord(held.record, Record{name, job, file}); !w) return w.error();

    const fs::path source = m_watch / name;
    // A file rewritten since it was printed is a new job: it stays, and only the record is kept.
    const Result<FileIdentity> now = identityOf(source);
    if (!now || !(*now == file)) {
        held.file.clear();
        return held;
    }
    if (::rename(source.c_str(), held.file.c_str()) != 0) {
        const int err = errno;
        ::unlink(held.record.c_str());
        removeFolderIfEmpty();
        return ioError("cannot take " + name + " out of the watch folder", err);
    }
    return held;
}

HoldingArea::Recovered HoldingArea::recover() {
    Recovered out;
    std::error_code ec;
    if (!fs::is_directory(folder(), ec)) return out;
    std::vector<fs::path> records, files;
    for (const auto& e : fs::directory_iterator(folder(), ec)) {
        const fs::path& p = e.path();
        if (p.extension() == ".tmp")
            fs::remove(p, ec);  // a record cut short: never complete
        else if (p.extension() == kRecordExt)
            records.push_back(p);
        else if (p.extension() == kFileExt)
            files.push_back(p);
    }
    for (const fs::path& recordPath : records) {
        fs::path held = recordPath;
        held.replace_extension(kFileExt);
        const std::optional<Record> r = parsed(recordPath);
        if (!r) {
            fs::remove(recordPath, ec);
            continue;  // its file, if any, goes back below
        }
        HeldJob job{r->name, r->job, held, recordPath};
        if (!fs::exists(held, ec)) {
            // Killed between the record and the move: finish the move if the file is the one
            // that was printed.
            const fs::path source = m_watch / r->name;
            const Result<FileIdentity> now = identityOf(source);
            if (now && *now == r->file && ::rename(source.c_str(), held.c_str()) == 0) {
                out.events.push_back(
                    Message(PLX_TR("Station",
                                   "%1: taken out of the folder after a restart (job %2 was "
                                   "already handed over)"),
                            {r->name, r->job.text()}));
            } else {
                job.file.clear();
            }
        }
        out.jobs.push_back(job);
    }
    for (const fs::path& file : files) {
        fs::path record = file;
        record.replace_extension(kRecordExt);
        if (fs::exists(record, ec)) continue;
        // No record: nothing says what became of its job, so it is printed again.
        const Result<std::string> back = returnFile(file, file.filename().string(), "held");
        out.events.push_back(
            back ? Message(PLX_TR("Station",
                                  "%1: found held without its job record: put back "
                                  "into the folder to be printed again"),
                           {*back})
                 : Message(PLX_TR("Station", "%1: cannot be put back into the folder: %2"),
                           {file.string(), back.error().message}));
    }
    removeFolderIfEmpty();
    return out;
}

Result<void> HoldingArea::release(const HeldJob& held) {
    std::error_code ec;
    if (!held.file.empty()) fs::remove(held.file, ec);
    if (ec) return makeError(ErrorKind::Io, held.file.string() + ": " + ec.message());
    if (!held.record.empty()) fs::remove(held.record, ec);
    removeFolderIfEmpty();
    return {};
}

Result<std::string> HoldingArea::putBack(const HeldJob& held) {
    if (held.file.empty()) return makeError(ErrorKind::NotFound, "its file is no longer held");
    Result<std::string> name = returnFile(held.file, held.name, std::to_string(held.job.id));
    if (name) {
        std::error_code ec;
        if (!held.record.empty()) fs::remove(held.record, ec);
        removeFolderIfEmpty();
    }
    return name;
}

Result<std::string> HoldingArea::returnFile(const fs::path& held, const std::string& name,
                                            const std::string& tag) {
    // Under its own name; if a new file has taken that, under a name whose later fields (the
    // copy count) are the same.
    std::string target = name;
    int err = moveNoReplace(held, m_watch / target);
    for (int n = 1; err == EEXIST && n < 100; ++n) {
        target = "retry" + tag;
        if (n > 1) target += "." + std::to_string(n);
        target += "-";
        target += name;
        err = moveNoReplace(held, m_watch / target);
    }
    if (err != 0) return ioError("cannot put " + name + " back into the watch folder", err);
    return target;
}

void HoldingArea::removeFolderIfEmpty() const {
    // rmdir refuses a folder that is not empty, which is what is wanted.
    ::rmdir(folder().c_str());
}

}  // namespace plx
