#include "commands/command_log.h"

#include "common/hex_text.h"

void TLogLine::Start(const QString& text)
{
    text_ = text;
    pending_ = false;
}

void TLogLine::Append(const QString& item)
{
    text_ += item;
    pending_ = true;
    if (text_.size() >= kWrapAt) {
        addToLog_(text_);
        // A continuation that receives nothing is never added.
        text_ = Continuation();
        pending_ = false;
    }
}

void TLogLine::Flush()
{
    if (pending_) addToLog_(text_);
    pending_ = false;
}

QString TLogLine::SentItem(uint8_t b) { return QLatin1Char('<') + HexByte(b) + QLatin1Char('>'); }

QString TLogLine::ReceivedItem(uint8_t b) { return QLatin1Char('[') + HexByte(b) + QLatin1Char(']'); }

QString TLogLine::Continuation() { return QString(11, QLatin1Char(' ')); }
