#include "app/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <utility>

#include "app/file_list.h"
#include "app/i18n.h"
#include "app/log.h"
#include "app/message_box.h"
#include "printing/printer_choice.h"
#include "printing/queue_wording.h"

namespace plx {
namespace {

constexpr int kClientWidthTwips = 15825;
constexpr int kClientHeightTwips = 8415;
// The printer and folder names are long, the mode and offsets short.
constexpr int kLabelStretch[5] = {4, 4, 1, 1, 1};
// The file list holds a job name and a short reason: this many average characters.
constexpr int kFileListChars = 44;
constexpr int kPrinterDialogMember = 26;
constexpr int kPrinterDialogValue = 5;

QString fromStd(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

Form1::Form1(PrintSurface& surface, QtImageArea& area, QWidget* parent)
    : QWidget(parent), m_surface(surface), m_area(area) {
    setWindowTitle(QString::fromUtf8(kDesignCaption));
    layOut();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kPollIntervalMs);
    // Ten seconds means ten: a coarse timer may come up to half a second late.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    printerDialog = new PrinterDialog(this);
    printerDialog->setObjectName(QStringLiteral("printerDialog"));

    m_monitor = new StationMonitor(this);
    m_monitor->setSay([this](Severity severity, const Message& m) { report(severity, m); });
    m_monitor->setPictureSource([this] { return m_area.image(); });
    connect(m_monitor, &StationMonitor::filesChanged, this, &Form1::filesChanged);
    m_rowsLater = new QTimer(this);
    m_rowsLater->setSingleShot(true);
    m_rowsLater->setInterval(kRowsEveryMs);
    connect(m_rowsLater, &QTimer::timeout, this, &Form1::showRows);

    m_area.setChangedCallback([this] {
        Picture1->setPicture(m_area.image());
        m_monitor->pictureChanged(m_pictureName, int(m_area.width()), int(m_area.height()));
    });
    // A big picture takes a while to decode: the window keeps turning meanwhile (the poll
    // timer is off and the button disabled during a job), and closing ends the wait.
    m_area.setDecodeWait([this] {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return !m_stopping;
    });
    // So does a print server slow to answer; nothing that talks to it may start meanwhile.
    m_surface.setWaitPace([this] {
        const bool outer = !m_waitingForServer;
        m_waitingForServer = true;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (outer) m_waitingForServer = false;
        return !m_stopping;
    });
}

Form1::~Form1() {
    m_area.setChangedCallback({});
    m_area.setDecodeWait({});
    m_surface.setWaitPace({});
}

// The design's arrangement (the button at the top left, the five settings in a row along the
// top, the file list under the button, the picture to its right) at its design size, in
// layouts, so that a bigger window gives the picture and the long settings more room. The
// status line goes below it so it covers nothing.
void Form1::layOut() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    Command1 = new QPushButton(QStringLiteral("Command1"), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setMinimumSize(fromTwips(0, 0, 1215, 435).size());
    auto* labels = new QHBoxLayout;
    for (int k = 0; k < 5; ++k) {
        Label1[k] = new ElidedLabel(QStringLiteral("Label1"), client);
        Label1[k]->setObjectName(QStringLiteral("Label1_%1").arg(k));
        labels->addWidget(Label1[k], kLabelStretch[k]);
    }
    File1 = new QListWidget(client);
    File1->setObjectName(QStringLiteral("File1"));
    fitRowsToWidth(*File1);
    File1->setFixedWidth(File1->fontMetrics().averageCharWidth() * kFileListChars);
    Picture1 = new PictureBox(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    const QRect margin = fromTwips(120, 300, 120, 120);
    auto* grid = new QGridLayout(client);
    grid->setContentsMargins(margin.x(), margin.y(), margin.width(), margin.height());
    grid->addWidget(Command1, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addLayout(labels, 0, 1);
    grid->addWidget(File1, 1, 0);
    grid->addWidget(Picture1, 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    statusArea = new ElidedLabel(QString(), this);
    statusArea->setObjectName(QStringLiteral("statusArea"));
    statusArea->setFrameShape(QFrame::StyledPanel);
    statusArea->setText(translated(PLX_TR("Station", "Ready")));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(client, 1);
    layout->addWidget(statusArea);
    resize(fromTwips(0, 0, kClientWidthTwips, kClientHeightTwips).size() +
           QSize(0, statusArea->sizeHint().height()));
    // Laid out now, not only when first shown: a window that is never shown (the service)
    // still scales its picture to its box.
    layout->activate();
    grid->activate();
}

QRect Form1::fromTwips(int left, int top, int width, int height) const {
    const QScreen* s = screen();
    const double dpiX = s != nullptr ? s->logicalDotsPerInchX() : 96.0;
    const double dpiY = s != nullptr ? s->logicalDotsPerInchY() : 96.0;
    auto px = [](int twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); };
    return QRect(px(left, dpiX), px(top, dpiY), px(width, dpiX), px(height, dpiY));
}

bool Form1::Form_Load(const std::string& argumentString) {
    const std::optional<RunSettings> s = parseRunSettings(argumentString);
    if (!s) return false;
    loadSettings(*s);
    return true;
}

void Form1::loadSettings(const RunSettings& settings) {
    m_settings = settings;
    const std::string* fields[5] = {&m_settings.printer_name, &m_settings.watch_folder,
                                    &m_settings.print_mode, &m_settings.offset_x,
                                    &m_settings.offset_y};
    for (int k = 0; k < 5; ++k) Label1[k]->setText(fromStd(*fields[k]));
    m_monitor->settingsLoaded(m_settings);
    JobHost& host = *this;
    m_poller = std::make_unique<FolderPoller>(
        host,
        PollerSettings{m_settings.watch_folder, m_settings.print_mode, m_settings.printer_name,
                       isPrintingMode(m_settings.print_mode), Timer1->interval()});
    report(Severity::Info,
           Message(PLX_TR("Station", "watching \"%1\" in print mode \"%2\" for printer \"%3\""),
                   {m_settings.watch_folder, m_settings.print_mode, m_settings.printer_name}));
    const Message warning = printModeWarning(m_settings.print_mode);
    if (!warning.empty()) report(Severity::Warning, warning);
    m_poller->start();
    m_surface.idle();
    rowsUpToDate();
    Timer1->start();
}

// Thousands of jobs decided in one go (a big batch, the jobs followed again at start) would
// redraw the whole list once each: meanwhile it is redrawn at most every kRowsEveryMs, and
// brought up to date when the tick or the test print ends.
void Form1::filesChanged() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_rowsShownAt >= std::chrono::milliseconds(kRowsEveryMs)) {
        showRows();
    } else if (!m_rowsLater->isActive()) {
        m_rowsLater->start();
    }
}

void Form1::showRows() {
    m_rowsLater->stop();
    showFileRows(*File1, m_monitor->fileRows());
    m_rowsShownAt = std::chrono::steady_clock::now();
}

void Form1::rowsUpToDate() {
    if (m_rowsLater->isActive()) showRows();
}

void Form1::report(Severity severity, const Message& message) {
    reportAbout(severity, message, {});
}

void Form1::reportAbout(Severity severity, const Message& message, const EventSubject& about) {
    // The log stays English; the window speaks the operator's language.
    const std::string line = message.text();
    log::write(severity, line, log::EventFields{about.file, about.queue, about.job});
    m_lastEvent = message;
    refreshStatus();
    m_monitor->eventSaid(line);
    if (m_reportHook) m_reportHook(line);
}

PrintJob Form1::currentJob() const {
    return PrintJob{m_settings.printer_name, m_settings.offset_x, m_settings.offset_y, m_jobName};
}

Result<JobRef> Form1::lance_impression(const std::int16_t& qte) { return printInMode("1", qte); }

Result<JobRef> Form1::lance_impression_champagne(const std::int16_t& qte) {
    return printInMode("2", qte);
}

Result<JobRef> Form1::lance_impression_speed(const std::int16_t& qte) {
    return printInMode("3", qte);
}

void Form1::Timer1_Timer() { runTick(true); }

void Form1::runTick(bool follow) {
    // A tick never runs inside another tick, inside a test print's yields or while the print
    // server is being waited for.
    if (m_tickRunning || m_manualRunning || m_stopping || m_waitingForServer || !m_poller) {
        m_lookAgain = m_lookAgain || !follow;
        return;
    }
    m_tickRunning = true;
    Command1->setEnabled(false);
    m_poller->tick(follow);
    m_surface.idle();
    rowsUpToDate();
    Command1->setEnabled(true);
    m_tickRunning = false;
    if (m_watch != nullptr && !m_stopping) {
        bool changedWhileRead = false;
        m_watch->keep(m_poller->filesBeingWritten(&changedWhileRead));
        if (changedWhileRead) m_watch->lookIn(FolderWatch::kStillMs);
        if (std::exchange(m_lookAgain, false)) m_watch->lookIn(FolderWatch::kSettleMs);
    }
}

void Form1::watchFolderChanges() {
    if (m_watch != nullptr || !m_poller) return;
    m_watch = new FolderWatch(
        QString::fromStdString(watchFolderPath(m_settings.watch_folder).string()), this);
    connect(m_watch, &FolderWatch::lookWanted, this, [this] { runTick(false); });
}

void Form1::Command1_Click() {
    if (m_tickRunning || m_manualRunning || m_stopping || m_waitingForServer) return;
    m_manualRunning = true;
    const bool timerWasOn = Timer1->isActive();
    Timer1->stop();
    const Result<JobRef> job = printTestPage(m_surface, m_area, *this, "Impression de test");
    m_surface.idle();
    rowsUpToDate();
    if (timerWasOn && !m_stopping) Timer1->start();
    m_manualRunning = false;
    if (m_watch != nullptr && std::exchange(m_lookAgain, false))
        m_watch->lookIn(FolderWatch::kSettleMs);
    if (job) {
        testPrintDone(*job);
    } else if (job.error().kind != ErrorKind::Aborted) {
        report(Severity::Error,
               Message(PLX_TR("Station", "test print failed: %1"), {job.error().message}));
        MessageBox::show(this, translated(Message(PLX_TR("Station", "Test print failed: %1"),
                                                  {job.error().message})));
    }
}

void Form1::requestStop() {
    m_stopping = true;
    Timer1->stop();
    close();
    // Also leaves a message box's own event loop, which would otherwise keep the program up.
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    // A job in progress sees this at its next yield and is abandoned unsent.
    m_stopping = true;
    Timer1->stop();
    event->accept();
}

void Form1::setTimerEnabled(bool enabled) {
    if (enabled && !m_stopping)
        Timer1->start();
    else
        Timer1->stop();
}

void Form1::assignPrinterDialogSetting() {
    printerDialog->setMember(kPrinterDialogMember, kPrinterDialogValue);
}

void Form1::yieldToWindow() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void Form1::setProgressTitle(const std::string& text) {
    setWindowTitle(fromStd(text));
    // "120/943": the row reached, of the picture's height.
    int row = 0;
    int height = 0;
    const char* end = text.data() + text.size();
    const auto [slash, e1] = std::from_chars(text.data(), end, row);
    if (e1 == std::errc() && slash != end && *slash == '/' &&
        std::from_chars(slash + 1, end, height).ec == std::errc())
        m_monitor->progress(row, height);
}

Result<void> Form1::loadPicture(int fd, const std::string& name) {
    m_pictureName = name;
    return m_area.loadDescriptor(fd, name);
}

Result<JobRef> Form1::printJob(std::int16_t copies, const std::string& jobName,
                               const std::string& token) {
    m_jobName = jobName;
    m_lastEvent = Message(copies == 1 ? PLX_TR("Station", "printing %1 (%2 copy)")
                                      : PLX_TR("Station", "printing %1 (%2 copies)"),
                          {jobName, std::to_string(copies)});
    refreshStatus();
    // The token is this job's only: no other job (a test print) may carry it.
    m_surface.setJobToken(token);
    m_monitor->jobStarted(jobName, copies);
    Result<JobRef> job = printInMode(m_settings.print_mode, copies);
    m_monitor->jobEnded();
    m_surface.setJobToken({});
    return job;
}

Result<JobRef> Form1::printInMode(std::string_view mode, std::int16_t copies) {
    const ModeProcedure print = procedureForMode(mode);
    if (print == nullptr)
        return makeError(ErrorKind::Invalid,
                         "print mode \"" + std::string(mode) + "\" prints nothing");
    return print(m_surface, m_area, *this, currentJob(), copies);
}

Result<PrinterReadiness> Form1::printerReadiness() {
    const Result<PrinterCheck> check = checkPrinter(m_surface, m_settings.printer_name);
    if (!check) {
        m_monitor->printer({}, std::nullopt);
        return check.error();
    }
    PrinterReadiness r;
    r.queue = check->choice.current ? check->choice.current->queue : std::string();
    r.nameMatched = check->choice.matched;
    r.queues = queueList(check->choice.installed);
    const QueueState& q = check->state;
    m_monitor->printer(r.queue, q);
    r.blocked = q.blocksJobs();
    r.state = queueStateWords(q);
    return r;
}

Result<std::vector<JobStatus>> Form1::jobs(const std::string& queue, int fromId) {
    return m_surface.jobs(queue, fromId);
}

void Form1::showConditions(const std::vector<StationCondition>& conditions) {
    // The most pressing one is shown; the others wait behind it.
    m_condition = conditions.empty() ? Message() : conditions.front().text;
    refreshStatus();
    m_monitor->conditions(conditions);
}

void Form1::jobDecided(const JobEvent& event) { m_monitor->jobDecided(event); }

void Form1::refreshStatus() {
    // A standing condition (the printer stopped, say) stays in view until it clears.
    statusArea->setText(translated(m_condition.empty() ? m_lastEvent : m_condition));
}

void Form1::testPrintDone(const JobRef& job) {
    QString text = QString::fromUtf8(kPrintDoneMessage);
    if (!job.submitted()) {
        report(Severity::Info,
               PLX_TR("Station", "test print: nothing to print (no dot in the print colours)"));
        text += QStringLiteral("\n\n") +
                tr("Nothing was printed: the picture has no dot in the print colours.");
        MessageBox::show(this, text);
        return;
    }
    report(Severity::Info, Message(PLX_TR("Station",
                                          "test print sent to print queue \"%1\" as "
                                          "job %2"),
                                   {job.queue, job.text()}));
    if (m_poller) m_poller->follow("test print", job);
    // The fixed printer may be missing: then the page went to the current printer instead.
    const Result<PrinterInfo> used = m_surface.current();
    const std::string wanted = normalizedPrinterName(kTestPrinterName);
    if (used && normalizedPrinterName(used->queue) != wanted &&
        normalizedPrinterName(used->description) != wanted) {
        text += QStringLiteral("\n\n") +
                tr("Printed on \"%1\": \"%2\" is not installed.")
                    .arg(fromStd(job.queue), QString::fromUtf8(kTestPrinterName.data(),
                                                               qsizetype(kTestPrinterName.size())));
    }
    MessageBox::show(this, text);
}

void Form1::showListing(const std::vector<ListedFile>& files) {
    // The monitor merges the listing with the jobs at the printer and says when they changed.
    m_monitor->listing(files);
}

}  // namespace plx
