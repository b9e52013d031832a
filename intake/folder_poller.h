#pragma once
// One look into the watch folder: every job file found is printed once and deleted.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/message.h"
#include "common/result.h"

namespace plx {

struct ListedFile {
    std::string name;
    Message mark;  // why the file is not being printed; empty for a plain job
};

// What the poller needs from the window that owns it.
class JobHost {
  public:
    virtual ~JobHost() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual Result<void> loadPicture(const std::string& path) = 0;
    // Prints the loaded picture in the run's mode; returns the print system's job id.
    virtual Result<std::string> printJob(std::int16_t qte, const std::string& jobName) = 0;
    virtual void showListing(const std::vector<ListedFile>& files) = 0;
    // One event: printed, rejected, waiting, print-server or folder trouble.
    virtual void report(Severity severity, const Message& message) = 0;
    virtual bool stopping() const = 0;
};

struct PollerSettings {
    std::string watchFolder;  // verbatim, backslashes standing for separators
    std::string printMode;
    std::string printerName;
};

// Whether a directory entry name is a job file: "*.bmp" without regard to case, not hidden.
bool isJobFileName(std::string_view name);

class FolderPoller {
  public:
    FolderPoller(JobHost& host, PollerSettings settings);
    void tick();

    // Test seam: how a printed job file is deleted (the file system's remove by default).
    using Remover = std::function<std::error_code(const std::filesystem::path&)>;
    void setRemover(Remover remover) { m_remove = std::move(remover); }

    // Reading a job file's copy count from its name: the third "_"-separated field.
    static Result<std::int16_t> copyCount(std::string_view fileName);

  private:
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type mtime{};
        bool operator==(const Stamp&) const = default;
    };
    enum class State { Rejected, Waiting, PrintedNotDeleted, Shown, NotRegular };
    struct Remembered {
        State state = State::Rejected;
        Stamp stamp;
        Message mark;
    };
    struct Entry {
        std::string name;
        bool regular = false;
        Stamp stamp;
    };
    enum class Outcome { Next, StopTick };

    Result<std::vector<Entry>> listFolder() const;
    Outcome process(const Entry& entry, Message& mark);
    void remember(const Entry& entry, State state, const Message& mark, bool reportIt);
    void reportServerTrouble(const std::string& message);

    JobHost& m_host;
    PollerSettings m_settings;
    std::map<std::string, Remembered> m_files;
    std::string m_folderTrouble;
    std::string m_serverTrouble;
    Remover m_remove;
};

}  // namespace plx
