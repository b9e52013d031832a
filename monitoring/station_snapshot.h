#pragma once
// What the station shows of itself, as one plain value: what the window shows and more. The
// station writes it to its runtime folder at each change (snapshot_file.h); `plixagram status`,
// the status page and the service's one-line state are made from it.

#include <QByteArray>
#include <QJsonObject>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"

namespace plx {

// Times are ms since the epoch; 0: none.

enum class FileMark {
    Waiting,     // will print at the next tick it can
    Printing,    // being printed now
    Held,        // handed to the print server, its job not ended yet
    SetAside,    // not printed until it changes (failed three times at the printer)
    Bad,         // not a job the station can print (not a picture, no copy count, ...)
    Retrying,    // cannot be read just now; tried again at every tick
    Incomplete,  // still being written
    Shown,       // shown only: the run's mode prints nothing
};
// "waiting", "printing", "held", "set-aside", "bad", "retrying", "incomplete", "shown".
std::string markWord(FileMark mark);
std::optional<FileMark> markFromWord(const std::string& word);

struct SnapshotFile {
    std::string name;
    FileMark mark = FileMark::Waiting;
    std::string reason;  // why it is not printing; empty for a plain waiting job
    bool operator==(const SnapshotFile&) const = default;
};

// The five start-up settings, as given.
struct SnapshotSettings {
    std::string printer;
    std::string folder;
    std::string mode;
    std::string offsetX;
    std::string offsetY;
    bool operator==(const SnapshotSettings&) const = default;
};

struct StationIdentity {
    std::string watchFolder;  // absolute
    int pid = 0;
    std::string host;
    std::string version;
    std::int64_t started = 0;
    bool holdsFolder = true;  // false: stands by for another station
    std::string standsByFor;  // that station, when standing by
    bool operator==(const StationIdentity&) const = default;
};

struct PrinterState {
    std::string queue;     // where the jobs go
    std::string state;     // "idle", "printing", "stopped", "not accepting jobs", "unknown"
    std::string reasons;   // the queue's own words and reasons
    bool blocked = false;  // stopped or not accepting: no job is sent
    std::int64_t since = 0;
    bool operator==(const PrinterState&) const = default;
};

struct CurrentJob {
    std::string file;
    int copies = 0;
    int row = 0;  // the row reached, of height
    int height = 0;
    std::int64_t started = 0;
    bool operator==(const CurrentJob&) const = default;
};

// What stands in the way of printing, or of keeping the history.
struct StandingCondition {
    std::string kind;  // "printer", "print-server", "folder", "standby", "history"
    std::string text;
    std::int64_t since = 0;
    bool operator==(const StandingCondition&) const = default;
};

struct StationCounters {
    std::int64_t labelsPrinted = 0;  // copies of the jobs completed at the printer
    std::int64_t jobsFailed = 0;     // jobs failed at the printer
    std::int64_t setAside = 0;       // files set aside or found bad
    std::int64_t queueStoppedSeconds = 0;
    int filesWaiting = 0;
    bool operator==(const StationCounters&) const = default;
};

struct HistoryState {
    bool kept = false;
    std::string problem;  // why not, when not
    std::string path;
    bool operator==(const HistoryState&) const = default;
};

// The picture shown (and printed): its generation changes with each new picture.
struct PictureInfo {
    std::uint64_t generation = 0;
    std::string file;
    int width = 0;
    int height = 0;
    bool operator==(const PictureInfo&) const = default;
};

struct StationSnapshot {
    std::int64_t updated = 0;
    StationIdentity station;
    SnapshotSettings settings;
    PrinterState printer;
    std::optional<CurrentJob> job;
    std::vector<SnapshotFile> files;
    std::vector<StandingCondition> conditions;
    StationCounters counters;
    HistoryState history;
    PictureInfo picture;
    std::string lastEvent;  // the window's status line
    std::int64_t lastEventAt = 0;
    bool operator==(const StationSnapshot&) const = default;
};

QJsonObject snapshotObject(const StationSnapshot& snapshot);
QByteArray snapshotToJson(const StationSnapshot& snapshot, bool indented = false);
// Fields that are missing or of another type read as their defaults; not a JSON object at all
// is an error.
Result<StationSnapshot> snapshotFromJson(const QByteArray& json);

}  // namespace plx
