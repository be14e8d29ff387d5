#pragma once
// TFolderWatch: follows folders whose entries are serial devices, as
// /dev/serial/by-id shows adapters, with inotify. A change is judged after a
// short quiet time, so a link made under a temporary name and renamed into
// place gives one plug, and a link replaced within that time gives an
// unplug and a plug. Only entries that lead to a character device count.
// A watched folder that goes (udev removes /dev/serial/by-id with its last
// link) unplugs what it held and is followed again once it is back.
// Blocks its caller while nothing changes; Wake ends a wait from any thread.
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

struct TFolderChange {
    QString path;  // the entry's path (folder + name)
    QString name;  // the entry's name
    bool plugged = false;  // appeared (true) or went (false)
};

class TFolderWatch {
public:
    TFolderWatch();
    ~TFolderWatch();
    TFolderWatch(const TFolderWatch&) = delete;
    TFolderWatch& operator=(const TFolderWatch&) = delete;

    // Starts following dir. False with *error when it cannot be watched.
    bool Add(const QString& dir, QString* error);
    // The entries present now, as plugs (called once after the folders are added).
    std::vector<TFolderChange> Present();
    // Blocks until something changed and settled (settleMs of quiet), or
    // until Wake. The changes, in the order they settled; empty after Wake.
    std::vector<TFolderChange> Wait(int settleMs);
    void Wake();

private:
    // Empty when path does not lead to a character device.
    QString Identity(const QString& path) const;

    int fd_ = -1;
    int wakeFd_ = -1;
    // Starts following a folder; false when it cannot be (errno set).
    bool Follow(const QString& clean);

    QHash<int, QString> dirs_;   // watch descriptor -> folder
    QStringList gone_;           // folders that went: looked for again while waiting
    QHash<QString, QString> known_; // entry paths taken as plugged -> their Identity
};
