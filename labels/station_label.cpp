#include "labels/station_label.h"

#include <QTemporaryDir>

#include "settings/power_up_rules.h"

namespace {

QString Item(const QStringList& items, int index)
{
    return index >= 0 && index < items.size() ? items[index] : QString();
}

}  // namespace

TLabelContent StationLabelContent(const TStationLabelRequest& request, const TStationLabelSetup& setup)
{
    TLabelContent c;
    c.unitAddress = request.unitAddress;
    c.profileName = setup.profileName.isEmpty() ? request.profileName : setup.profileName;
    c.mode = Item(powerup::ModeItems(), setup.profile.mode);
    c.rfChannel = QString::number(setup.profile.channel);
    c.rate = Item(powerup::RFDataRateItems(), setup.profile.rfDataRate);
    c.role = Item(powerup::MasterSlaveItems(), setup.profile.masterSlave);
    c.date = (request.timeUtc.isValid() ? request.timeUtc.toLocalTime() : QDateTime::currentDateTime()).date();
    c.station = request.station;
    c.rowId = request.rowId;
    return c;
}

TStationLabelOutcome MakeStationLabel(const TStationLabelRequest& request, const TStationLabelSetup& setup)
{
    TStationLabelOutcome out;
    const TLabelContent content = StationLabelContent(request, setup);
    // Only printed: drawn in a folder of its own that goes afterwards.
    QTemporaryDir scratch;
    const QString dir = setup.dir.isEmpty() ? scratch.path() : setup.dir;
    if (setup.dir.isEmpty() && !scratch.isValid()) {
        out.error = QStringLiteral("cannot write the label: no temporary folder (%1)").arg(scratch.errorString());
        return out;
    }
    TLabelFiles files;
    const QString written = WriteLabel(content, setup.size, dir, LabelFileName(content), &files);
    if (!written.isEmpty()) {
        out.error = QStringLiteral("cannot write the label: %1").arg(written);
        return out;
    }
    if (!setup.dir.isEmpty()) out.file = files.png;
    if (!setup.printer.isEmpty()) {
        const QString printed = PrintLabel(files.pdf, setup.printer, setup.size, nullptr, setup.timeoutMs);
        if (!printed.isEmpty()) {
            out.error = QStringLiteral("cannot print on %1: %2").arg(setup.printer, printed);
            return out;
        }
    }
    out.ok = true;
    return out;
}
