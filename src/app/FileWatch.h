#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

class QFileSystemWatcher;
class QTimer;

// What tells one version of a file from the next: replaced by rename it is
// another inode, rewritten in place it has another size or time.
struct TFileStamp
{
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;

    bool operator==(const TFileStamp &other) const;
    bool operator!=(const TFileStamp &other) const { return !(*this == other); }
};

// The file's stamp now; Exists is false when it cannot be looked at.
TFileStamp StampOf(const std::string &path);

// Watches one loaded file for a new version. Assemblers and editors write a
// new file and rename it over the old one, which makes the system forget the
// watched name, so the folder is watched as well and the name is taken up
// again whenever it exists. A change is reported only once the file has
// looked the same for one settle period, so a half-written file is not read.
class TFileWatch : public QObject
{
    Q_OBJECT
public:
    explicit TFileWatch(QObject *parent = nullptr);

    // Settle period: the quiet time after the last change before the file is
    // looked at, and again before it counts as settled.
    static constexpr int SettleMs = 250;

    // Starts watching path; loaded is the version now in the window.
    void Watch(const std::string &path, const TFileStamp &loaded);
    void Stop();
    bool Watching() const { return !Path.empty(); }
    const std::string &WatchedPath() const { return Path; }

    // The settled version that was reported is dealt with (reloaded, refused
    // or declined): only a newer one is reported again.
    void Handled();
    // The version reported last; Exists false after the file went away.
    const TFileStamp &Reported() const { return Settled; }

    // A new settled version, or the file gone (Reported().Exists false),
    // reported once per version; the window keeps a version it cannot take yet.
    std::function<void()> OnChanged;

private:
    void Touched();
    void Look();
    void FollowName();

    QFileSystemWatcher *Watcher = nullptr;
    QTimer *SettleTimer = nullptr;
    std::string Path;
    TFileStamp Loaded;    // the version in the window, or the last one handled
    TFileStamp LastLook;  // what the previous look saw
    TFileStamp Settled;   // the version reported
};
