#pragma once
// Looking at the watch folder as soon as it changes (PLIXAGRAM_WATCH_CHANGES=1), between the
// poll timer's ticks: the folder through inotify (QFileSystemWatcher), and the files in it that
// are still being written, whose writes the folder's own watch does not see. Changes close
// together cost one look a moment after the first.

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <string>
#include <vector>

namespace plx {

class FolderWatch : public QObject {
    Q_OBJECT
  public:
    // How long after a change the look comes: a burst of files renamed in costs one look.
    static constexpr int kSettleMs = 50;
    // A file that changed while it was read waits until it has stayed the same this long.
    static constexpr int kStillMs = 1000;
    // At most this many files being written are watched one by one; the rest wait for the
    // timer's tick.
    static constexpr int kMaxFiles = 64;

    explicit FolderWatch(const QString& folder, QObject* parent = nullptr);

    // After each look: the folder watched (again, if it was removed and made anew), and the
    // files still being written, by name.
    void keep(const std::vector<std::string>& beingWritten);
    // Another look in `delayMs`, unless one is already due sooner.
    void lookIn(int delayMs);

  signals:
    void lookWanted();

  private:
    QString m_folder;
    QFileSystemWatcher m_watcher;
    QTimer m_soon;
};

}  // namespace plx
