#include "intake/folder_poller.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "common/number.h"
#include "intake/watch_folder.h"
#include "printing/print_procedures.h"

namespace plx {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    const auto n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = lowerAscii(a[i]);
        const char y = lowerAscii(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names that differ only in case keep a fixed order
}

std::string formatSeconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", s);
    return buf;
}

std::vector<std::string> splitAt(std::string_view text, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(sep, start);
        out.emplace_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return out;
        start = at + 1;
    }
}

}  // namespace

bool isJobFileName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.size() < 5) return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && lowerAscii(ext[1]) == 'b' && lowerAscii(ext[2]) == 'm' &&
           lowerAscii(ext[3]) == 'p';
}

FolderPoller::FolderPoller(JobHost& host, PollerSettings settings)
    : m_host(host), m_settings(std::move(settings)), m_remove([](const std::filesystem::path& p) {
          std::error_code ec;
          std::filesystem::remove(p, ec);
          return ec;
      }) {}

Result<std::int16_t> FolderPoller::copyCount(std::string_view fileName) {
    const std::vector<std::string> fields = splitAt(fileName, '_');
    if (fields.size() < 3) {
        return makeError(ErrorKind::Invalid,
                         "the name has no copy count (it needs three \"_\"-separated fields, "
                         "the third giving the copies)");
    }
    const double n = leadingNumber(fields[2]);
    Result<std::int16_t> q = toInt16(n);
    if (!q) {
        return makeError(ErrorKind::OutOfRange,
                         "the copy count in \"" + fields[2] + "\" does not fit 16 bits");
    }
    if (*q < 1) {
        return makeError(ErrorKind::OutOfRange, "the copy count in \"" + fields[2] + "\" is " +
                                                    std::to_string(*q) + ", below 1");
    }
    return q;
}

Result<std::vector<FolderPoller::Entry>> FolderPoller::listFolder() const {
    namespace fs = std::filesystem;
    const fs::path folder = watchFolderPath(m_settings.watchFolder);
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        return makeError(ErrorKind::Io, "watch folder \"" + m_settings.watchFolder + "\" (" +
                                            folder.string() + "): " + ec.message());
    }
    std::vector<Entry> entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!isJobFileName(name)) continue;
        std::error_code sec;
        const fs::file_status st = it->symlink_status(sec);
        if (sec || st.type() == fs::file_type::directory) continue;  // folders are never jobs
        Entry e;
        e.name = name;
        e.regular = st.type() == fs::file_type::regular;
        if (e.regular) {
            e.stamp.size = it->file_size(sec);
            e.stamp.mtime = it->last_write_time(sec);
        }
        entries.push_back(std::move(e));
    }
    if (ec) {
        return makeError(ErrorKind::Io,
                         "watch folder \"" + m_settings.watchFolder + "\": " + ec.message());
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return lessIgnoringCase(a.name, b.name); });
    return entries;
}

void FolderPoller::remember(const Entry& entry, State state, const Message& mark, bool reportIt) {
    m_files[entry.name] = Remembered{state, entry.stamp, mark};
    if (reportIt) {
        m_host.report(state == State::Rejected ? Severity::Warning : Severity::Notice,
                      Message(PLX_TR("Station", "%1: %2"), {entry.name, mark}));
    }
}

void FolderPoller::reportServerTrouble(const std::string& message) {
    if (message == m_serverTrouble) return;  // said once, not every tick
    m_serverTrouble = message;
    m_host.report(Severity::Error,
                  Message(PLX_TR("Station",
                                 "print server trouble: %1; the job files stay and are "
                                 "tried again at the next tick"),
                          {message}));
}

