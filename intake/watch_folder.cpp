#include "intake/watch_folder.h"

#include <string>

namespace plx {

std::filesystem::path watchFolderPath(std::string_view folderField) {
    std::string p(folderField);
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    // Not p = ".": GCC 12 at -O2 warns falsely (-Wrestrict) on that assignment.
    if (p.empty()) return std::filesystem::path(".");
    return std::filesystem::path(p);
}

std::filesystem::path jobFilePath(std::string_view folderField, std::string_view fileName) {
    return watchFolderPath(folderField) / std::filesystem::path(std::string(fileName));
}

}  // namespace plx
