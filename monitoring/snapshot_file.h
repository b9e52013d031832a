#pragma once
// The station's state snapshot as a file in its runtime folder: replaced atomically at each
// change, at most a few times a second, removed when the station ends cleanly. Readers (the
// operator's commands) tell a running station from one that is gone by its process id.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "monitoring/state_places.h"
#include "monitoring/station_snapshot.h"

namespace plx {

// Writes `bytes` to a hidden file beside `path`, syncs it and renames it over `path`, so that a
// reader sees the old content or the new, never a part. Mode 0644 (the state is for everyone on
// the machine to read); a symbolic link at the temporary name is not followed.
Result<void> writeFileAtomically(const std::string& path, const QByteArray& bytes);

// Whether a process with this id exists (possibly another user's) and, when `startedMs` is
// given, was already running then (so that a later process that got the same id is not taken
// for it).
bool processAlive(int pid, std::int64_t startedMs = 0);

// The snapshot file for a watch folder in `runtimeFolder`: KEY.json, or KEY.PID.json when a
// station still running on this machine already writes KEY.json for the same folder.
std::string snapshotPathFor(const std::string& runtimeFolder, const std::string& watchFolder);

class SnapshotPublisher : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMinIntervalMs = 250;

    explicit SnapshotPublisher(std::string path, QObject* parent = nullptr);
    // Removes the file: a station that ended cleanly leaves no state behind.
    ~SnapshotPublisher() override;

    const std::string& path() const { return m_path; }
    // Writes the snapshot now, or once kMinIntervalMs have passed since the last write; only
    // the newest of the snapshots published meanwhile is written.
    void publish(const StationSnapshot& snapshot);
    // Writes a waiting snapshot now.
    void flush();
    int writes() const { return m_writes; }
    // Why the last write failed; empty when it worked.
    const std::string& problem() const { return m_problem; }

  private:
    std::string m_path;
    std::optional<StationSnapshot> m_pending;
    QElapsedTimer m_lastWrite;
    QTimer m_timer;
    int m_writes = 0;
    std::string m_problem;
};

// A snapshot found by a reader.
struct FoundSnapshot {
    std::string path;
    StationSnapshot snapshot;
    bool running = false;  // its station is still running
};

// Every snapshot in `folders` (and one level below), readable ones only, sorted by folder.
std::vector<FoundSnapshot> findSnapshots(const std::vector<std::string>& folders);

}  // namespace plx
