#pragma once
// A stand-in for systemd's notification socket: bound by the test at a path it passes to the
// station as NOTIFY_SOCKET, it collects the datagrams (READY=1, STATUS=...) the station sends.

#include <string>
#include <vector>

namespace plx::test {

class NotifySocket {
  public:
    explicit NotifySocket(std::string path);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& path() const { return m_path; }
    bool bound() const { return m_fd >= 0; }
    // Every datagram received so far, oldest first.
    std::vector<std::string> received();
    // Waits until a "STATUS=" datagram containing every one of `fragments` (and none of
    // `absent`) arrives; returns its text after "STATUS=", empty when none came in time.
    std::string waitForStatus(const std::vector<std::string>& fragments, int timeoutMs,
                              const std::vector<std::string>& absent = {});

  private:
    std::string m_path;
    int m_fd = -1;
    std::vector<std::string> m_got;
};

}  // namespace plx::test
