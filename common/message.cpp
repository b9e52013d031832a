#include "common/message.h"

#include <cstring>

namespace plx {

std::string fillArguments(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const std::size_t k = std::size_t(pattern[i + 1] - '1');
            if (k < args.size()) {
                out += args[k];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string Message::text() const {
    if (source == nullptr) return literal;
    std::vector<std::string> filled;
    filled.reserve(args.size());
    for (const Message& a : args) filled.push_back(a.text());
    return fillArguments(source, filled);
}

bool Message::operator==(const Message& other) const {
    if ((source == nullptr) != (other.source == nullptr)) return false;
    if (source == nullptr) return literal == other.literal;
    // The same text may sit at two addresses (one per translation unit).
    return (source == other.source || std::strcmp(source, other.source) == 0) && args == other.args;
}

}  // namespace plx
