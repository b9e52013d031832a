#pragma once
// The watch folder: where its setting points on this machine, which of its entries are job
// files, and the folder itself, opened once per tick so that every look and every move inside
// it is made relative to that one open folder.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/unique_fd.h"

namespace plx {

// The folder field cannot hold "/" (it separates the settings), so a backslash stands for the
// path separator: '\srv\labels' is /srv/labels, 'spool\labels' is relative to the working
// directory.
std::filesystem::path watchFolderPath(std::string_view folderField);

// The folder joined with a job file's name.
std::filesystem::path jobFilePath(std::string_view folderField, std::string_view fileName);

// Whether a directory entry name is a job file: "*.bmp" without regard to case, not hidden.
// Such a name never holds "/" and is never "." or "..".
bool isJobFileName(std::string_view name);

// One file, across renames: a new file under the same name is another file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
    bool sameFile(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
    // Neither written to nor truncated since (as far as size and modification time tell).
    bool sameContent(const FileIdentity& o) const { return size == o.size && mtimeNs == o.mtimeNs; }
};
FileIdentity identityOf(const struct stat& st);

struct FolderEntry {
    std::string name;
    bool regular = false;  // false: a symbolic link, FIFO, socket or device under a job name
    FileIdentity identity;
};

class WatchFolder {
  public:
    explicit WatchFolder(std::string folderField);

    // Opens the folder afresh (once per tick); an error names the folder and the cause.
    Result<void> open();
    int fd() const { return m_fd.get(); }
    bool isOpen() const { return m_fd.valid(); }
    const std::string& field() const { return m_field; }
    const std::filesystem::path& path() const { return m_path; }

    // Its job files in name order without regard to case; folders are never jobs.
    Result<std::vector<FolderEntry>> jobFiles() const;

  private:
    std::string m_field;
    std::filesystem::path m_path;
    UniqueFd m_fd;
};

}  // namespace plx
