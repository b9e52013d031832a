#include "picture/qt_image_area.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QIODevice>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "picture/bmp_check.h"
#include "picture/bmp_rgb24.h"

namespace plx {

namespace {

// Enough for kMaxPicturePixels at 4 bytes a pixel, the deepest format the BMP reader produces.
// Qt's default (128 MB) would refuse a 1200-dpi 4 x 6 inch label.
constexpr int kAllocationLimitMb = int((kMaxPicturePixels * 4 + (1 << 20) - 1) >> 20) + 1;

// errno after open(), fstat() or a read, without the path.
Error systemError(int err) {
    const ErrorKind kind = (err == ENOENT || err == ENOTDIR) ? ErrorKind::NotFound : ErrorKind::Io;
    return makeError(kind, std::strerror(err));
}

// The job file, remembering whether a read failed: Qt's decoders report a read error as bad
// data, and QFile clears its own error state at the next read. Once `cancel` is set every read
// fails, which ends a decoding that cannot be stopped otherwise.
class JobFile : public QFile {
  public:
    bool readFailed() const { return !m_readError.empty(); }
    const std::string& readError() const { return m_readError; }
    void setCancel(const std::atomic<bool>* cancel) { m_cancel = cancel; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed)) {
            if (m_readError.empty()) m_readError = "decoding abandoned";
            return -1;
        }
        const qint64 n = QFile::readData(data, maxSize);
        if (n < 0 && m_readError.empty())
            m_readError = "read error: " + errorString().toStdString();
        return n;
    }

  private:
    std::string m_readError;
    const std::atomic<bool>* m_cancel = nullptr;
};

// The original file seen through a different header: `prefix`, then the file from `skip` on.
// Lets Qt read header layouts it does not know without copying the pixel data.
class SplicedDevice : public QIODevice {
  public:
    SplicedDevice(QByteArray prefix, QIODevice* file, qint64 skip)
        : m_prefix(std::move(prefix)), m_file(file), m_skip(skip) {}
    qint64 size() const override { return m_prefix.size() + m_file->size() - m_skip; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        qint64 pos = this->pos(), done = 0;
        if (pos < m_prefix.size()) {
            done = std::min(maxSize, m_prefix.size() - pos);
            std::memcpy(data, m_prefix.constData() + pos, std::size_t(done));
            pos += done;
        }
        if (done < maxSize) {
            if (!m_file->seek(m_skip + pos - m_prefix.size())) return done > 0 ? done : -1;
            const qint64 n = m_file->read(data + done, maxSize - done);
            if (n < 0) return done > 0 ? done : -1;
            done += n;
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray m_prefix;
    QIODevice* m_file;
    qint64 m_skip;
};

// A channel of n bits expanded to 8 by repeating its bits, so that full scale stays full scale
// (5-bit 31 is 255, not 248 as Qt's reader leaves it).
std::uint8_t expandChannel(unsigned v, int n) {
    unsigned out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << n) | v;
        filled += n;
    }
    return std::uint8_t(out >> (filled - 8));
}

// Qt reads an n-bit channel (n < 8) as v << (8 - n); rebuild the full-scale value in place.
void expandNarrowChannels(QImage& image, const BmpInfo& info) {
    const std::uint32_t masks[3] = {info.redMask, info.greenMask, info.blueMask};
    std::array<std::array<std::uint8_t, 256>, 3> lut{};
    bool needed = false;
    for (int c = 0; c < 3; ++c) {
        const int n = std::popcount(masks[c]);
        for (unsigned v = 0; v < 256; ++v)
            lut[c][v] = (n > 0 && n < 8) ? expandChannel(v >> (8 - n), n) : std::uint8_t(v);
        needed = needed || (n > 0 && n < 8);
    }
    if (!needed) return;
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.scanLine(y);  // R, G, B, X in memory
        for (int x = 0; x < image.width(); ++x, p += 4) {
            p[0] = lut[0][p[0]];
            p[1] = lut[1][p[1]];
            p[2] = lut[2][p[2]];
        }
    }
}

// A palette index past the palette has no colour; Qt would make one up.
bool indicesWithinPalette(const QImage& image) {
    const int colors = image.colorCount();
    if (image.format() == QImage::Format_Indexed8) {
        if (colors >= 256) return true;
        for (int y = 0; y < image.height(); ++y) {
            const std::uint8_t* row = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                if (row[x] >= colors) return false;
        }
        return true;
    }
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
        if (colors >= 2) return true;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelIndex(x, y) >= colors) return false;
    }
    return true;
}

