#pragma once
// A pseudo-terminal standing in for a serial line: the port opens Path(),
// the test plays the far end on the master.
#include <QByteArray>
#include <QString>

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    bool Ok() const { return master_ >= 0; }
    QString Path() const { return path_; }
    void Write(const QByteArray& bytes);
    // Reads until count bytes came or timeoutMs passed, blocking in poll.
    QByteArray Read(int count, int timeoutMs);
    // The same in short slices with Qt events processed in between, for a
    // port whose event hand-over needs the event loop to deliver.
    QByteArray ReadProcessingEvents(int count, int timeoutMs);
    // The far end goes away: the kernel hangs the slave up.
    void CloseMaster();
    int MasterFd() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;  // keeps the line up between opens of the port
    QString path_;
};
