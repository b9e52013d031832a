#pragma once
// The five start-up fields, kept verbatim for the whole run.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/message.h"

namespace plx {

// The fields keep their fixed names until app/ is reworked.
struct RunSettings {
    // NOLINTBEGIN(readability-identifier-naming)
    std::string printer_name;
    std::string watch_folder;
    std::string print_mode;
    std::string offset_x;
    std::string offset_y;
    // NOLINTEND(readability-identifier-naming)
};

// Split at every "/", empty pieces kept; an empty text gives no pieces.
std::vector<std::string> splitFields(std::string_view text, char separator);

// The argument string as one text: the program's arguments joined with single blanks.
std::string joinArguments(int argc, const char* const* argv);

// The settings, or nothing when the string has fewer than five fields.
std::optional<RunSettings> parseRunSettings(std::string_view argumentString);

// The error shown when the argument string cannot start the station.
Message runSettingsUsageError(std::string_view argumentString);

// Empty for modes "1", "2" and "3"; otherwise the warning to show at start-up.
Message printModeWarning(std::string_view mode);

}  // namespace plx
