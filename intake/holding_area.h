#pragma once
// The station's held folder inside the watch folder. A job file is claimed before it is sent:
// its record is written and the file moved in here, so that a station killed at any moment
// finds on its next start what it had claimed and what became of it. Files stay on the watch
// folder's own file system, so taking them out and putting them back are renames that cannot
// lose them.
//
// Whoever may write the watch folder is not trusted. The held folder is opened once without
// following links and used only when it belongs to the station's user and nobody else may
// write it; everything made, moved or deleted inside it is named relative to that open
// folder, new files are made exclusively, and a record can only send a file back to a plain
// job-file name of the watch folder. The folder also holds the lock that keeps a second
// station on the same folder standing by.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"
#include "common/unique_fd.h"
#include "intake/folder_lock.h"
#include "intake/held_record.h"
#include "intake/watch_folder.h"

namespace plx {

class HoldingArea {
  public:
    static constexpr const char* kFolderName = ".plixagram-held";

    explicit HoldingArea(WatchFolder& folder);
    // A clean stop lets go of the lock, and of the held folder when it holds nothing else.
    ~HoldingArea();
    HoldingArea(const HoldingArea&) = delete;
    HoldingArea& operator=(const HoldingArea&) = delete;

    enum class Access { Ready, StandingBy, Unusable };
    struct Standing {
        Access access = Access::Unusable;
        Message why;            // what stands in the way, for StandingBy and Unusable
        bool tookLock = false;  // just taken: what the held folder holds is ours to recover
    };
    // Whether this station may claim job files now: the held folder made if missing, checked,
    // still the one under that name, and the folder's lock ours. Once per tick, with the
    // watch folder open.
    Standing take();
    bool ready() const { return m_held.valid() && m_lock.held() && !m_replaced; }
    // The station that holds the folder's lock, as it says itself, when another one does.
    const std::string& holder() const { return m_lock.holder(); }

    enum class ClaimFailure { None, Gone, Replaced, NotWritable, CannotWrite };
    struct Claim {
        HeldJob held;
        ClaimFailure failure = ClaimFailure::None;
        std::string reason;  // the system's words for CannotWrite
    };
    // Writes the claim's record, then moves the file `name` (read as `read`) in. Replaced: the
    // name held another file by then, which is left where it was.
    Claim claim(const std::string& name, const FileIdentity& read, const std::string& queue,
                int after);
    // The print server has the job: its number and uuid go into the record.
    Result<void> recordHandOver(HeldJob& held, const JobRef& job);
    // The job has ended: the held file and its record go.
    Result<void> release(const HeldJob& held);
    // The file goes back into the watch folder to be printed again, under its own name unless
    // a new file has taken it meanwhile. Returns the name it got; NotFound when the file is
    // no longer held (the record goes all the same).
    Result<std::string> putBack(const HeldJob& held);

    // What the held folder holds, once the lock is taken: claims and jobs to follow, files
    // without a record put back, half-written records removed.
    struct Recovered {
        std::vector<HeldJob> jobs;
        std::vector<Message> events;
    };
    Recovered recover();

    // Who holds the lock of this watch folder, without taking it or making anything (the
    // desktop launcher asks). Nothing: no station; an error: it cannot be told, and the
    // folder is not free for this user (the held folder belongs to another, say).
    static Result<std::optional<std::string>> holderOf(const std::filesystem::path& watchFolder);
    // The station's user, as messages name it.
    static std::string userName();
    // The watch folder cannot be written by this station: said with what to do about it.
    Message notWritable() const;

  private:
    Standing openHeld();
    Standing checkStillOurs();
    Message unusable(const Message& what) const;
    int writeRecordFile(const HeldJob& held, bool sync);
    Result<std::string> returnFile(const std::string& from, const std::string& name,
                                   const std::string& tag);
    void forgetRecord(const std::string& key);

    WatchFolder& m_folder;
    UniqueFd m_held;
    FolderLock m_lock;
    bool m_replaced = false;
};

}  // namespace plx
