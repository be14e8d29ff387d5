#pragma once
// Progress on stderr: one line per port (device, bar, percentage,
// operation), redrawn in place. Only while stderr is a terminal and the
// user did not ask for quiet; otherwise every call does nothing.
#include <QString>
#include <QStringList>
#include <mutex>
#include <vector>

class TProgressDisplay {
public:
    // fd is where the lines go (2); enabled false makes every call a no-op.
    TProgressDisplay(const QStringList& ports, bool enabled, int fd = 2);
    ~TProgressDisplay();

    bool Enabled() const { return enabled_; }
    // From any thread. Percent is clamped to 0..100; the bar never shrinks
    // within one operation text.
    void Update(int slot, int percent, const QString& operation);
    // Leaves the lines as they stand; later calls do nothing.
    void Finish();

    // One line as drawn (exposed for the tests).
    static QString Line(const QString& port, int percent, const QString& operation, int portWidth);

private:
    void DrawLocked();

    struct TSlot {
        QString port;
        int percent = 0;
        QString operation;
    };
    std::mutex m_;
    std::vector<TSlot> slots_;
    bool enabled_;
    int fd_;
    bool drawn_ = false;
    int portWidth_ = 0;
};
