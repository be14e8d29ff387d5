#include "tools/cli/send_params.h"

#include "commands/command_catalogue.h"
#include "settings/conversions.h"

namespace {

bool Fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

// A hex field of the row: hex digits only, at most width of them, then the
// exit rule (right-aligned, zero-filled).
bool HexField(const QString& value, int width, const QString& what, TCommandParam* p, QString* error)
{
    if (value.isEmpty() || value.size() > width || FirstNonHex(value) >= 0)
        return Fail(error, QStringLiteral("%1 must be 1 to %2 hex digits, not \"%3\"").arg(what).arg(width).arg(value));
    p->text = PadHexText(value.toUpper(), width);
    return true;
}

// The data field: up to maxDigits hex digits, padded by the exit rule; the
// length field follows it as in the row.
bool DataField(const QString& value, int maxDigits, TCommandParam* data, TCommandParam* length, QString* error)
{
    if (value.isEmpty() || value.size() > maxDigits || FirstNonHex(value) >= 0)
        return Fail(error, QStringLiteral("the data must be 1 to %1 hex digits (%2 bytes), not \"%3\"")
                               .arg(maxDigits)
                               .arg(maxDigits / 2)
                               .arg(value));
    const THexData d = NormalizeHexData(value.toUpper());
    data->text = d.data;
    length->text = d.length;
    return true;
}

bool ListItem(const QString& value, const QStringList& items, const QString& what, TCommandParam* p, QString* error)
{
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].compare(value, Qt::CaseInsensitive) == 0) {
            p->item = i;
            return true;
        }
    }
    return Fail(error, QStringLiteral("%1 must be one of: \"%2\"; not \"%3\"")
                           .arg(what, items.join(QStringLiteral("\", \"")), value));
}