// A JPEG ends with its end-of-image marker, a PNG with its IEND chunk, a GIF with its trailer
// byte: without it the file is not complete yet (or is empty).
Result<void> checkEndMarker(const QByteArray& format, BmpByteSource& file) {
    static const std::uint8_t jpeg[] = {0xFF, 0xD9};
    static const std::uint8_t png[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    static const std::uint8_t gif[] = {0x3B};
    std::span<const std::uint8_t> marker;
    if (format == "jpeg" || format == "jpg")
        marker = jpeg;
    else if (format == "png")
        marker = png;
    else if (format == "gif")
        marker = gif;
    else
        return {};
    std::array<std::uint8_t, 8> tail{};
    const std::uint64_t size = file.size();
    const std::string what = "the " + format.toStdString() + " file ";
    if (size < marker.size())
        return makeError(ErrorKind::Incomplete, what + "ends before its end marker");
    const std::int64_t n = file.read(size - marker.size(), std::span(tail.data(), marker.size()));
    if (n < 0) return systemError(errno);
    if (n != std::int64_t(marker.size()) || !std::equal(marker.begin(), marker.end(), tail.begin()))
        return makeError(ErrorKind::Incomplete,
                         what + "does not end with its end marker (still being written?)");
    return {};
}

Error invalid(std::string why) { return makeError(ErrorKind::Invalid, std::move(why)); }

// An open job file: the descriptor is all that goes to the decoding thread.
class OpenedFile {
  public:
    OpenedFile(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    OpenedFile(OpenedFile&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size) {}
    OpenedFile& operator=(OpenedFile&&) = delete;
    ~OpenedFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }
    std::uint64_t size() const { return m_size; }
    // The descriptor, now owned by the caller.
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd;
    std::uint64_t m_size;
};

// Opens the file for reading. O_NONBLOCK: a FIFO that took a job file's place must not wait
// for a writer. Only a regular file has a picture to read; anything else is a file that
// cannot be read as one, not a bad picture.
Result<OpenedFile> openedFrom(int fd);

Result<OpenedFile> openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return systemError(errno);
    return openedFrom(fd);
}

// Takes `fd` over: it is closed with the OpenedFile, or at once on failure.
Result<OpenedFile> openedFrom(int fd) {
    OpenedFile opened(fd, 0);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return systemError(errno);
    if (S_ISDIR(st.st_mode)) return makeError(ErrorKind::Io, "is a directory, not a picture");
    if (!S_ISREG(st.st_mode)) return makeError(ErrorKind::Io, "is not a regular file");
    return OpenedFile(opened.release(), std::uint64_t(st.st_size));
}

// What Qt reads: the file itself, or for a BMP header layout Qt misreads, a plain header
// followed by the file's palette and pixels.
struct PictureSource {
    bool bmp = false;
    BmpInfo info;  // when bmp
    std::unique_ptr<SplicedDevice> spliced;
    QIODevice* device = nullptr;
};

Result<PictureSource> prepareSource(QFile& file, BmpByteSource& bytes) {
    std::array<std::uint8_t, 2> sig{};
    const std::int64_t sigLen = bytes.read(0, sig);
    if (sigLen < 0) return systemError(errno);
    PictureSource source;
    source.device = &file;
    source.bmp = looksLikeBmp(std::span(sig.data(), std::size_t(sigLen)));
    if (!source.bmp) return source;
    auto checked = checkBmp(bytes);
    if (!checked) return checked.error();
    source.info = *checked;
    if (source.info.needsPlainHeader) {
        std::uint64_t skip = 0;
        const std::vector<std::uint8_t> prefix = normalizedBmpPrefix(source.info, &skip);
        source.spliced = std::make_unique<SplicedDevice>(
            QByteArray(reinterpret_cast<const char*>(prefix.data()), qsizetype(prefix.size())),
            &file, qint64(skip));
        source.spliced->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        source.device = source.spliced.get();
    }
    return source;
}

// A picture in another format than BMP: one Qt reads, within the pixel limit, and complete.
Result<void> checkOtherFormat(QImageReader& reader, const JobFile& file, BmpByteSource& bytes) {
    if (!reader.canRead()) {
        if (file.readFailed()) return makeError(ErrorKind::Io, file.readError());
        return invalid("not a picture format this station reads");
    }
    const QSize size = reader.size();
    if (size.isValid() && std::int64_t(size.width()) * size.height() > kMaxPicturePixels)
        return invalid(std::to_string(size.width()) + " x " + std::to_string(size.height()) +
                       " pixels is more than the " + std::to_string(kMaxPicturePixels) +
                       "-pixel limit");
    // Qt decodes a JPEG cut short with the missing part grey and reports success; a file
    // still being written must wait instead. These formats end with a fixed marker.
    return checkEndMarker(reader.format(), bytes);
}

