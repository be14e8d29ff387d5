#pragma once
// The far end of a pseudo-terminal that stands in for the module: the port
// opens SlavePath(), the test reads and writes the master side.
#include <QByteArray>
#include <QString>

class TPtyPeer {
public:
    TPtyPeer();
    ~TPtyPeer();
    bool Ok() const { return master_ >= 0; }
    QString SlavePath() const { return slavePath_; }
    void Write(const QByteArray& bytes);
    // Reads until `count` bytes came or the deadline passed (blocking in
    // poll with the remaining time, while Qt events are processed between).
    QByteArray Read(int count, int timeoutMs);

private:
    int master_ = -1;
    int slave_ = -1;  // held open so the line never hangs up between opens
    QString slavePath_;
};
