#include "app/panel_record.h"

#include "module/config_layout.h"
#include "module/operation_report.h"
#include "record/image_hash.h"
#include "record/record_entry.h"
#include "record/record_writer.h"
#include "record/unit_reservation.h"
#include "serial/port_list.h"

#ifndef TW_VERSION_TEXT
#define TW_VERSION_TEXT "1.17"
#endif

void RecordPanelOperations(std::function<void(const QString&)> tell)
{
    // What the record says (rows kept in the spool, and why) reaches the
    // status line; called on the writer's thread.
    TRecordWriter::SetNoticeHandler(std::move(tell));
    SetOperationReportSink([](const TOperationReport& r) {
        TRecordEntry e = NewRecordEntry(QStringLiteral("tarnwick-panel " TW_VERSION_TEXT), r.operation);
        if (r.started.isValid()) e.timeUtc = r.started;
        e.port = r.port;
        e.portById = PortByIdName(r.port);
        e.usbSerial = PortUsbSerial(r.port);
        e.moduleVersion = r.moduleVersion;
        if (!r.image.empty()) {
            const int n = int(r.image.size());
            e.imageSha256 = r.configImage ? ConfigImageHashWithoutKey(r.image.data(), n) : ImageHash(r.image.data(), n);
            if (r.configImage) e.keyFingerprint = ConfigKeyFingerprint(r.image.data(), n);
        }
        e.verified = r.verified;
        e.differences = r.differences;
        e.outcome = !r.outcome.isEmpty() ? r.outcome : r.ok ? QStringLiteral("ok") : r.stopped ? QStringLiteral("stopped") : QStringLiteral("failed");
        e.exitStatus = r.ok ? 0 : 1;
        e.error = r.error;
        e.durationMs = r.durationMs;
        e.pairId = r.pairId;
        e.role = r.role;
        // The unit address a configuration went into the module with.
        if (r.configImage && r.image.size() >= size_t(config_layout::kOffAddress + 2) &&
            (r.operation == QLatin1String("program-config") || r.operation == QLatin1String("pair")))
            e.unitAddress = UnitAddressText(r.image[config_layout::kOffAddress] | r.image[config_layout::kOffAddress + 1] << 8);
        TRecordWriter::Post(e);
    });
}

void FlushPanelRecord(int timeoutMs) { TRecordWriter::Flush(timeoutMs); }
