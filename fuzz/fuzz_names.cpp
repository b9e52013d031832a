// Job file names and the argument string: everything the station reads out of texts.
// Input: the job name, a NUL byte, the argument string (all name when there is no NUL).
//
// Checks, besides "no crash, no exception, no sanitizer report": the argument string splits
// into fields that rejoin to it, and starts the station exactly when it has five fields;
// leadingNumber ignores blanks wherever they stand, agrees with strtod on plain decimal
// numbers and never yields NaN; the integer conversions round halves to even and fail exactly
// outside the type's range; the copy count and the job-file test follow their rules.

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.h"
#include "common/number.h"
#include "intake/folder_poller.h"
#include "intake/watch_folder.h"
#include "printing/print_procedures.h"

namespace {

[[noreturn]] void fail(const std::string& why, std::string_view text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown.push_back(char(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            shown += buf;
        }
    }
    std::fprintf(stderr, "fuzz_names: %s, for \"%s\"\n", why.c_str(), shown.c_str());
    std::fflush(stderr);
    std::abort();
}

// The message is only built when the condition fails.
#define require(ok, why, text)      \
    do {                            \
        if (!(ok)) fail(why, text); \
    } while (false)

bool skipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

std::string withoutBlanks(std::string_view t) {
    std::string out;
    for (char c : t)
        if (!skipped(c)) out.push_back(c);
    return out;
}

// A text that is nothing but one plain decimal number: sign, digits, ".", digits, exponent
// with digits. Returns it in strtod's spelling (D exponent as e), or "" for anything else.
std::string plainDecimal(std::string_view t) {
    std::size_t i = 0;
    std::string out;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) out.push_back(t[i++]);
    bool any = false;
    while (i < t.size() && digit(t[i])) out.push_back(t[i++]), any = true;
    if (i < t.size() && t[i] == '.') {
        out.push_back(t[i++]);
        while (i < t.size() && digit(t[i])) out.push_back(t[i++]), any = true;
    }
    if (!any) return {};
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        out.push_back('e');
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) out.push_back(t[i++]);
        bool expDigits = false;
        while (i < t.size() && digit(t[i])) out.push_back(t[i++]), expDigits = true;
        if (!expDigits) return {};
    }
    return i == t.size() ? out : std::string();
}

template <typename I>
void checkConversion(double d, const plx::Result<I>& r, const char* type, std::string_view text) {
    const double lo = double(std::numeric_limits<I>::min());
    const double hi = double(std::numeric_limits<I>::max());
    if (std::isfinite(d) && d >= lo && d <= hi)
        require(r.ok(), std::string("a value inside the ") + type + " range does not convert",
                text);
    if (!std::isfinite(d) || d < lo - 0.5 || d > hi + 0.5)
        require(!r.ok(), std::string("a value outside the ") + type + " range converts", text);
    if (!r.ok()) {
        require(r.error().kind == plx::ErrorKind::OutOfRange,
                std::string("a failed ") + type + " conversion is not OutOfRange", text);
        return;
    }
    const double v = double(*r);
    require(std::fabs(v - d) <= 0.5, std::string(type) + " conversion is not to the nearest", text);
    if (std::fabs(v - d) == 0.5)
        require(std::fmod(v, 2.0) == 0, std::string(type) + " half not rounded to even", text);
}

void checkNumber(std::string_view field) {
    const double d = plx::leadingNumber(field);
    require(!std::isnan(d), "leadingNumber gave NaN", field);

    // Blanks, tabs and line feeds count nowhere.
    const std::string packed = withoutBlanks(field);
    const double p = plx::leadingNumber(packed);
    require(p == d && std::signbit(p) == std::signbit(d), "blanks change the leading number",
            field);

    // Anything after the number is not part of it.
    std::string longer(field);
    longer += "Z";
    require(plx::leadingNumber(longer) == d, "a trailing letter changes the leading number", field);

    // A plain decimal number reads as the C library reads it.
    const std::string plain = plainDecimal(packed);
    if (!plain.empty()) {
        errno = 0;
        const double want = std::strtod(plain.c_str(), nullptr);
        const bool tiny = std::fabs(want) < 1e-300 && std::fabs(d) < 1e-300;
        require(want == d || tiny,
                "leadingNumber differs from strtod (" + std::to_string(d) + " against " +
                    std::to_string(want) + ")",
                field);
    }

    const auto i16 = plx::toInt16(d);
    const auto i32 = plx::toInt32(d);
    checkConversion(d, i16, "16-bit", field);
    checkConversion(d, i32, "32-bit", field);
    if (i16) require(i32 && *i32 == *i16, "16-bit and 32-bit conversions disagree", field);
}

