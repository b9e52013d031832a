#include "common/number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace plx {
namespace {

bool isSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Walks a text, skipping blanks, tabs and line feeds wherever they stand.
class Cursor {
  public:
    explicit Cursor(std::string_view t) : m_t(t) {}
    char peek() {
        while (m_i < m_t.size() && isSkipped(m_t[m_i])) ++m_i;
        return m_i < m_t.size() ? m_t[m_i] : '\0';
    }
    void next() { ++m_i; }

  private:
    std::string_view m_t;
    std::size_t m_i = 0;
};

double readRadixInteger(Cursor& cur, int radix) {
    double value = 0;
    for (;;) {
        const char c = cur.peek();
        int digit = -1;
        if (isDigit(c))
            digit = c - '0';
        else if (radix == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (radix == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0 || digit >= radix) break;
        value = value * radix + digit;
        cur.next();
    }
    return value;
}

}  // namespace

double leadingNumber(std::string_view text) {
    Cursor cur(text);
    if (cur.peek() == '&') {
        cur.next();
        const char p = cur.peek();
        if (p == 'H' || p == 'h') {
            cur.next();
            return readRadixInteger(cur, 16);
        }
        if (p == 'O' || p == 'o') {
            cur.next();
            return readRadixInteger(cur, 8);
        }
        return 0;
    }

    // Gather the number's characters without the skipped ones, then convert them in a
    // locale-independent way.
    std::string buf;
    if (cur.peek() == '+' || cur.peek() == '-') {
        if (cur.peek() == '-') buf.push_back('-');
        cur.next();
    }
    bool anyDigit = false;
    while (isDigit(cur.peek())) {
        buf.push_back(cur.peek());
        anyDigit = true;
        cur.next();
    }
    if (cur.peek() == '.') {
        cur.next();
        buf.push_back('.');
        while (isDigit(cur.peek())) {
            buf.push_back(cur.peek());
            anyDigit = true;
            cur.next();
        }
    }
    if (!anyDigit) return 0;
    bool exponentNegative = false;
    const char e = cur.peek();
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        cur.next();
        std::string exp = "e";
        if (cur.peek() == '+' || cur.peek() == '-') {
            exponentNegative = cur.peek() == '-';
            if (exponentNegative) exp.push_back('-');
            cur.next();
        }
        bool expDigit = false;
        while (isDigit(cur.peek())) {
            exp.push_back(cur.peek());
            expDigit = true;
            cur.next();
        }
        if (expDigit) buf += exp;  // an exponent without digits is not part of the number
    }
    if (buf.size() == 2 && buf == "-.") return 0;

    double value = 0;
    const char* first = buf.data();
    const char* last = buf.data() + buf.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        const bool negative = buf.front() == '-';
        if (exponentNegative) return negative ? -0.0 : 0.0;
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    if (ec != std::errc()) return 0;
    return value;
}

namespace {

double roundHalfEven(double v) {
    const double f = std::floor(v);
    const double diff = v - f;
    if (diff > 0.5) return f + 1;
    if (diff < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

template <typename I>
Result<I> toInteger(double value, const char* typeName) {
    if (!std::isfinite(value)) {
        return makeError(ErrorKind::OutOfRange,
                         std::string("the value does not fit a ") + typeName + " integer");
    }
    const double r = roundHalfEven(value);
    if (r < double(std::numeric_limits<I>::min()) || r > double(std::numeric_limits<I>::max())) {
        return makeError(ErrorKind::OutOfRange,
                         std::to_string(value) + " does not fit a " + typeName + " integer");
    }
    return static_cast<I>(r);
}

}  // namespace

Result<std::int16_t> toInt16(double value) { return toInteger<std::int16_t>(value, "16-bit"); }
Result<std::int32_t> toInt32(double value) { return toInteger<std::int32_t>(value, "32-bit"); }

}  // namespace plx
