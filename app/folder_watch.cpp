#include "app/folder_watch.h"

#include <QDir>

namespace plx {

FolderWatch::FolderWatch(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(QDir(folder).absolutePath()) {
    m_soon.setSingleShot(true);
    m_soon.setTimerType(Qt::PreciseTimer);
    connect(&m_soon, &QTimer::timeout, this, &FolderWatch::lookWanted);
    // Not restarted by the changes that follow: a steady stream still gets looked at.
    auto changed = [this] { lookIn(kSettleMs); };
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    keep({});
}

void FolderWatch::keep(const std::vector<std::string>& beingWritten) {
    // A folder removed and made again is a new folder to the kernel: watched anew.
    if (!m_watcher.directories().contains(m_folder) && QDir(m_folder).exists())
        m_watcher.addPath(m_folder);
    QStringList wanted;
    for (const std::string& name : beingWritten) {
        if (wanted.size() >= kMaxFiles) break;
        wanted.append(m_folder + QLatin1Char('/') + QString::fromStdString(name));
    }
    QStringList gone;
    for (const QString& f : m_watcher.files()) {
        if (!wanted.contains(f)) gone.append(f);
    }
    if (!gone.isEmpty()) m_watcher.removePaths(gone);
    QStringList added;
    for (const QString& f : wanted) {
        if (!m_watcher.files().contains(f)) added.append(f);
    }
    if (!added.isEmpty()) m_watcher.addPaths(added);
}

void FolderWatch::lookIn(int delayMs) {
    if (m_soon.isActive() && m_soon.remainingTime() <= delayMs) return;
    m_soon.start(delayMs);
}

}  // namespace plx
