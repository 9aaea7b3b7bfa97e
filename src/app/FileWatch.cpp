#include "app/FileWatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <sys/stat.h>

bool TFileStamp::operator==(const TFileStamp &other) const
{
    if (!Exists || !other.Exists)
        return Exists == other.Exists;
    return Device == other.Device && Inode == other.Inode && Size == other.Size
           && ModifiedNs == other.ModifiedNs && ChangedNs == other.ChangedNs;
}

TFileStamp StampOf(const std::string &path)
{
    TFileStamp stamp;
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return stamp;
    constexpr int64_t NsPerSecond = 1000000000;
    stamp.Exists = true;
    stamp.Device = uint64_t(st.st_dev);
    stamp.Inode = uint64_t(st.st_ino);
    stamp.Size = int64_t(st.st_size);
    stamp.ModifiedNs = int64_t(st.st_mtim.tv_sec) * NsPerSecond + st.st_mtim.tv_nsec;
    stamp.ChangedNs = int64_t(st.st_ctim.tv_sec) * NsPerSecond + st.st_ctim.tv_nsec;
    return stamp;
}

TFileWatch::TFileWatch(QObject *parent)
    : QObject(parent), Watcher(new QFileSystemWatcher(this)), SettleTimer(new QTimer(this))
{
    SettleTimer->setSingleShot(true);
    SettleTimer->setInterval(SettleMs);
    connect(SettleTimer, &QTimer::timeout, this, &TFileWatch::Look);
    connect(Watcher, &QFileSystemWatcher::fileChanged, this, &TFileWatch::Touched);
    connect(Watcher, &QFileSystemWatcher::directoryChanged, this, &TFileWatch::Touched);
}

void TFileWatch::Watch(const std::string &path, const TFileStamp &loaded)
{
    Stop();
    Path = QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    Loaded = LastLook = Settled = loaded;
    Watcher->addPath(QFileInfo(QString::fromStdString(Path)).absolutePath());
    FollowName();
    // A version written between the read and now is looked at at once.
    if (StampOf(Path) != Loaded)
        Touched();
}

void TFileWatch::Stop()
{
    SettleTimer->stop();
    const QStringList watched = Watcher->files() + Watcher->directories();
    if (!watched.isEmpty())
        Watcher->removePaths(watched);
    Path.clear();
}

void TFileWatch::Handled()
{
    Loaded = Settled;
}

void TFileWatch::Touched()
{
    if (Path.empty())
        return;
    FollowName();
    SettleTimer->start(); // restarted by every change: wait for quiet
}

// The name is watched again whenever a file stands under it.
void TFileWatch::FollowName()
{
    const QString name = QString::fromStdString(Path);
    if (!Watcher->files().contains(name) && QFileInfo::exists(name))
        Watcher->addPath(name);
}

void TFileWatch::Look()
{
    if (Path.empty())
        return;
    FollowName();
    const TFileStamp now = StampOf(Path);
    if (now != LastLook) {
        // Still moving (or first seen): settled only if it looks the same next time.
        LastLook = now;
        SettleTimer->start();
        return;
    }
    if (now == Loaded)
        return;
    Settled = now;
    if (OnChanged)
        OnChanged();
}
