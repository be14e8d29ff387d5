#include "tools/cli/port_listing.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "serial/com_types.h"
#include "serial/port_list.h"
#include "tools/cli/cli_options.h"

TPortsListing ListPorts(bool json)
{
    TPortsListing l;
    QStringList names;
    try {
        names = EnumerateSerialPorts();
    } catch (const EComPort& e) {
        l.err = QStringLiteral("tarnwick-cli: cannot list the serial devices: %1\n").arg(e.Message()).toLocal8Bit();
        l.exitCode = cli_exit::ModuleFailed;
        return l;
    }
    for (const QString& name : names) {
        const QString path = QStringLiteral("/dev/") + name;
        if (json) {
            const QJsonObject o{{QStringLiteral("port"), path},
                                {QStringLiteral("by_id"), QJsonValue(QJsonValue::Null)},
                                {QStringLiteral("description"), QString()}};
            l.out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        } else {
            l.out += path.toLocal8Bit() + '\n';
        }
    }
    return l;
}
