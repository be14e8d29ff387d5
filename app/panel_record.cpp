#include "app/panel_record.h"

#include "module/operation_report.h"
#include "record/image_hash.h"
#include "record/record_entry.h"
#include "record/record_writer.h"
#include "serial/port_list.h"

#ifndef TW_VERSION_TEXT
#define TW_VERSION_TEXT "1.17"
#endif

void RecordPanelOperations()
{
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
        TRecordWriter::Post(e);
    });
}

void FlushPanelRecord(int timeoutMs) { TRecordWriter::Flush(timeoutMs); }
