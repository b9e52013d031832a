#include "intake/held_record.h"

#include <sys/random.h>

#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

namespace plx {
namespace {

// Values are one line each: "%" and line breaks are escaped.
std::string escaped(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string hex = s.substr(i + 1, 2);
            if (hex == "25" || hex == "0A" || hex == "0D") {
                out += char(std::stoi(hex, nullptr, 16));
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

}  // namespace

std::string newClaimToken() {
    std::array<unsigned char, 16> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    if (got < bytes.size()) {
        // No kernel randomness (never on Linux since 3.17): the C++ source instead.
        std::random_device rd;
        for (auto& b : bytes) b = static_cast<unsigned char>(rd());
    }
    std::string hex;
    for (const unsigned char b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

bool isRecordKey(std::string_view key) {
    if (key.empty() || key.size() > 200 || key.front() == '.') return false;
    for (const char c : key) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!plain) return false;
    }
    return true;
}

std::string serializedRecord(const HeldJob& h) {
    std::ostringstream out;
    out << "name=" << escaped(h.name) << "\nqueue=" << escaped(h.job.queue) << "\ntoken=" << h.token
        << "\nafter=" << h.after << "\n";
    if (h.handedOver()) out << "job=" << h.job.id << "\nuuid=" << escaped(h.job.uuid) << "\n";
    out << "device=" << h.file.device << "\ninode=" << h.file.inode << "\nsize=" << h.file.size
        << "\nmtime=" << h.file.mtimeNs << "\n";
    return out.str();
}

std::optional<HeldJob> parsedRecord(const std::string& key, const std::string& text) {
    std::map<std::string, std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!isRecordKey(key) || !v.count("name") || !v.count("queue") || !v.count("mtime"))
        return std::nullopt;
    try {
        HeldJob h;
        h.key = key;
        h.name = unescaped(v["name"]);
        h.token = v["token"];
        h.job.queue = unescaped(v["queue"]);
        h.job.uuid = unescaped(v["uuid"]);
        if (v.count("job")) h.job.id = std::stoi(v["job"]);
        if (v.count("after")) h.after = std::stoi(v["after"]);
        h.file.device = std::stoull(v["device"]);
        h.file.inode = std::stoull(v["inode"]);
        h.file.size = std::stoull(v["size"]);
        h.file.mtimeNs = std::stoll(v["mtime"]);
        // The name is where the file goes back to: never anything but a plain job file.
        if (!isJobFileName(h.name) || h.job.queue.empty() || h.job.id < 0 || h.after < 0)
            return std::nullopt;
        return h;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace plx
