#pragma once
// Signals such as SIGTERM as events on the thread that made the notifier.
// The handler only writes the signal's number to a socket pair (nothing
// else is safe inside a handler); a socket notifier reads it in the event
// loop, so whatever a signal asks for runs as any other event does.
//
// The first signal is told through Received. A second one ends the
// program at once with 128 + its number, the shell's convention: whoever
// sends it no longer waits for an orderly end (or the event loop is stuck).
//
// One notifier at a time in a program; its destructor puts the former
// handlers back.
#include <QObject>
#include <csignal>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

class TSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit TSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~TSignalNotifier() override;

signals:
    void Received(int signalNumber);

private:
    void Read();

    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    std::vector<int> signals_;
    std::vector<struct sigaction> former_;
};