FolderPoller::Outcome FolderPoller::process(const Entry& entry, Message& mark) {
    namespace fs = std::filesystem;
    const auto known = m_files.find(entry.name);
    if (!entry.regular) {
        mark = PLX_TR("Station", "not a regular file: never opened");
        if (known == m_files.end() || known->second.state != State::NotRegular) {
            remember(entry, State::NotRegular, mark, true);
        }
        return Outcome::Next;
    }
    if (known != m_files.end() && known->second.stamp == entry.stamp &&
        known->second.state != State::Waiting && known->second.state != State::NotRegular) {
        mark = known->second.mark;  // nothing changed since it was last looked at
        return Outcome::Next;
    }

    const std::string path = jobFilePath(m_settings.watchFolder, entry.name).string();
    const bool printing = isPrintingMode(m_settings.printMode);
    Result<std::int16_t> qte = std::int16_t(0);
    if (printing) {
        qte = copyCount(entry.name);
        if (!qte) {
            mark = Message(PLX_TR("Station", "not printed: %1"), {qte.error().message});
            remember(entry, State::Rejected, mark, true);
            return Outcome::Next;
        }
    }

    const Result<void> loaded = m_host.loadPicture(path);
    if (!loaded) {
        const Error& e = loaded.error();
        if (e.kind == ErrorKind::NotFound) {
            m_files.erase(entry.name);
            mark = PLX_TR("Station", "gone");
            m_host.report(
                Severity::Notice,
                Message(PLX_TR("Station", "%1: removed before it could be loaded"), {entry.name}));
            return Outcome::Next;
        }
        if (e.kind == ErrorKind::Incomplete) {
            mark = Message(PLX_TR("Station", "waiting: %1"), {e.message});
            const bool again = known != m_files.end() && known->second.state == State::Waiting &&
                               known->second.stamp == entry.stamp;
            remember(entry, State::Waiting, mark, !again);
            return Outcome::Next;
        }
        mark = Message(PLX_TR("Station", "not printed: %1"), {e.message});
        remember(entry, State::Rejected, mark, true);
        return Outcome::Next;
    }

    if (!printing) {
        mark = Message(PLX_TR("Station", "shown only: print mode \"%1\" prints nothing"),
                       {m_settings.printMode});
        remember(entry, State::Shown, mark, true);
        return Outcome::Next;
    }

    // A file that changed while it was being read is still being written.
    std::error_code ec;
    const Stamp now{fs::file_size(path, ec), fs::last_write_time(path, ec)};
    if (!ec && !(now == entry.stamp)) {
        mark = PLX_TR("Station", "waiting: the file is still being written");
        remember(Entry{entry.name, true, now}, State::Waiting, mark, true);
        return Outcome::Next;
    }

    const auto started = std::chrono::steady_clock::now();
    const Result<std::string> job = m_host.printJob(*qte, entry.name);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!job) {
        const Error& e = job.error();
        if (e.kind == ErrorKind::PrintServer) {
            mark = PLX_TR("Station", "waiting for the print server");
            reportServerTrouble(e.message);
            return Outcome::StopTick;
        }
        if (e.kind == ErrorKind::Aborted) {
            mark = PLX_TR("Station", "interrupted: printed at the next start");
            m_host.report(Severity::Notice,
                          Message(PLX_TR("Station", "%1: %2; the file stays in the folder"),
                                  {entry.name, e.message}));
            return Outcome::StopTick;
        }
        mark = Message(PLX_TR("Station", "not printed: %1"), {e.message});
        remember(entry, State::Rejected, mark, true);
        return Outcome::Next;
    }
    if (!m_serverTrouble.empty()) {
        m_serverTrouble.clear();
        m_host.report(Severity::Notice, PLX_TR("Station", "print server available again"));
    }

    const Message printed(
        *qte == 1
            ? PLX_TR("Station", "%1: printed in mode %2, %3 copy, printer \"%4\", job %5 (%6 s)")
            : PLX_TR("Station", "%1: printed in mode %2, %3 copies, printer \"%4\", job %5 (%6 s)"),
        {entry.name, m_settings.printMode, std::to_string(*qte), m_settings.printerName, *job,
         formatSeconds(seconds)});
    ec = m_remove(path);
    if (ec) {
        mark = Message(PLX_TR("Station",
                              "printed, but could not be deleted (%1): not printed "
                              "again while the station runs"),
                       {ec.message()});
        remember(entry, State::PrintedNotDeleted, mark, false);
        m_host.report(Severity::Warning, Message(PLX_TR("Station", "%1; %2"), {printed, mark}));
        return Outcome::Next;
    }
    m_files.erase(entry.name);
    mark = PLX_TR("Station", "printed");
    m_host.report(Severity::Info, printed);
    return Outcome::Next;
}

void FolderPoller::tick() {
    Result<std::vector<Entry>> listing = listFolder();
    m_host.setTimerEnabled(false);

    if (!listing) {
        if (listing.error().message != m_folderTrouble) {
            m_folderTrouble = listing.error().message;
            m_host.report(
                Severity::Error,
                Message(PLX_TR("Station", "folder trouble: %1; looked at again every tick"),
                        {m_folderTrouble}));
        }
        m_host.showListing({});
        if (!m_host.stopping()) m_host.setTimerEnabled(true);
        return;
    }
    if (!m_folderTrouble.empty()) {
        m_folderTrouble.clear();
        m_host.report(Severity::Notice,
                      Message(PLX_TR("Station", "watch folder \"%1\" is readable again"),
                              {m_settings.watchFolder}));
    }

    const std::vector<Entry>& entries = *listing;
    // Forget what is no longer there.
    for (auto it = m_files.begin(); it != m_files.end();) {
        const bool present = std::any_of(entries.begin(), entries.end(),
                                         [&](const Entry& e) { return e.name == it->first; });
        it = present ? std::next(it) : m_files.erase(it);
    }

    std::vector<ListedFile> shown;
    shown.reserve(entries.size());
    for (const Entry& e : entries) {
        const auto known = m_files.find(e.name);
        shown.push_back({e.name, known != m_files.end() && known->second.stamp == e.stamp
                                     ? known->second.mark
                                     : Message()});
    }
    m_host.showListing(shown);

    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (m_host.stopping()) break;
        if (process(entries[i], shown[i].mark) == Outcome::StopTick) break;
    }
    m_host.showListing(shown);
    if (!m_host.stopping()) m_host.setTimerEnabled(true);
}

}  // namespace plx