// Decodes, then refuses what the decoder let through but has no colour or size of its own.
Result<QImage> decode(QImageReader& reader, const JobFile& file, const PictureSource& source) {
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        if (file.readFailed()) return makeError(ErrorKind::Io, file.readError());
        return invalid("cannot be decoded: " + reader.errorString().toStdString());
    }
    if (std::int64_t(image.width()) * image.height() > kMaxPicturePixels)
        return invalid("more than the " + std::to_string(kMaxPicturePixels) + "-pixel limit");
    if (source.bmp && (image.width() != source.info.width || image.height() != source.info.height))
        return invalid("decoded to a different size than its header declares");
    if (!indicesWithinPalette(image))
        return invalid("pixels use colour indices past the end of the palette");
    return image;
}

// A decoded picture in the form picture() reads in place.
}  // namespace

struct Decoded {
    QImage image;  // Format_RGBX8888, Format_RGB888, or Format_Indexed8 with `palette`
    std::array<ColorValue, 256> palette{};
};

namespace {

// An uncompressed 24-bit BMP is read here, three bytes a pixel (Qt's reader would make four).
Result<Decoded> readRgb24(BmpByteSource& bytes, const BmpInfo& info,
                          const std::atomic<bool>* cancel) {
    QImage image(info.width, info.height, QImage::Format_RGB888);
    if (image.isNull()) return makeError(ErrorKind::Io, "not enough memory for the picture");
    if (auto read = readBmpRgb24(bytes, info, image.bits(), image.bytesPerLine(), cancel); !read)
        return read.error();
    return Decoded{std::move(image), {}};
}

// A picture of one byte a pixel stays so: its 256 possible values go through the very
// conversion its pixels would (so every pixel reads as before), and the image's own colour
// table becomes those colours, opaque, so that the window shows what is printed.
Result<Decoded> toIndexed(QImage image) {
    Decoded d;
    const bool gray = image.format() == QImage::Format_Grayscale8;
    QImage levels(gray ? 256 : std::max(image.colorCount(), 1), 1, image.format());
    if (!gray) levels.setColorTable(image.colorTable());
    for (int i = 0; i < levels.width(); ++i) levels.scanLine(0)[i] = std::uint8_t(i);
    levels.convertTo(QImage::Format_RGBX8888);
    if (levels.isNull()) return invalid("cannot be converted to RGB (out of memory?)");
    d.palette.fill(0xFFFFFF);  // never read: indices past the palette are refused
    QList<QRgb> table(levels.width());
    const auto* words = reinterpret_cast<const std::uint32_t*>(levels.constScanLine(0));
    for (int i = 0; i < levels.width(); ++i) {
        const ColorValue c = words[i] & 0x00FFFFFFu;
        d.palette[std::size_t(i)] = c;
        table[i] = qRgb(redOf(c), greenOf(c), blueOf(c));
    }
    if (gray) image.reinterpretAsFormat(QImage::Format_Indexed8);
    image.setColorTable(table);  // the only reference yet: no copy of the pixels
    d.image = std::move(image);
    return d;
}

// The forms picture() reads in place (the smallest that keeps the colours), with narrow
// channels at full scale.
Result<Decoded> toStationForm(QImage image, const PictureSource& source) {
    // One bit a pixel: one byte a pixel is still a quarter of the 32-bit form.
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB)
        image.convertTo(QImage::Format_Indexed8);
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Grayscale8)
        return toIndexed(std::move(image));
    if (image.format() == QImage::Format_RGB888 && !source.bmp)
        return Decoded{std::move(image), {}};
    // Alpha is ignored: keep the stored colours rather than blending them with anything.
    if (image.format() == QImage::Format_ARGB32) image.reinterpretAsFormat(QImage::Format_RGB32);
    if (image.format() == QImage::Format_RGBA8888)
        image.reinterpretAsFormat(QImage::Format_RGBX8888);
    image.convertTo(QImage::Format_RGBX8888);  // in place where the depths match
    if (image.isNull() || image.format() != QImage::Format_RGBX8888)
        return invalid("cannot be converted to RGB (out of memory?)");
    if (source.bmp && source.info.bitCount >= 16) expandNarrowChannels(image, source.info);
    return Decoded{std::move(image), {}};
}

