#include "tests/support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>
#include <atomic>
#include <thread>

namespace plx::test {

void whileServing(const std::function<void()>& client) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        client();
        done = true;
    });
    // The client gives up on its own; this only bounds a client that hangs.
    (void)QTest::qWaitFor([&] { return done.load(); }, 60000);
    t.join();
}

int dial(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;  // the server may close on a refused request mid-way
        done += std::size_t(n);
    }
}

std::string receiveAll(int fd, int waitMs) {
    timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, std::size_t(n));
    return got;
}

std::string roundTrip(int port, const std::string& request, int waitMs) {
    std::string got;
    whileServing([&] {
        const int fd = dial(port);
        if (fd < 0) return;
        sendAll(fd, request);
        got = receiveAll(fd, waitMs);
        ::close(fd);
    });
    return got;
}

int statusOf(const std::string& response) {
    if (response.rfind("HTTP/1.1 ", 0) != 0 || response.size() < 12) return 0;
    return std::atoi(response.substr(9, 3).c_str());
}

std::string bodyOf(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    const std::size_t length = response.find("Content-Length: ");
    if (end == std::string::npos || length == std::string::npos || length > end) return {};
    const std::size_t n = std::stoul(response.substr(length + 16));
    return response.substr(end + 4, n);
}

}  // namespace plx::test
