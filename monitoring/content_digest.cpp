#include "monitoring/content_digest.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <array>
#include <cerrno>
#include <cstring>

namespace plx {

Result<std::string> sha256OfFile(int fd, const std::atomic<bool>* stop) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::array<char, std::size_t{64} * 1024> block{};
    off_t offset = 0;
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return makeError(ErrorKind::Aborted, "checksum abandoned: the station is closing");
        const ssize_t n = ::pread(fd, block.data(), block.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return makeError(ErrorKind::Io, std::string("cannot read the file for its checksum: ") +
                                                std::strerror(errno));
        if (n == 0) break;
        hash.addData(QByteArrayView(block.data(), n));
        offset += n;
    }
    return hash.result().toHex().toStdString();
}

}  // namespace plx
