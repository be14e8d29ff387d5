#include "tools/cli/port_listing.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "serial/com_types.h"
#include "serial/port_list.h"
#include "tools/cli/cli_options.h"

TPortsListing ListPorts(bool json)
{
    TPortsListing l;
    QList<TPortInfo> ports;
    try {
        ports = ListPortInfos();
    } catch (const EComPort& e) {
        l.err = QStringLiteral("tarnwick-cli: cannot list the serial devices: %1\n").arg(e.Message()).toLocal8Bit();
        l.exitCode = cli_exit::ModuleFailed;
        return l;
    }
    for (const TPortInfo& p : ports) {
        if (json) {
            const QJsonObject o{{QStringLiteral("port"), p.path},
                                {QStringLiteral("by_id"), p.byId.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(p.byId)},
                                {QStringLiteral("description"), p.Description()},
                                {QStringLiteral("maker"), p.maker},
                                {QStringLiteral("product"), p.product},
                                {QStringLiteral("serial"), p.serial},
                                {QStringLiteral("driver"), p.driver}};
            l.out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        } else {
            // path, stable name, description: tab-separated for scripts.
            l.out += QStringLiteral("%1\t%2\t%3\n").arg(p.path, p.byId.isEmpty() ? QStringLiteral("-") : p.byId, p.Description()).toLocal8Bit();
        }
    }
    return l;
}