std::size_t count(std::string_view t, char c) {
    std::size_t n = 0;
    for (char x : t) n += x == c;
    return n;
}

void checkArguments(std::string_view args) {
    const std::vector<std::string> fields = plx::splitFields(args, '/');
    if (args.empty()) {
        require(fields.empty(), "an empty argument string has fields", args);
    } else {
        require(fields.size() == count(args, '/') + 1, "wrong number of fields", args);
    }
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) joined.push_back('/');
        joined += fields[i];
    }
    require(joined == args, "the fields do not rejoin to the argument string", args);

    const auto settings = plx::parseRunSettings(args);
    require(settings.has_value() == (count(args, '/') >= 4),
            "parseRunSettings does not succeed exactly with five fields", args);
    if (settings) {
        const std::string five = settings->printer_name + "/" + settings->watch_folder + "/" +
                                 settings->print_mode + "/" + settings->offset_x + "/" +
                                 settings->offset_y;
        require(args.substr(0, five.size()) == five &&
                    (five.size() == args.size() || args[five.size()] == '/'),
                "the five settings are not the start of the argument string", args);
        (void)plx::printModeWarning(settings->print_mode).text();
        require(plx::isPrintingMode(settings->print_mode) ==
                    plx::printModeWarning(settings->print_mode).empty(),
                "a printing mode has a warning or a non-printing one none", args);

        const std::string folder = plx::watchFolderPath(settings->watch_folder).string();
        require(folder.find('\\') == std::string::npos, "a backslash survives in the folder", args);
        std::string want = settings->watch_folder;
        for (char& c : want)
            if (c == '\\') c = '/';
        require(folder == (want.empty() ? std::string(".") : want),
                "the watch folder is not the field with backslashes as separators", args);
    } else {
        require(!plx::runSettingsUsageError(args).text().empty(), "no usage error", args);
    }
    for (const std::string& f : fields) checkNumber(f);
}

void checkName(std::string_view name, std::string_view folderField) {
    // The copy count: the third "_" field's leading number, 1 to 32767.
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = name.find('_', start);
        parts.push_back(name.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    const auto copies = plx::FolderPoller::copyCount(name);
    if (parts.size() < 3) {
        require(!copies.ok() && copies.error().kind == plx::ErrorKind::Invalid,
                "a name without three fields has a copy count", name);
    } else {
        const auto q = plx::toInt16(plx::leadingNumber(parts[2]));
        if (q && *q >= 1)
            require(copies.ok() && *copies == *q, "wrong copy count", name);
        else
            require(!copies.ok() && copies.error().kind == plx::ErrorKind::OutOfRange,
                    "a copy count below 1 or past 16 bits is accepted", name);
        checkNumber(parts[2]);
    }

    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    // A job file name is one plain name of the folder: never with a "/" in it.
    bool job = name.size() >= 5 && name.front() != '.' && name.find('/') == std::string_view::npos;
    if (job) {
        const std::string_view ext = name.substr(name.size() - 4);
        job = ext[0] == '.' && lower(ext[1]) == 'b' && lower(ext[2]) == 'm' && lower(ext[3]) == 'p';
    }
    require(plx::isJobFileName(name) == job,
            "isJobFileName disagrees with \"*.bmp, not hidden, no /\"", name);

    const std::filesystem::path path = plx::jobFilePath(folderField, name);
    if (!name.empty() && name.find('/') == std::string_view::npos)
        require(path.filename().string() == name, "the job path does not end in the name", name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view name = input.substr(0, nul);
    const std::string_view args =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    checkArguments(args);
    checkArguments(name);  // a name is a string of "/" fields too, as far as the parser cares
    const auto settings = plx::parseRunSettings(args);
    checkName(name, settings ? std::string_view(settings->watch_folder) : args);
    return 0;
}
