#pragma once
// The station's state beside its window: what the window shows and more, kept as one snapshot
// for those who cannot see the window. It follows what the intake tells the window (the
// listing, the conditions, each decision on a job file, the job being printed) and keeps the
// records: the job history, the snapshot file `plixagram status` reads, the one-line state
// for systemd, the reminders of standing conditions in the log, and the status page.

#include <QImage>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/run_settings.h"
#include "intake/job_host.h"
#include "monitoring/condition_reminder.h"
#include "monitoring/job_history.h"
#include "monitoring/station_snapshot.h"
#include "monitoring/status_page.h"
#include "printing/print_surface.h"

namespace plx {

class HistoryRecorder;
class JobRecords;
class SnapshotPublisher;

// One line of the window's file list: a job file in the folder, or a job at the printer.
struct FileRow {
    std::string id;  // stays the same while the row stands for the same file or job
    std::string name;
    FileState state = FileState::Waiting;
    Message reason;
    bool operator==(const FileRow& o) const {
        return id == o.id && name == o.name && state == o.state && reason.text() == o.reason.text();
    }
};

// Where the records go. Empty: not kept (the state is then only in memory, for the window).
struct RecordPlaces {
    std::string stateFolder;    // the job history
    std::string runtimeFolder;  // the state snapshot
    std::string statusPage;     // PLIXAGRAM_STATUS_PAGE
    int retentionDays = kDefaultRetentionDays;
    // The station's own: systemd's folders or the user's, and the page if it was asked for.
    static RecordPlaces fromEnvironment();
};

class StationMonitor : public QObject, public StatusSource {
    Q_OBJECT
  public:
    explicit StationMonitor(QObject* parent = nullptr);
    ~StationMonitor() override;

    // Before the settings are loaded.
    void keepRecords(const RecordPlaces& places) { m_places = places; }
    void setStatusLineSink(std::function<void(const std::string&)> sink) {
        m_statusSink = std::move(sink);
    }
    // Where the monitor's own events go (the window's report).
    void setSay(std::function<void(Severity, const Message&)> say) { m_say = std::move(say); }
    void setPictureSource(std::function<QImage()> source) { m_pictureSource = std::move(source); }

    // The settings the station runs with; the records for its folder start (again) here.
    void settingsLoaded(const RunSettings& settings);
    void eventSaid(const std::string& line);
    void listing(const std::vector<ListedFile>& files);
    void conditions(const std::vector<StationCondition>& conditions);
    // How the queue stands, as found before a job; nothing when the server could not tell.
    void printer(const std::string& queue, const std::optional<QueueState>& state);
    void jobStarted(const std::string& file, int copies);
    void progress(int row, int height);
    void jobEnded();
    void pictureChanged(const std::string& file, int width, int height);
    void jobDecided(const JobEvent& event);

    // The window's file list: the folder's job files, then the jobs at the printer.
    std::vector<FileRow> fileRows() const;

    HistoryRecorder* history() const { return m_recorder.get(); }
    JobRecords* records() const { return m_records.get(); }
    const StatusPage* page() const { return m_page.get(); }
    std::string snapshotPath() const;
    // Writes the snapshot and the one-line state now (otherwise a moment after a change).
    void publishNow();

    StationSnapshot snapshot() const override;
    std::vector<JobRecord> recentJobs(int count) const override;
    QImage picture() const override;

  signals:
    // fileRows() changed.
    void filesChanged();

  private:
    struct HeldRow {
        std::string token;
        std::string name;
        std::string job;  // "QUEUE-ID"; empty while the server has not answered
    };
    struct Condition {
        StationCondition what;
        std::int64_t since = 0;
    };
    void publish();
    void startRecords();
    void startPage();
    void changed(bool files = false);
    void remind();
    void historyStateChanged();
    void held(const JobEvent& e);
    void released(const std::string& token);
    void count(const JobEvent& e);

    RecordPlaces m_places;
    std::function<void(const std::string&)> m_statusSink;
    std::function<void(Severity, const Message&)> m_say;
    std::function<QImage()> m_pictureSource;

    StationSnapshot m_state;  // identity, settings, printer, job, picture, counters so far
    std::vector<ListedFile> m_listed;
    std::map<std::string, std::int64_t> m_firstSeen;  // listed file -> when first listed
    std::vector<HeldRow> m_held;
    std::map<std::string, int> m_copies;  // claim token -> copies, for the labels counter
    std::vector<Condition> m_conditions;
    std::optional<StationSnapshot> m_published;  // the last one written, without its time
    std::int64_t m_stoppedMs = 0;                // the queue's stopped time before the present stop
    std::uint64_t m_pictures = 0;

    std::unique_ptr<HistoryRecorder> m_recorder;
    std::unique_ptr<JobRecords> m_records;
    std::unique_ptr<SnapshotPublisher> m_publisher;
    std::unique_ptr<StatusPage> m_page;
    ConditionReminder m_reminder;
    QTimer m_update;
    QTimer m_remind;
};

}  // namespace plx
