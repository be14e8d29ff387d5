#include "tools/cli/progress_display.h"

#include <unistd.h>

#include <algorithm>

namespace {
constexpr int kBarWidth = 30;
constexpr int kMaxPortWidth = 40;

void WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0) return;  // a closed terminal is no reason to stop the run
        p += n;
        left -= n;
    }
}
}  // namespace

TProgressDisplay::TProgressDisplay(const QStringList& ports, bool enabled, int fd) : enabled_(enabled), fd_(fd)
{
    for (const QString& p : ports) {
        slots_.push_back({p, 0, QStringLiteral("waiting")});
        portWidth_ = std::max(portWidth_, int(p.size()));
    }
    portWidth_ = std::min(portWidth_, kMaxPortWidth);
}

TProgressDisplay::~TProgressDisplay() { Finish(); }

QString TProgressDisplay::Line(const QString& port, int percent, const QString& operation, int portWidth)
{
    percent = std::clamp(percent, 0, 100);
    const int filled = percent * kBarWidth / 100;
    QString name = port;
    // The end of a long path tells devices apart, not its start.
    if (name.size() > portWidth) name = QStringLiteral("...") + name.right(std::max(0, portWidth - 3));
    return QStringLiteral("%1 [%2%3] %4 % %5")
        .arg(name, -portWidth)
        .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char('-')))
        .arg(percent, 3)
        .arg(operation);
}

void TProgressDisplay::Update(int slot, int percent, const QString& operation)
{
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(m_);
    if (slot < 0 || slot >= int(slots_.size())) return;
    TSlot& s = slots_[size_t(slot)];
    percent = std::clamp(percent, 0, 100);
    if (operation != s.operation) {
        s.operation = operation;
        s.percent = percent;
    } else if (percent > s.percent) {
        s.percent = percent;
    } else if (drawn_) {
        return;  // nothing new to show
    }
    DrawLocked();
}

void TProgressDisplay::DrawLocked()
{
    QByteArray out;
    // Back to the first of our lines, then each line rewritten in full.
    if (drawn_) out += "\x1b[" + QByteArray::number(qsizetype(slots_.size())) + "A";
    for (const TSlot& s : slots_)
        out += "\r\x1b[K" + Line(s.port, s.percent, s.operation, portWidth_).toLocal8Bit() + "\n";
    drawn_ = true;
    WriteAll(fd_, out);
}

void TProgressDisplay::Finish()
{
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(m_);
    enabled_ = false;
}
