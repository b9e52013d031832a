#include "tests/support/headless_browser.h"

#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace plx::test {

std::string dumpDom(const std::string& url, int budgetMs) {
    QTemporaryDir profile;
    QStringList args{QStringLiteral("--headless=new"),
                     QStringLiteral("--disable-gpu"),
                     QStringLiteral("--no-first-run"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"),
                     QStringLiteral("--disable-sync"),
                     QStringLiteral("--user-data-dir=") + profile.path(),
                     QStringLiteral("--virtual-time-budget=%1").arg(budgetMs),
                     QStringLiteral("--dump-dom"),
                     QString::fromStdString(url)};
    // Chromium refuses to run as root with its sandbox on.
    if (::geteuid() == 0) args.prepend(QStringLiteral("--no-sandbox"));
    QProcess browser;
    browser.setProcessChannelMode(QProcess::SeparateChannels);
    browser.start(QStringLiteral("chromium"), args);
    if (!browser.waitForStarted(10000)) return {};
    if (!browser.waitForFinished(60000)) {
        browser.kill();
        browser.waitForFinished(5000);
        return {};
    }
    return browser.readAllStandardOutput().toStdString();
}

}  // namespace plx::test
