#include "commands/command_exchange.h"

#include <QElapsedTimer>
#include <algorithm>

#include "commands/command_log.h"
#include "module/operation_observer.h"
#include "module/operation_state.h"
#include "module/session.h"
#include "serial/com_port.h"

namespace {

constexpr int32_t kFrameMs = 1200;
constexpr int32_t kReplyMs = 2400;
constexpr int32_t kFirstBytePauseMs = 300;
constexpr int32_t kAfterSendPauseMs = 100;
constexpr int kReplyBuffer = 64;

// Blocking waits against the session's deadline; responsive ones wait in
// slices and let the observer have a turn in between.
bool WaitInput(TModuleSession& s, TOperationObserver& observer, int32_t count, int32_t sliceMs)
{
    TCustomComPort& port = s.Port();
    for (;;) {
        if (TOperationState::StopRequested()) return false;  // the port may be closed
        if (port.InQueueCount() >= count) return true;
        if (s.DeadlineReached()) return false;
        int32_t ms = s.RemainingMs();
        if (sliceMs > 0) ms = std::min(ms, sliceMs);
        port.WaitForInput(count, ms);
        if (sliceMs > 0) observer.KeepAlive();
    }
}

bool WaitOutputEmpty(TModuleSession& s, TOperationObserver& observer, int32_t sliceMs)
{
    TCustomComPort& port = s.Port();
    for (;;) {
        if (TOperationState::StopRequested()) return false;  // the port may be closed
        if (port.OutQueueCount() == 0) return true;
        if (s.DeadlineReached()) return false;
        int32_t ms = s.RemainingMs();
        if (sliceMs > 0) ms = std::min(ms, sliceMs);
        port.WaitForOutputEmpty(ms);
        if (sliceMs > 0) observer.KeepAlive();
    }
}

}  // namespace

TExchangeResult SendCommandFrame(TModuleSession& session, TOperationObserver& observer, const TEncodedCommand& e,
                                 TLogLine& line, const QString& lineStart, bool afterSend, int32_t sliceMs)
{
    TCustomComPort& port = session.Port();
    const TCommandFrame& frame = e.CommandFrame;
    // Status rows that repeat until their byte comes stay responsive while
    // they wait, so Abort can end them.
    const int32_t slice = e.RepeatFlag ? sliceMs : 0;

    if (frame[0] != kFrameEnd) {
        line.Start(lineStart);
        for (int i = 0; i < kFrameEntries; ++i) {
            if (frame[size_t(i)] == kFrameEnd) break;
            // Stopped ("Close Port", the window closed): nothing more goes out.
            if (TOperationState::StopRequested()) break;
            // The module has started to talk: the rest of the frame stays unsent.
            if (port.InQueueCount() != 0) break;
            const uint8_t b = uint8_t(frame[size_t(i)] & 0xFF);
            session.WriteByte(b);
            line.AppendSent(b);
            if (i == 0 && PausesAfterFirstByte(e.ReplyLength)) observer.Pause(kFirstBytePauseMs);
        }
    }

    session.SetDeadline(kFrameMs);
    const bool timedOut = !WaitOutputEmpty(session, observer, slice);

    if (afterSend) {
        observer.Progress(100, TOperationPhase::Sending);
        observer.Pause(kAfterSendPauseMs);
    }

    TExchangeResult result;
    bool waited = false;
    if (e.ReplyLength > 0 && !timedOut) {
        waited = true;
        const int32_t want = std::min(e.ReplyLength, kReplyBuffer);
        session.SetDeadline(kReplyMs);
        char reply[kReplyBuffer];
        int32_t have = 0;
        // A read may bring less than it was asked for: what came counts, and
        // only the rest is waited for, so the reply's first byte stays first
        // and nothing after the reply is taken for it.
        while (have < want && WaitInput(session, observer, want - have, slice)) {
            const int32_t got = port.ReadBytes(reply + have, want - have);
            if (got <= 0) break;  // counted but not readable: never spin on it
            for (int32_t i = 0; i < got; ++i) {
                line.AppendReceived(uint8_t(reply[have + i]));
                result.reply.push_back(uint8_t(reply[have + i]));
            }
            have += got;
        }
        if (have == want) {
            result.complete = true;
            result.firstReplyByte = uint8_t(reply[0]);
        }
    }
    // No complete reply in time: one waiting byte is shown, the rest waits
    // for the next drain.
    if (!result.complete && (timedOut || waited) && !TOperationState::StopRequested() && port.InQueueCount() >= 1) {
        QByteArray b;
        if (port.ReadText(b, 1) == 1) {
            line.AppendReceived(uint8_t(b.at(0)));
            result.reply.push_back(uint8_t(b.at(0)));
        }
    }
    line.Flush();
    return result;
}

int32_t DrainWaitingInput(TCustomComPort& port, TLogLine& line)
{
    if (!port.Connected() || TOperationState::StopRequested()) return 0;
    QElapsedTimer clock;
    clock.start();
    int32_t n = 0;
    while (n < kInputDrainMaxBytes && !clock.hasExpired(kInputDrainMaxMs) && port.InQueueCount() != 0) {
        QByteArray b;
        if (port.ReadText(b, 1) != 1) break;
        line.AppendReceived(uint8_t(b.at(0)));
        ++n;
    }
    return n;
}
