#include "monitoring/time_text.h"

#include <QDateTime>
#include <charconv>
#include <cstdio>

namespace plx {

std::int64_t wallNowMs() { return QDateTime::currentMSecsSinceEpoch(); }

std::string isoTime(std::int64_t epochMs) {
    if (epochMs == 0) return {};
    // As a fixed offset, so that the text carries it ("+01:00") and reads back exactly.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(epochMs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

std::int64_t parseIsoTime(const std::string& text) {
    if (text.empty()) return 0;
    const QDateTime t = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

std::string clockTime(std::int64_t epochMs, std::int64_t nowMs) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(epochMs);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    const QString format =
        t.date() == now.date() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm");
    return t.toString(format).toStdString();
}

std::string spanText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char out[48];
    if (seconds < 60) {
        std::snprintf(out, sizeof out, "%lld s", static_cast<long long>(seconds));
    } else if (seconds < 3600) {
        std::snprintf(out, sizeof out, "%lld min", static_cast<long long>(seconds / 60));
    } else if (seconds < 86400) {
        std::snprintf(out, sizeof out, "%lld h %02lld min", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60));
    } else {
        std::snprintf(out, sizeof out, "%lld d %lld h", static_cast<long long>(seconds / 86400),
                      static_cast<long long>(seconds % 86400 / 3600));
    }
    return out;
}

Result<std::int64_t> parseSince(const std::string& when, std::int64_t nowMs) {
    const auto bad = [&when] {
        return makeError(ErrorKind::Invalid,
                         "cannot read \"" + when +
                             "\" as a time: give a date (2026-12-08), a date and time "
                             "(2026-12-08T10:00) or a span back from now (30m, 2h, 3d, 1w)");
    };
    if (when.empty()) return bad();
    std::int64_t count = 0;
    const char* begin = when.data();
    const char* end = begin + when.size();
    const auto [rest, ec] = std::from_chars(begin, end, count);
    if (ec == std::errc() && rest + 1 == end && count >= 0 && count <= 100000) {
        std::int64_t unit = 0;
        switch (*rest) {
            case 's':
                unit = 1;
                break;
            case 'm':
                unit = 60;
                break;
            case 'h':
                unit = 3600;
                break;
            case 'd':
                unit = 86400;
                break;
            case 'w':
                unit = std::int64_t{7} * 86400;
                break;
            default:
                return bad();
        }
        return nowMs - count * unit * 1000;
    }
    QString text = QString::fromStdString(when);
    if (text.size() > 10 && text[10] == QLatin1Char(' ')) text[10] = QLatin1Char('T');
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid()) return day.startOfDay().toMSecsSinceEpoch();
    const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) return bad();
    return t.toMSecsSinceEpoch();
}

}  // namespace plx
