#pragma once
// Where the watch folder setting points on this machine.

#include <filesystem>
#include <string_view>

namespace plx {

// The folder field cannot hold "/" (it separates the settings), so a backslash stands for the
// path separator: '\srv\labels' is /srv/labels, 'spool\labels' is relative to the working
// directory.
std::filesystem::path watchFolderPath(std::string_view folderField);

// The folder joined with a job file's name.
std::filesystem::path jobFilePath(std::string_view folderField, std::string_view fileName);

}  // namespace plx
