#pragma once
// The line of the command log being assembled: items are appended to it,
// and a line that reaches 64 characters goes to the log and continues on a
// new line indented by eleven spaces.
#include <QString>
#include <cstdint>
#include <functional>

class TLogLine {
public:
    using Sink = std::function<void(const QString&)>;
    static constexpr int kWrapAt = 64;

    explicit TLogLine(Sink addToLog) : addToLog_(std::move(addToLog)) {}

    // A new line with this starting text; nothing pending yet.
    void Start(const QString& text);
    // Appends an item and marks the line pending.
    void Append(const QString& item);
    void AppendSent(uint8_t b) { Append(SentItem(b)); }
    void AppendReceived(uint8_t b) { Append(ReceivedItem(b)); }
    // Adds the line to the log when it holds something not yet added.
    void Flush();

    const QString& Text() const { return text_; }
    bool Pending() const { return pending_; }

    static QString SentItem(uint8_t b);      // "<XX>"
    static QString ReceivedItem(uint8_t b);  // "[XX]"
    static QString Continuation();           // eleven spaces

private:
    Sink addToLog_;
    QString text_;
    bool pending_ = false;
};
