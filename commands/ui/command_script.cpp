#include "commands/ui/command_script.h"

#include <QJsonArray>
#include <QJsonObject>

#include "commands/command_catalogue.h"
#include "settings/conversions.h"

namespace {

const QString kRowsMember = QStringLiteral("rows");

TParamSpec HexSpec(const QString& name, int maxLength, const QString& start, bool saved = true)
{
    TParamSpec s;
    s.kind = TParamSpec::Hex;
    s.name = name;
    s.maxLength = maxLength;
    s.start = start;
    s.saved = saved;
    return s;
}

TParamSpec ListSpec(const QString& name, const QStringList& items, int startItem = 0)
{
    TParamSpec s;
    s.kind = TParamSpec::List;
    s.name = name;
    s.items = items;
    s.startItem = startItem;
    return s;
}

TParamSpec CheckSpec(const QString& name)
{
    TParamSpec s;
    s.kind = TParamSpec::Check;
    s.name = name;
    return s;
}

QString ItemText(const QStringList& items, int i) { return i >= 0 && i < items.size() ? items[i] : QString(); }

}  // namespace

std::vector<TParamSpec> CommandParamSpecs(int command)
{
    std::vector<TParamSpec> specs;
    switch (command) {
    case cmd::Connect:
        specs.push_back(HexSpec(QStringLiteral("Tarnwick unit address (Hex)"), 4, QStringLiteral("0000")));
        break;
    case cmd::ReadStatus:
        specs.push_back(CheckSpec(QStringLiteral("Repeat until 0x6B or timeout")));
        break;
    case cmd::ReadNotStatus:
        specs.push_back(CheckSpec(QStringLiteral("Repeat until 0x62 or timeout")));
        break;
    case cmd::WriteRegisters:
    case cmd::WriteFlash:
    case cmd::SendSerialData: {
        // Send Serial Data keeps a hidden address so the length stays second.
        specs.push_back(HexSpec(QStringLiteral("Address (Hex)"), 1, QStringLiteral("0"), command != cmd::SendSerialData));
        TParamSpec len = HexSpec(QStringLiteral("Length (Hex)"), 2, QStringLiteral("00"), false);
        len.kind = TParamSpec::Length;
        specs.push_back(len);
        TParamSpec data = HexSpec(QStringLiteral("Data (Hex)"), command == cmd::WriteRegisters ? 16 : 64, QStringLiteral("00"));
        data.kind = TParamSpec::Data;
        specs.push_back(data);
        break;
    }
    case cmd::ReadRegisters:
    case cmd::ReadFlash:
        specs.push_back(HexSpec(QStringLiteral("Address (Hex)"), 1, QStringLiteral("0")));
        specs.push_back(HexSpec(QStringLiteral("Length (Hex)"), 2, QStringLiteral("00")));
        break;
    case cmd::Nop:
        specs.push_back(HexSpec(QStringLiteral("Number of times to send NOP (Hex)"), 2, QStringLiteral("00")));
        break;
    case cmd::SetRFChannel:
        specs.push_back(ListSpec(QStringLiteral("Select RF channel"), RFChannelItems()));
        break;
    case cmd::SetRFDataRate:
        specs.push_back(ListSpec(QStringLiteral("Select RF data rate"), RFDataRateItems()));
        break;
    case cmd::SetUART:
        specs.push_back(ListSpec(QStringLiteral("Select UART baud rate"), UartBaudItems(), 1));
        specs.push_back(ListSpec(QStringLiteral("Select number of data bits, parity, and stop bits"), UartFormatItems()));
        specs.push_back(ListSpec(QStringLiteral("Select flow control"), UartFlowItems()));
        break;
    case cmd::SelectADChannel:
        specs.push_back(ListSpec(QStringLiteral("Select A/D channel"), ADChannelItems()));
        break;
    case cmd::SetPortDirection:
    case cmd::SetPortPins: {
        const bool direction = command == cmd::SetPortDirection;
        for (int pin = 1; pin <= 16; ++pin)
            specs.push_back(CheckSpec(QStringLiteral("Header pin %1%2").arg(pin).arg(direction ? QStringLiteral(" output")
                                                                                             : QStringLiteral(" high"))));
        TParamSpec label;
        label.kind = TParamSpec::Label;
        label.saved = false;
        specs.push_back(label);
        break;
    }
    default:
        break;
    }
    return specs;
}

QByteArray WriteCommandScript(const std::vector<TCommandRowValues>& rows)
{
    QJsonArray out;
    for (int n = 0; n < commandscript::kRows; ++n) {
        const TCommandRowValues row = size_t(n) < rows.size() ? rows[size_t(n)] : TCommandRowValues{};
        const std::vector<TParamSpec> specs = CommandParamSpecs(row.command);
        QJsonArray params;
        for (size_t i = 0; i < specs.size(); ++i) {
            if (!specs[i].saved) continue;
            const TCommandParam p = i < row.params.size() ? row.params[i] : TCommandParam{};
            switch (specs[i].kind) {
            case TParamSpec::Hex:
                // As leaving the field would leave it, so the file always loads.
                params.append(FirstNonHex(p.text) >= 0 ? QString(specs[i].maxLength, QLatin1Char('0'))
                                                       : PadHexText(p.text, specs[i].maxLength));
                break;
            case TParamSpec::Data:
                params.append(NormalizeHexData(FirstNonHex(p.text) >= 0 ? QString() : p.text.left(specs[i].maxLength)).data);
                break;
            case TParamSpec::List:
                params.append(ItemText(specs[i].items, p.item < 0 ? specs[i].startItem : p.item));
                break;
            case TParamSpec::Check:
                params.append(p.checked);
                break;
            default:
                break;
            }
        }
        QJsonObject o;
        o.insert(QStringLiteral("command"), ItemText(CommandItems(), row.command));
        o.insert(QStringLiteral("parameters"), params);
        out.append(o);
    }
    TProfileWriter w(commandscript::kFormat, commandscript::kVersion);
    w.Array(kRowsMember, out);
    return w.Bytes();
}

