#include "app/run_settings.h"

#include "common/text.h"

#include "printing/print_procedures.h"

namespace plx {

std::vector<std::string> splitFields(std::string_view text, char separator) {
    if (text.empty()) return {};
    return splitAt(text, separator);
}

std::string joinArguments(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined.push_back(' ');
        joined += argv[i];
    }
    return joined;
}

std::optional<RunSettings> parseRunSettings(std::string_view argumentString) {
    const std::vector<std::string> f = splitFields(argumentString, '/');
    if (f.size() < 5) return std::nullopt;
    return RunSettings{f[0], f[1], f[2], f[3], f[4]};
}

Message runSettingsUsageError(std::string_view argumentString) {
    const std::size_t n = splitFields(argumentString, '/').size();
    return Message(PLX_TR("Station",
                          "plixagram: the argument string must have five fields separated by "
                          "\"/\": printer/folder/mode/x/y (it has %1). Example: plixagram "
                          "'QLS-4100 Xe drivers standard/jobs/1/60/20'"),
                   {std::to_string(n)});
}

Message printModeWarning(std::string_view mode) {
    if (isPrintingMode(mode)) return {};
    return Message(PLX_TR("Station",
                          "Print mode \"%1\" prints nothing: only modes \"1\" (dot "
                          "replication), \"2\" (dot replication, first 181 rows) and "
                          "\"3\" (scaled image) print. Job pictures are shown and "
                          "left in the folder."),
                   {std::string(mode)});
}

}  // namespace plx
