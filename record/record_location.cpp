#include "record/record_location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    // The URL may hold a password.
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (error) *error = f.errorString();
        return false;
    }
    f.write(location.trimmed().toUtf8() + '\n');
    if (!f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}
