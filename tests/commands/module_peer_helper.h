#pragma once
// A scripted far end of a pseudo-terminal: answers byte patterns the test
// sets up, on its own thread, while the panel blocks in an exchange. The
// port opens SlavePath().
#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class TModulePeer {
public:
    TModulePeer();
    ~TModulePeer();
    bool Ok() const { return master_ >= 0; }
    QString SlavePath() const { return slavePath_; }

    // When the bytes received since the last answer end with `pattern`,
    // send `reply` (empty: swallow). Later rules win over earlier ones.
    void Answer(const QByteArray& pattern, const QByteArray& reply);
    // The same with one reply per match in turn; the last one repeats.
    void AnswerInTurn(const QByteArray& pattern, const std::vector<QByteArray>& replies);
    // Answers like a module in command mode: Read Version "C" + 4 bytes,
    // everything else that the tests send answered by the rules they add.
    void AnswerPresence();
    // Bytes to the panel now.
    void Send(const QByteArray& bytes);
    QByteArray Received() const;
    void ClearReceived();
    // Closes the far end: the panel's side sees a hang-up.
    void HangUp();

private:
    void Run();
    struct Rule {
        QByteArray pattern;
        std::vector<QByteArray> replies;
        size_t next = 0;
    };
    std::atomic<int> master_{-1};
    int slave_ = -1;
    QString slavePath_;
    mutable std::mutex m_;
    std::vector<Rule> rules_;
    QByteArray received_, window_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
