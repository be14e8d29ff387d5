#include "record/record_location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "record/production_record.h"

namespace {

QString LocationFile()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tarnwick/record-location");
}

}  // namespace

QString SavedRecordLocation()
{
    QFile f(LocationFile());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(4096)).trimmed();
}

bool SaveRecordLocation(const QString& location, QString* error)
{
    const QString path = LocationFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    // Never a password in clear: the URL is kept without it, and the next
    // session takes it from libpq's places (PGPASSWORD, ~/.pgpass, a service file).
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QString trimmed = location.trimmed();
    const QString kept = TProductionRecord::IsSharedLocation(trimmed) ? TProductionRecord(trimmed).Describe() : trimmed;
    f.write(kept.toUtf8() + '\n');
    if (!f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}
