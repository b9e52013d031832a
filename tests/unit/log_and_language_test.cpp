// The log (journald priorities or plain stamped lines, Qt's messages with their category) and
// the window's language (French for a French locale; the log and the fixed texts stay).
#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>
#include <QLoggingCategory>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/i18n.h"
#include "app/log.h"
#include "tests/support/station_rig.h"

using namespace plx;

namespace {

// Everything the process writes to standard error while `f` runs.
template <typename F>
std::string captureStderr(F f) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[1]);
    f();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, std::size_t(n));
    ::close(fds[0]);
    return out;
}

Q_LOGGING_CATEGORY(lcTest, "plx.test")

}  // namespace

TEST(Log, JournalGetsPrioritiesAndPeopleGetStampedLines) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fds[1], &st), 0);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
    EXPECT_EQ(log::detectStyle(fds[1]), log::Style::Journal);
    EXPECT_EQ(log::detectStyle(STDOUT_FILENO), log::Style::Plain) << "another file";
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_EQ(log::detectStyle(fds[1]), log::Style::Plain);
    ::close(fds[0]);
    ::close(fds[1]);

    // Every line of a text carries the priority: journald reads it line by line.
    EXPECT_EQ(log::formatLines(log::Style::Journal, log::priorityOf(Severity::Error), {},
                               "a.bmp: gone\nsecond", "stamp"),
              "<3>a.bmp: gone\n<3>second\n");
    EXPECT_EQ(log::formatLines(log::Style::Journal, log::priorityOf(Severity::Notice), "qt.qpa",
                               "x", "stamp"),
              "<5>qt.qpa: x\n");
    EXPECT_EQ(log::formatLines(log::Style::Plain, log::priorityOf(Severity::Warning), {}, "w",
                               "2026-01-02T03:04:05.006"),
              "2026-01-02T03:04:05.006 warning w\n");
    EXPECT_EQ(log::priorityOf(Severity::Info), 6);
}

TEST(Log, QtMessagesComeThroughWithTheirCategoryAndTheHarmlessOnesNot) {
    const std::string out = captureStderr([] {
        log::install();
        qCWarning(lcTest) << "a warning of Qt's";
        qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
        qWarning("This plugin does not support propagateSizeHints()");
        qWarning("something else");
        log::write(Severity::Error, "station error");
    });
    qInstallMessageHandler(nullptr);
    EXPECT_NE(out.find(" warning plx.test: a warning of Qt's\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" warning qt: something else\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" error station error\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("XDG_RUNTIME_DIR"), std::string::npos) << out;
    EXPECT_EQ(out.find("propagateSizeHints"), std::string::npos) << out;
}

TEST(Language, FrenchLocaleTranslatesTheWindowButNotTheLogNorTheFixedTexts) {
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    ASSERT_TRUE(installTranslations());
    test::StationRig r("4");
    r.drop("a_b_1.bmp");
    r.tick();
    const Message waiting(
        PLX_TR("Station", "%1: %2; the file stays in the folder"),
        {std::string("lot_x_1.bmp"), Message(PLX_TR("Station", "waiting for the print server"))});
    r.form.report(Severity::Warning, waiting);
    const QString status = r.form.statusArea->text();
    const QString item = r.form.File1->item(0)->text();
    const QString caption = r.form.windowTitle(), button = r.form.Command1->text();
    // The station's own words about a stopped queue in French; the queue's own as CUPS says them.
    test::StationRig stopped;
    stopped.surface.state = QueueState{true, true, "out of labels", {"paused"}};
    stopped.drop("a_b_1.bmp");
    stopped.tick();
    const QString stoppedStatus = stopped.form.statusArea->text();
    const QString stoppedItem = stopped.form.File1->item(0)->text();

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    installTranslations();
    EXPECT_EQ(translated(waiting).toStdString(), waiting.text());

    EXPECT_EQ(
        status.toStdString(),
        "lot_x_1.bmp : en attente du serveur d'impression ; le fichier reste dans le dossier");
    EXPECT_TRUE(item.startsWith(QStringLiteral("a_b_1.bmp  —  affiché seulement")))
        << item.toStdString();
    EXPECT_EQ(stoppedStatus.toStdString(),
              "En attente de l'imprimante : la file d'impression « QLS-4100-Xe » est arrêtée : "
              "out of labels (paused)");
    EXPECT_EQ(stoppedItem.toStdString(),
              "a_b_1.bmp  —  en attente : la file d'impression « QLS-4100-Xe » est arrêtée : out "
              "of labels (paused)");
    EXPECT_EQ(r.reports.back(), waiting.text()) << "the log stays English";
    EXPECT_EQ(caption, QStringLiteral("Vemorin Plixagram Printing"));
    EXPECT_EQ(button, QStringLiteral("Command1"));
}