int CommandIndex(const QString& name)
{
    const QStringList& items = CommandItems();
    for (int i = 1; i < items.size(); ++i)
        if (items[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

}  // namespace

QString SendParamHelp(int command)
{
    switch (command) {
    case cmd::Connect: return QStringLiteral("unit address (4 hex digits)");
    case cmd::ReadStatus:
    case cmd::ReadNotStatus: return QStringLiteral("optional: repeat (send again until the expected byte comes)");
    case cmd::WriteRegisters: return QStringLiteral("address (1 hex digit), [length (2 hex digits),] data (up to 16 hex digits)");
    case cmd::WriteFlash: return QStringLiteral("address (1 hex digit), [length (2 hex digits),] data (up to 64 hex digits)");
    case cmd::SendSerialData: return QStringLiteral("[address, length,] data (up to 64 hex digits)");
    case cmd::ReadRegisters:
    case cmd::ReadFlash: return QStringLiteral("address (1 hex digit), length (2 hex digits)");
    case cmd::Nop: return QStringLiteral("count (2 hex digits)");
    case cmd::SetRFChannel: return QStringLiteral("channel (\"Channel 0\" .. \"Channel 15\")");
    case cmd::SetRFDataRate: return QStringLiteral("data rate (\"76800 bps\" .. \"4800 bps\")");
    case cmd::SetUART: return QStringLiteral("[baud (\"57600 baud\") [format (\"8,n,1\") [flow (\"Hardware\")]]]");
    case cmd::SelectADChannel: return QStringLiteral("A/D channel (\"Pin 5\" .. \"VCC Voltage\")");
    case cmd::SetPortDirection: return QStringLiteral("the header pins (1-16) to make outputs");
    case cmd::SetPortPins: return QStringLiteral("the header pins (1-16) to set high");
    default: return QStringLiteral("no parameters");
    }
}

bool ParseSendCommand(const QStringList& args, TCommandRowValues* out, QString* error)
{
    if (args.isEmpty()) return Fail(error, QStringLiteral("send needs a command of the catalogue"));
    const int command = CommandIndex(args[0]);
    if (command < 0)
        return Fail(error, QStringLiteral("unknown command \"%1\"; the catalogue: \"%2\"")
                               .arg(args[0], CommandItems().mid(1).join(QStringLiteral("\", \""))));
    const QStringList p = args.mid(1);
    const QString name = CommandItems()[command];
    auto tooMany = [&](int max) {
        return Fail(error, QStringLiteral("\"%1\" takes %2 (at most %3 parameter%4), not %5")
                               .arg(name, SendParamHelp(command))
                               .arg(max)
                               .arg(max == 1 ? QString() : QStringLiteral("s"))
                               .arg(p.size()));
    };
    auto wrongCount = [&] { return Fail(error, QStringLiteral("\"%1\" takes %2").arg(name, SendParamHelp(command))); };

    TCommandRowValues row;
    row.command = command;
    switch (command) {
    case cmd::Connect: {
        if (p.size() != 1) return wrongCount();
        TCommandParam a;
        if (!HexField(p[0], 4, QStringLiteral("the unit address"), &a, error)) return false;
        row.params = {a};
        break;
    }
    case cmd::ReadStatus:
    case cmd::ReadNotStatus: {
        if (p.size() > 1) return tooMany(1);
        TCommandParam box;
        if (p.size() == 1) {
            if (p[0].compare(QLatin1String("repeat"), Qt::CaseInsensitive) != 0)
                return Fail(error, QStringLiteral("\"%1\" takes only \"repeat\", not \"%2\"").arg(name, p[0]));
            box.checked = true;
        }
        row.params = {box};
        break;
    }
    case cmd::WriteRegisters:
    case cmd::WriteFlash:
    case cmd::SendSerialData: {
        const int maxDigits = command == cmd::WriteRegisters ? 16 : 64;
        TCommandParam addr, len, data;
        addr.text = QStringLiteral("0");
        // address length data | address data | (Send Serial Data) data
        QString addrText, dataText;
        if (p.size() == 3) {
            addrText = p[0];
            // The length is the row's read-only field, kept by the data; a
            // value that disagrees is a mistake worth stopping for.
            if (!HexField(p[1], 2, QStringLiteral("the length"), &len, error)) return false;
            dataText = p[2];
        } else if (p.size() == 2 && command != cmd::SendSerialData) {
            addrText = p[0];
            dataText = p[1];
        } else if (p.size() == 1 && command == cmd::SendSerialData) {
            dataText = p[0];
        } else {
            return wrongCount();
        }
        if (!addrText.isEmpty() && !HexField(addrText, 1, QStringLiteral("the address"), &addr, error)) return false;
        const QString given = len.text;
        if (!DataField(dataText, maxDigits, &data, &len, error)) return false;
        if (!given.isEmpty() && given != len.text)
            return Fail(error, QStringLiteral("the length %1 does not match the data: %2 byte(s) need the length %3")
                                   .arg(given)
                                   .arg(data.text.size() / 2)
                                   .arg(len.text));
        row.params = {addr, len, data};
        break;
    }
    case cmd::ReadRegisters:
    case cmd::ReadFlash: {
        if (p.size() != 2) return wrongCount();
        TCommandParam addr, len;
        if (!HexField(p[0], 1, QStringLiteral("the address"), &addr, error)) return false;
        if (!HexField(p[1], 2, QStringLiteral("the length"), &len, error)) return false;
        row.params = {addr, len};
        break;
    }
    case cmd::Nop: {
        if (p.size() != 1) return wrongCount();
        TCommandParam count;
        if (!HexField(p[0], 2, QStringLiteral("the count"), &count, error)) return false;
        row.params = {count};
        break;
    }
    case cmd::SetRFChannel:
    case cmd::SetRFDataRate:
    case cmd::SelectADChannel: {
        if (p.size() != 1) return wrongCount();
        const QStringList& items = command == cmd::SetRFChannel    ? RFChannelItems()
                                   : command == cmd::SetRFDataRate ? RFDataRateItems()
                                                                   : ADChannelItems();
        TCommandParam item;
        if (!ListItem(p[0], items, QStringLiteral("the parameter"), &item, error)) return false;
        row.params = {item};
        break;
    }
    case cmd::SetUART: {
        if (p.size() > 3) return tooMany(3);
        // The row's start items: "57600 baud", "8,n,1", "Hardware".
        TCommandParam baud, format, flow;
        baud.item = 1;
        format.item = 0;
        flow.item = 0;
        if (p.size() > 0 && !ListItem(p[0], UartBaudItems(), QStringLiteral("the baud rate"), &baud, error)) return false;
        if (p.size() > 1 && !ListItem(p[1], UartFormatItems(), QStringLiteral("the format"), &format, error)) return false;
        if (p.size() > 2 && !ListItem(p[2], UartFlowItems(), QStringLiteral("the flow control"), &flow, error)) return false;
        row.params = {baud, format, flow};
        break;
    }
    case cmd::SetPortDirection:
    case cmd::SetPortPins: {
        row.params.assign(16, TCommandParam{});
        for (const QString& pin : p) {
            bool ok = false;
            const int n = pin.toInt(&ok, 10);
            if (!ok || n < 1 || n > 16)
                return Fail(error, QStringLiteral("\"%1\" takes header pin numbers 1 to 16, not \"%2\"").arg(name, pin));
            row.params[size_t(n - 1)].checked = true;
        }
        break;
    }
    default:
        if (!p.isEmpty()) return tooMany(0);
        break;
    }
    *out = row;
    return true;
}

QString SendReplyProblem(int command, int replyLength, bool complete, const std::vector<uint8_t>& reply)
{
    if (replyLength == 0) return {};
    const QString name = CommandItems().value(command);
    if (!complete)
        return QStringLiteral("the module did not answer \"%1\" in time (%2 of %3 reply bytes came). Check the "
                              "cable and the line settings, then send it again.")
            .arg(name)
            .arg(qMin(int(reply.size()), replyLength))
            .arg(replyLength);
    const uint8_t first = reply.front();
    const auto wrong = [&](const QString& expected) {
        return QStringLiteral("the module answered \"%1\" with %2 where %3 is expected")
            .arg(name, QStringLiteral("%1").arg(first, 2, 16, QLatin1Char('0')).toUpper(), expected);
    };
    switch (command) {
    case cmd::Connect:
    case cmd::Disconect: return first == 0x6B ? QString() : wrong(QStringLiteral("6B"));
    case cmd::ReadVersion: return first == 0x43 ? QString() : wrong(QStringLiteral("43 first"));
    case cmd::ReadFlash: return (first & 0xE0) == 0x40 ? QString() : wrong(QStringLiteral("a header 40 to 5F first"));
    default: return {};
    }
}
