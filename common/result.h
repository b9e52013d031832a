#pragma once
// Errors that carry their message, returned instead of thrown so that one bad job
// never ends an unattended run.

#include <string>
#include <utility>
#include <variant>

namespace plx {

enum class ErrorKind {
    Invalid,      // the input is not what it claims to be
    Incomplete,   // the input is cut short: maybe still being written
    NotFound,     // the input is gone
    OutOfRange,   // a number does not fit where it must go
    PrintServer,  // the print server or the queue failed: not the job's fault
    Unanswered,   // a job went out whole but no answer came back: the server may have it
    Aborted,      // the station is shutting down
    Io,           // the file system refused
};

struct Error {
    ErrorKind kind = ErrorKind::Invalid;
    std::string message;
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value)
        : m_v(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    explicit operator bool() const { return m_v.index() == 0; }
    bool ok() const { return m_v.index() == 0; }
    const T& value() const& { return std::get<0>(m_v); }
    T& value() & { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(m_v); }

  private:
    std::variant<T, Error> m_v;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_ok(false) {}  // NOLINT

    explicit operator bool() const { return m_ok; }
    bool ok() const { return m_ok; }
    const Error& error() const { return m_error; }

  private:
    Error m_error;
    bool m_ok = true;
};

inline Error makeError(ErrorKind kind, std::string message) {
    return Error{kind, std::move(message)};
}

}  // namespace plx
