#pragma once
// The station's one window: settings along the top, pending job files, the picture being
// printed, progress in the title bar, and the status line for events.

#include <QLabel>
#include <QListWidget>
#include <QMap>
#include <QPushButton>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/elided_label.h"
#include "app/folder_watch.h"
#include "app/picture_box.h"
#include "app/run_settings.h"
#include "app/station_monitor.h"
#include "intake/folder_poller.h"
#include "picture/qt_image_area.h"
#include "printing/print_modes.h"
#include "printing/print_procedures.h"
#include "printing/print_surface.h"

namespace plx {

// Stands for the printer common dialog: it receives settings by member number and keeps them.
class PrinterDialog : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    void setMember(int member, const QVariant& value) { m_members[member] = value; }
    QVariant member(int member) const { return m_members.value(member); }

  private:
    QMap<int, QVariant> m_members;
};

inline constexpr int kPollIntervalMs = 10000;
inline constexpr const char* kDesignCaption = "Vemorin Plixagram Printing";
inline constexpr const char* kPrintDoneMessage = "Impression Terminée !";

// The window keeps the fixed names it has by design: Form1, Form_Load, Timer1_Timer,
// Command1_Click, the controls Command1, Label1, File1, Picture1, Timer1 and printerDialog, the
// print procedures lance_impression* and their copy count qte. They are the one exception to
// the naming conventions (.clang-tidy ignores exactly these); code below the window should
// not borrow them.
class Form1 : public QWidget, private PrintHost, private JobHost {
    Q_OBJECT
  public:
    Form1(PrintSurface& surface, QtImageArea& area, QWidget* parent = nullptr);
    ~Form1() override;

    // Splits the argument string into the run settings and shows them. False, changing
    // nothing, when it has fewer than five fields.
    bool Form_Load(const std::string& argumentString);
    void loadSettings(const RunSettings& settings);
    const RunSettings& runSettings() const { return m_settings; }

    // The print procedures of the three modes; each returns the print system's job id.
    Result<JobRef> lance_impression(const std::int16_t& qte);
    Result<JobRef> lance_impression_champagne(const std::int16_t& qte);
    Result<JobRef> lance_impression_speed(const std::int16_t& qte);

    void Timer1_Timer();
    void Command1_Click();

    // Ends a running job without sending it and closes the window (close button, SIGTERM).
    void requestStop();
    bool jobRunning() const { return m_tickRunning; }
    bool manualPrintRunning() const { return m_manualRunning; }

    FolderPoller* poller() { return m_poller.get(); }
    // A stop was asked for (signal or close): no further job starts.
    bool stopRequested() const { return m_stopping; }
    // The station's state beside the window, and its records (see StationMonitor).
    StationMonitor& monitor() { return *m_monitor; }
    void setPollInterval(int ms) { Timer1->setInterval(ms); }
    // Looks at the folder as soon as it changes, besides the poll timer's ticks (which stay,
    // for network shares where no change is signalled). After Form_Load.
    void watchFolderChanges();
    // Every reported event also goes here (tests, logs).
    void setReportHook(std::function<void(const std::string&)> hook) {
        m_reportHook = std::move(hook);
    }
    void report(Severity severity, const Message& message) override;

    QPushButton* Command1 = nullptr;
    std::array<ElidedLabel*, 5> Label1{};
    QListWidget* File1 = nullptr;
    PictureBox* Picture1 = nullptr;
    QTimer* Timer1 = nullptr;
    PrinterDialog* printerDialog = nullptr;
    ElidedLabel* statusArea = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // PrintHost
    void setTimerEnabled(bool enabled) override;
    void assignPrinterDialogSetting() override;
    void yieldToWindow() override;
    void setProgressTitle(const std::string& text) override;
    bool abortRequested() const override { return m_stopping; }
    // JobHost
    Result<PrinterReadiness> printerReadiness() override;
    Result<JobChanges> jobChanges() override { return m_surface.jobChanges(); }
    Result<std::vector<JobStatus>> jobsById(const std::vector<int>& ids) override {
        return m_surface.jobsById(ids);
    }
    Result<void> loadPicture(int fd, const std::string& name) override;
    Result<JobRef> printJob(std::int16_t copies, const std::string& jobName,
                            const std::string& token) override;
    Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) override;
    void reportAbout(Severity severity, const Message& message, const EventSubject& about) override;
    void showConditions(const std::vector<StationCondition>& conditions) override;
    void showListing(const std::vector<ListedFile>& files) override;
    void jobDecided(const JobEvent& event) override;
    bool stopping() const override { return m_stopping; }

    // One tick of the poller (`follow`: the timer's, which follows the jobs), unless one is
    // under way, a test print runs or the window waits for the print server.
    void runTick(bool follow);
    void filesChanged();
    void showRows();
    void rowsUpToDate();
    PrintJob currentJob() const;
    // The print procedure of `mode` (the print modes' table), on the loaded picture.
    Result<JobRef> printInMode(std::string_view mode, std::int16_t copies);
    void refreshStatus();
    void testPrintDone(const JobRef& job);
    QRect fromTwips(int left, int top, int width, int height) const;
    void layOut();

    PrintSurface& m_surface;
    QtImageArea& m_area;
    RunSettings m_settings;
    StationMonitor* m_monitor = nullptr;
    std::unique_ptr<FolderPoller> m_poller;
    std::string m_jobName;
    std::string m_pictureName;  // the file whose picture is loaded
    Message m_lastEvent;
    Message m_condition;
    std::function<void(const std::string&)> m_reportHook;
    bool m_tickRunning = false;
    bool m_manualRunning = false;
    bool m_stopping = false;
    bool m_waitingForServer = false;  // in the print server's wait: nothing may start
    static constexpr int kRowsEveryMs = 250;
    QTimer* m_rowsLater = nullptr;  // the file list's redraw put off while many rows change
    std::chrono::steady_clock::time_point m_rowsShownAt{};
    FolderWatch* m_watch = nullptr;  // PLIXAGRAM_WATCH_CHANGES: null when off
    bool m_lookAgain = false;        // the folder changed while a look could not start
};

}  // namespace plx
