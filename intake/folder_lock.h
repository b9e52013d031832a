#pragma once
// One station per watch folder. The station that prints from a folder holds an advisory lock
// on a file in the folder's held area and writes there who it is; any other station on the
// same folder, on this machine or another sharing it, finds the lock taken and stands by.
// An open file description lock (F_OFD_SETLK) is released by the kernel when its holder dies
// however it dies, and is a POSIX byte-range lock on NFSv4 and on SMB shares with locking.

#include <optional>
#include <string>

#include "common/result.h"
#include "common/unique_fd.h"

namespace plx {

class FolderLock {
  public:
    static constexpr const char* kFileName = "station.lock";

    // Takes the lock in the open held folder `dirFd` if no one holds it. True: this station
    // holds it (now or already); false: another does, and holder() says who.
    Result<bool> tryTake(int dirFd);
    bool held() const { return m_held; }
    // "host NAME, process PID, since TIME", as the holder wrote it; empty when unknown.
    const std::string& holder() const { return m_holder; }
    // Lets go (the held folder it was in is gone, or the station stops).
    void release();

    // Who holds the lock in `dirFd` now, without taking it or making anything; nothing when
    // no one does.
    static Result<std::optional<std::string>> holderIn(int dirFd);

  private:
    UniqueFd m_fd;
    bool m_held = false;
    std::string m_holder;
};

}  // namespace plx
