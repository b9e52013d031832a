#include "monitoring/request_head.h"

#include <algorithm>

#include "common/text.h"

namespace plx {
namespace {

// RFC 9110 token characters: what a method or a header name may be made of.
bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

}  // namespace

RequestHeadScanner::Verdict RequestHeadScanner::feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (m_verdict != Verdict::Fine) break;
        if (++m_headBytes > kMaxHeadBytes) {
            m_verdict = Verdict::TooLarge;
            break;
        }
        if (c == '\n') {
            endLine();
            continue;
        }
        // Control characters have no place in a head (tab and the CR before LF aside).
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r') || c == 0x7f) {
            m_verdict = Verdict::Malformed;
            break;
        }
        m_line += c;
    }
    return m_verdict;
}

void RequestHeadScanner::endLine() {
    std::string_view line(m_line);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos) {
        m_verdict = Verdict::Malformed;
    } else if (line.empty()) {
        // An empty line before a request line is tolerated (RFC 9112, 2.2); after one it ends
        // the head, and since no body is taken the next byte starts the next request.
        if (m_lines > 0) ++m_heads;
        m_lines = 0;
        m_headBytes = 0;
    } else if (m_lines == 0) {
        checkRequestLine(line);
        ++m_lines;
    } else if (++m_lines > kMaxHeaderLines + 1) {
        m_verdict = Verdict::TooLarge;
    } else {
        checkHeaderLine(line);
    }
    m_line.clear();
}

void RequestHeadScanner::checkRequestLine(std::string_view line) {
    // METHOD SP origin-form SP HTTP/1.x
    const std::size_t first = line.find(' ');
    const std::size_t last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) {
        m_verdict = Verdict::Malformed;
        return;
    }
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, last - first - 1);
    const std::string_view version = line.substr(last + 1);
    if (!isToken(method) || target.empty() || target.front() != '/' ||
        target.find(' ') != std::string_view::npos ||
        (version != "HTTP/1.1" && version != "HTTP/1.0"))
        m_verdict = Verdict::Malformed;
}

void RequestHeadScanner::checkHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    // A line folded onto the one before (obsolete) or without a name is refused, as RFC 9112
    // allows; so is a name with blanks, which proxies read in different ways.
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
        m_verdict = Verdict::Malformed;
        return;
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (equalsIgnoringCase(name, "transfer-encoding")) {
        m_verdict = Verdict::HasBody;
    } else if (equalsIgnoringCase(name, "content-length")) {
        if (value.empty() ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            m_verdict = Verdict::Malformed;
        else if (value.find_first_not_of('0') != std::string_view::npos)
            m_verdict = Verdict::HasBody;
    }
}

}  // namespace plx