TCommandScriptRead ReadCommandScript(const QByteArray& bytes)
{
    TCommandScriptRead r;
    TProfileReader in(bytes, commandscript::kFormat, commandscript::kVersion, r.check);
    if (!in.Readable()) return r;
    std::vector<TCommandRowValues> rows(commandscript::kRows);
    // Rows the file does not reach stay without a command, as at start.

    const QJsonValue all = in.Value(kRowsMember);
    if (all.isUndefined()) {
        in.Problem(kRowsMember, QStringLiteral("missing"));
    } else if (!all.isArray() || all.toArray().size() > commandscript::kRows) {
        in.Problem(kRowsMember, QStringLiteral("a list of at most 9 rows is needed"));
    } else {
        const QJsonArray list = all.toArray();
        for (int n = 0; n < list.size(); ++n) {
            const QString rowName = QStringLiteral("row %1").arg(n + 1);
            const QJsonObject o = list[n].toObject();
            const QJsonValue command = o.value(QStringLiteral("command"));
            const QJsonValue params = o.value(QStringLiteral("parameters"));
            if (!list[n].isObject() || !command.isString() || !params.isArray()) {
                in.Problem(rowName, QStringLiteral("a \"command\" text and a \"parameters\" list are needed"));
                continue;
            }
            int c = -1;
            for (int i = 0; i < CommandItems().size(); ++i)
                if (CommandItems()[i].compare(command.toString().trimmed(), Qt::CaseInsensitive) == 0) c = i;
            if (c < 0) {
                in.Problem(rowName, QStringLiteral("\"%1\" is no command of the list").arg(command.toString()));
                continue;
            }
            const std::vector<TParamSpec> specs = CommandParamSpecs(c);
            int savedCount = 0;
            for (const TParamSpec& s : specs) savedCount += s.saved;
            const QJsonArray given = params.toArray();
            if (given.size() != savedCount) {
                in.Problem(rowName, QStringLiteral("%1 takes %2 parameters, the file gives %3")
                                        .arg(CommandItems()[c]).arg(savedCount).arg(given.size()));
                continue;
            }
            TCommandRowValues& row = rows[size_t(n)];
            row.command = c == cmd::None ? -1 : c;
            int next = 0;
            for (const TParamSpec& s : specs) {
                TCommandParam p;
                if (s.kind == TParamSpec::Label) {
                    row.params.push_back(p);
                    continue;
                }
                if (!s.saved) {
                    p.text = s.start;  // hidden address; the length follows the data below
                    row.params.push_back(p);
                    continue;
                }
                const QJsonValue v = given[next++];
                const QString where = s.name + QStringLiteral(": ");
                switch (s.kind) {
                case TParamSpec::Hex:
                case TParamSpec::Data: {
                    const QString t = v.toString();
                    if (!v.isString()) in.Problem(rowName, where + QStringLiteral("a text in quotes is needed"));
                    else if (FirstNonHex(t) >= 0)
                        in.Problem(rowName, where + QStringLiteral("\"%1\" is not a hexadecimal digit").arg(t.at(FirstNonHex(t))));
                    else if (t.size() > s.maxLength)
                        in.Problem(rowName, where + QStringLiteral("%1 digits, at most %2 fit").arg(t.size()).arg(s.maxLength));
                    else if (s.kind == TParamSpec::Hex) p.text = PadHexText(t, s.maxLength);
                    else {
                        const THexData d = NormalizeHexData(t);
                        p.text = d.data;
                        row.params.back().text = d.length;  // the read-only length before it
                    }
                    break;
                }
                case TParamSpec::List: {
                    p.item = -1;
                    for (int i = 0; i < s.items.size(); ++i)
                        if (v.isString() && s.items[i].compare(v.toString().trimmed(), Qt::CaseInsensitive) == 0) p.item = i;
                    if (p.item < 0)
                        in.Problem(rowName, where + QStringLiteral("%1 is not one of its items (%2)")
                                                        .arg(v.isString() ? QLatin1Char('"') + v.toString() + QLatin1Char('"')
                                                                          : QStringLiteral("a non-text"),
                                                             s.items.join(QStringLiteral(", "))));
                    break;
                }
                case TParamSpec::Check:
                    if (!v.isBool()) in.Problem(rowName, where + QStringLiteral("true or false is needed"));
                    p.checked = v.toBool();
                    break;
                default:
                    break;
                }
                row.params.push_back(p);
            }
        }
    }
    in.Finish();
    if (r.check.ok) r.rows = rows;
    return r;
}