// Decodes an opened job file. `cancel` (may be null) ends the decoding early with an error.
Result<Decoded> readPicture(OpenedFile opened, const std::atomic<bool>* cancel) {
    JobFile file;
    const int fd = opened.fd();
    if (!file.open(opened.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return makeError(ErrorKind::Io, "cannot open: " + file.errorString().toStdString());
    }
    file.setCancel(cancel);
    BmpFdSource bytes(fd, opened.size());
    Result<PictureSource> source = prepareSource(file, bytes);
    if (!source) return source.error();
    if (source->bmp && isPlainRgb24(source->info)) return readRgb24(bytes, source->info, cancel);

    QImageReader reader(source->device, source->bmp ? QByteArray("bmp") : QByteArray());
    if (!source->bmp) {
        if (auto checked = checkOtherFormat(reader, file, bytes); !checked) return checked.error();
    }
    Result<QImage> image = decode(reader, file, *source);
    if (!image) return image.error();
    file.close();
    return toStationForm(std::move(image).value(), *source);
}

// One decoding on a thread of its own, and how it ended.
struct Decoding {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    Result<Decoded> result = makeError(ErrorKind::Io, "not decoded");
};

// Decodes on a thread of its own while `wait` runs the calling thread's events; the end of
// the decoding wakes it. `wait` returning false abandons the decoding.
Result<Decoded> decodeWhileWaiting(OpenedFile opened, const std::function<bool()>& wait) {
    auto decoding = std::make_shared<Decoding>();
    std::thread worker([decoding, opened = std::move(opened)]() mutable {
        try {
            decoding->result = readPicture(std::move(opened), &decoding->cancel);
        } catch (const std::exception& e) {
            // Out of memory, say: not the file's fault, so it is tried again.
            decoding->result = makeError(ErrorKind::Io, std::string("cannot decode: ") + e.what());
        }
        decoding->done.store(true, std::memory_order_release);
        // An empty call is event enough to wake the waiting event loop.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] {}, Qt::QueuedConnection);
    });
    bool abandoned = false;
    while (!decoding->done.load(std::memory_order_acquire)) {
        if (!wait()) {
            decoding->cancel.store(true, std::memory_order_relaxed);
            abandoned = true;
            break;
        }
    }
    worker.join();  // quick once cancelled: every read then fails
    if (abandoned)
        return makeError(ErrorKind::Aborted, "loading abandoned: the station is closing");
    return std::move(decoding->result);
}

// Decodes on this thread, or on a thread of its own while `wait` runs this one's events.
Result<Decoded> decodeOpened(Result<OpenedFile> opened, const std::function<bool()>& wait) {
    if (!opened) return opened.error();
    return wait ? decodeWhileWaiting(std::move(opened).value(), wait)
                : readPicture(std::move(opened).value(), nullptr);
}

}  // namespace

QtImageArea::QtImageArea() {
    QImageReader::setAllocationLimit(kAllocationLimitMb);  // process-wide in Qt 6
}

Result<void> QtImageArea::load(const std::string& path) {
    return adopt(decodeOpened(openRegularFile(path), m_decodeWait), path);
}

Result<void> QtImageArea::loadDescriptor(int fd, const std::string& name) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return makeError(ErrorKind::Io, name + ": " + std::strerror(errno));
    return adopt(decodeOpened(openedFrom(own), m_decodeWait), name);
}

Result<void> QtImageArea::adopt(Result<Decoded> decoded, const std::string& name) {
    if (!decoded) return makeError(decoded.error().kind, name + ": " + decoded.error().message);
    Decoded d = std::move(decoded).value();
    m_image = std::move(d.image);
    m_palette = d.palette;
    if (m_changed) m_changed();
    return {};
}

void QtImageArea::clear() {
    m_image = QImage();
    if (m_changed) m_changed();
}

PictureView QtImageArea::picture() const {
    if (m_image.isNull()) return {};
    if (m_image.format() == QImage::Format_Indexed8)
        return PictureView::indexed8(m_image.constBits(), m_image.width(), m_image.height(),
                                     m_image.bytesPerLine(), m_palette.data());
    if (m_image.format() == QImage::Format_RGB888)
        return PictureView::rgb24(m_image.constBits(), m_image.width(), m_image.height(),
                                  m_image.bytesPerLine());
    return PictureView{reinterpret_cast<const std::uint32_t*>(m_image.constBits()), m_image.width(),
                       m_image.height(), m_image.bytesPerLine() / 4};
}

ColorValue QtImageArea::pixel(int x, int y) const { return picture().at(x, y); }

}  // namespace plx
