#include "commands/command_run.h"

#include <chrono>

#include "commands/command_log.h"
#include "module/operation_observer.h"
#include "module/session.h"
#include "module/xon_xoff_suspend.h"
#include "serial/com_port.h"

namespace {

constexpr auto kDrainMax = std::chrono::milliseconds(250);

}  // namespace

void DrainInput(TModuleSession& session, TLogLine& line, const QString& startText)
{
    TCustomComPort& port = session.Port();
    line.Start(startText);
    if (port.Connected() && !session.StopRequested()) {
        const auto end = std::chrono::steady_clock::now() + kDrainMax;
        for (int32_t n = 0; n < kDrainInputMaxBytes && std::chrono::steady_clock::now() < end && port.InQueueCount() != 0;
             ++n) {
            char c = 0;
            if (port.ReadBytes(&c, 1) != 1) break;
            line.AppendReceived(uint8_t(c));
        }
    }
    line.Flush();
}

TCommandRunResult RunCommandRow(TModuleSession& session, TOperationObserver& observer, const TCommandRow& row,
                                TLogLine& line, bool presenceCheck, bool afterSend, int32_t sliceMs)
{
    TCommandRunResult result;
    try {
        bool repeat = true;
        observer.ClearAbort();
        DrainInput(session, line, QStringLiteral("Peripheral "));
        while (repeat && !session.StopRequested()) {
            if (observer.AbortRequested()) {
                result.aborted = true;
                break;
            }
            repeat = false;
            if (row.command <= 0) break;
            if (afterSend) observer.Stage(QStringLiteral("Sending command"));
            bool present = true;
            if (presenceCheck && NeedsPresenceCheck(row.command)) present = session.Communication_Check(observer);
            if (!session.Port().Connected()) present = false;
            if (!present) {
                result.noModule = true;
                break;
            }
            const TEncodedCommand e = EncodeCommand(row.values);
            repeat = e.RepeatFlag;
            DrainInput(session, line, QString());
            result.last = SendCommandFrame(session, observer, e, line, QStringLiteral("%1. ").arg(row.row), afterSend,
                                           sliceMs);
            result.answered = e.ReplyLength == 0 || result.last.complete;
            if (result.last.complete && RepeatSatisfied(row.command, result.last.firstReplyByte)) repeat = false;
        }
    } catch (...) {
        // The bytes that did go out (or came in) before the port failed
        // belong in the log.
        line.Flush();
        throw;
    }
    return result;
}

TCommandRunResult SendCommandRun(TModuleSession& session, TOperationObserver& observer, const TCommandRow& row,
                                 TLogLine& line, int32_t sliceMs)
{
    TXonXoffSuspend xonXoff(session.Port());
    return RunCommandRow(session, observer, row, line, true, true, sliceMs);
}

TCommandRunResult SendAllRun(TModuleSession& session, TOperationObserver& observer,
                             const std::vector<TCommandRow>& rows, TLogLine& line, int32_t sliceMs)
{
    TXonXoffSuspend xonXoff(session.Port());
    TCommandRunResult result;
    if (!session.Communication_Check(observer)) return result;
    const int n = int(rows.size());
    for (int i = 0; i < n; ++i) {
        observer.Progress((i + 1) * 100 / n, TOperationPhase::Sending);
        const TCommandRunResult r = RunCommandRow(session, observer, rows[size_t(i)], line, false, false, sliceMs);
        if (rows[size_t(i)].command > 0) result.last = r.last;
        if (r.noModule) result.noModule = true;
        // A row found the port gone and said so; the others would only
        // repeat it. A stopped run ends with one message.
        if (!session.Port().Connected() || session.StopRequested()) break;
    }
    return result;
}
