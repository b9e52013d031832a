#pragma once
// Job files handed to the print server, kept out of the watch folder until their job has
// ended: a job that fails at the printer is put back and printed again, and a station killed
// at any moment finds on its next start what it was holding. The files stay on the watch
// folder's own file system (a hidden folder inside it), so taking them out and putting them
// back are renames that cannot lose them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"

namespace plx {

// One file, across renames: a new file under the same name is another file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
Result<FileIdentity> identityOf(const std::filesystem::path& path);

struct HeldJob {
    std::string name;  // the job file's name in the watch folder
    JobRef job;
    std::filesystem::path file;    // the held file; empty when the station holds none
    std::filesystem::path record;  // its job record; empty when kept in memory only
    bool jobFile = true;           // false: a job without a job file (the test print)
};

class HoldingArea {
  public:
    static constexpr const char* kFolderName = ".plixagram-held";

    explicit HoldingArea(std::filesystem::path watchFolder);

    // After the hand-over: writes the job's record, then moves the file out of the watch
    // folder. A station killed in between finds the record and finishes the move; one killed
    // before the record prints the file again (at least once, never lost).
    Result<HeldJob> hold(const std::string& name, const JobRef& job, const FileIdentity& file);

    // What an earlier run was holding, with what was done to settle interrupted moves.
    struct Recovered {
        std::vector<HeldJob> jobs;
        std::vector<Message> events;
    };
    Recovered recover();

    // The job ended: the held file and its record go.
    Result<void> release(const HeldJob& held);
    // The job failed: the file goes back into the watch folder to be printed again, under its
    // own name unless a new file has taken it meanwhile. Returns the name it got.
    Result<std::string> putBack(const HeldJob& held);

  private:
    std::filesystem::path folder() const { return m_watch / kFolderName; }
    Result<std::string> returnFile(const std::filesystem::path& held, const std::string& name,
                                   const std::string& tag);
    void removeFolderIfEmpty() const;

    std::filesystem::path m_watch;
};

}  // namespace plx
