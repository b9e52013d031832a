#include "app/holder_command.h"

#include <cstring>
#include <iostream>
#include <string>

#include "app/run_settings.h"
#include "intake/holding_area.h"
#include "intake/watch_folder.h"

namespace plx {

int folderHolderCommand(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--holder") != 0) return -1;
    // The argument string as the station reads it, from the words after the option.
    const std::string arguments = joinArguments(argc - 1, argv + 1);
    const std::optional<RunSettings> settings = parseRunSettings(arguments);
    if (!settings) {
        std::cerr << runSettingsUsageError(arguments).text() << "\n";
        return 2;
    }
    const std::string& folder = settings->watch_folder;
    const auto holder = HoldingArea::holderOf(watchFolderPath(folder));
    if (!holder) {
        std::cout << "watch folder \"" << folder << "\": " << holder.error().message << "\n";
        return 1;
    }
    if (*holder) {
        std::cout << "watch folder \"" << folder << "\" is held by another station (" << **holder
                  << ")\n";
        return 1;
    }
    std::cout << "watch folder \"" << folder << "\": no station holds it\n";
    return 0;
}

}  // namespace plx
