#include "intake/watch_folder.h"

#include <string>

namespace plx {

std::filesystem::path watchFolderPath(std::string_view folderField) {
    std::string p(folderField);
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    if (p.empty()) p = ".";
    return std::filesystem::path(p);
}

std::filesystem::path jobFilePath(std::string_view folderField, std::string_view fileName) {
    return watchFolderPath(folderField) / std::filesystem::path(std::string(fileName));
}

}  // namespace plx
