#include "tests/support/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace plx::test {

NotifySocket::NotifySocket(std::string path) : m_path(std::move(path)) {
    ::unlink(m_path.c_str());
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, m_path.c_str(), sizeof addr.sun_path - 1);
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

NotifySocket::~NotifySocket() {
    if (m_fd >= 0) ::close(m_fd);
    ::unlink(m_path.c_str());
}

std::vector<std::string> NotifySocket::received() {
    char buf[4096];
    for (ssize_t n; m_fd >= 0 && (n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
        m_got.emplace_back(buf, std::size_t(n));
    return m_got;
}

std::string NotifySocket::waitForStatus(const std::vector<std::string>& fragments, int timeoutMs,
                                        const std::vector<std::string>& absent) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t looked = 0;
    for (;;) {
        const std::vector<std::string> got = received();
        for (; looked < got.size(); ++looked) {
            const std::string& d = got[looked];
            if (d.rfind("STATUS=", 0) != 0) continue;
            bool match = true;
            for (const std::string& f : fragments) match = match && d.find(f) != std::string::npos;
            for (const std::string& f : absent) match = match && d.find(f) == std::string::npos;
            if (match) return d.substr(7);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || m_fd < 0) return {};
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left, 200)));
    }
}

}  // namespace plx::test
