#include "app/remembered_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "commands/ui/command_script.h"
#include "common/atomic_file.h"
#include "serial/port_list.h"
#include "settings/config_profile.h"

namespace {

// Item counts of the Com Port page's groups.
constexpr int kBaudItems = 8, kDataItems = 2, kParityItems = 3, kStopItems = 2, kFlowItems = 4;
constexpr int kPages = 6;

int ReadItem(const QSettings& s, const QString& key, int count, int fallback)
{
    bool ok = false;
    const int v = s.value(key).toInt(&ok);
    return ok && v >= 0 && v < count ? v : fallback;
}

}  // namespace

QString SettingsFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnwick/tarnwick-panel.conf");
}

TRememberedSettings ReadRememberedSettings(const QString& path)
{
    TRememberedSettings r;
    if (!QFileInfo(path).isFile()) return r;
    QSettings s(path, QSettings::IniFormat);
    // A file Qt cannot read at all gives no keys; a damaged one the keys it
    // could read, each checked below.
    r.port = s.value(QStringLiteral("port/name")).toString();
    r.choices.baudItem = ReadItem(s, QStringLiteral("port/baudRate"), kBaudItems, r.choices.baudItem);
    r.choices.dataItem = ReadItem(s, QStringLiteral("port/dataLength"), kDataItems, r.choices.dataItem);
    r.choices.parityItem = ReadItem(s, QStringLiteral("port/parity"), kParityItems, r.choices.parityItem);
    r.choices.stopItem = ReadItem(s, QStringLiteral("port/stopBits"), kStopItems, r.choices.stopItem);
    r.choices.flowItem = ReadItem(s, QStringLiteral("port/flowControl"), kFlowItems, r.choices.flowItem);
    r.page = ReadItem(s, QStringLiteral("window/page"), kPages, 0);
    r.geometry = QByteArray::fromBase64(s.value(QStringLiteral("window/geometry")).toString().toLatin1());

    s.beginGroup(QStringLiteral("checks"));
    for (const QString& k : s.childKeys()) {
        const QString v = s.value(k).toString();
        if (v == QLatin1String("true") || v == QLatin1String("false")) r.checks.insert(k, v == QLatin1String("true"));
    }
    s.endGroup();
    s.beginGroup(QStringLiteral("folders"));
    for (const QString& k : s.childKeys()) {
        const QString v = s.value(k).toString();
        if (!v.isEmpty()) r.folders.insert(k, v);
    }
    s.endGroup();

    // The page and the rows are much typing: one that was stored but cannot
    // be restored is reported, never dropped without a word.
    const QString configKey = QStringLiteral("config/profile"), rowsKey = QStringLiteral("commands/script");
    const TConfigProfileRead config = ReadConfigProfile(s.value(configKey).toString().toUtf8());
    if (config.check.ok) r.config = config.values;
    else if (s.contains(configKey))
        r.lost << QStringLiteral("The remembered Config Memory page could not be restored; the page starts with its "
                                 "start values:")
               << config.check.Lines();
    const TCommandScriptRead script = ReadCommandScript(s.value(rowsKey).toString().toUtf8());
    if (script.check.ok) r.rows = script.rows;
    else if (s.contains(rowsKey))
        r.lost << QStringLiteral("The remembered command rows could not be restored; the rows start empty:")
               << script.check.Lines();
    return r;
}

bool WriteRememberedSettings(const QString& path, const TRememberedSettings& r)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The file holds the key in clear: owner only before the first byte is
    // written (Qt's rewrite keeps the mode of the file it replaces) and after.
    if (!MakeFileOwnerOnly(path)) return false;
    QSettings s(path, QSettings::IniFormat);
    s.clear();
    s.setValue(QStringLiteral("port/name"), r.port);
    s.setValue(QStringLiteral("port/baudRate"), r.choices.baudItem);
    s.setValue(QStringLiteral("port/dataLength"), r.choices.dataItem);
    s.setValue(QStringLiteral("port/parity"), r.choices.parityItem);
    s.setValue(QStringLiteral("port/stopBits"), r.choices.stopItem);
    s.setValue(QStringLiteral("port/flowControl"), r.choices.flowItem);
    s.setValue(QStringLiteral("window/page"), r.page);
    s.setValue(QStringLiteral("window/geometry"), QString::fromLatin1(r.geometry.toBase64()));
    for (auto it = r.checks.begin(); it != r.checks.end(); ++it)
        s.setValue(QStringLiteral("checks/") + it.key(), it.value() ? QStringLiteral("true") : QStringLiteral("false"));
    for (auto it = r.folders.begin(); it != r.folders.end(); ++it)
        s.setValue(QStringLiteral("folders/") + it.key(), it.value());
    if (r.config) s.setValue(QStringLiteral("config/profile"), QString::fromUtf8(WriteConfigProfile(*r.config)));
    if (r.rows) s.setValue(QStringLiteral("commands/script"), QString::fromUtf8(WriteCommandScript(*r.rows)));
    s.sync();
    return s.status() == QSettings::NoError && MakeFileOwnerOnly(path);
}

bool ForgetRememberedSettings(const QString& path)
{
    return !QFileInfo::exists(path) || QFile::remove(path);
}

QString StableDeviceName(const QString& path, const QString& byIdDir)
{
    if (path.isEmpty()) return path;
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) return path;
    // Adapters without a serial number share one by-id name: the path is
    // what tells them apart.
    if (LacksSerialNumber(target)) return path.startsWith(byIdDir + QLatin1Char('/')) ? target : path;
    const QDir dir(byIdDir);
    for (const QString& name : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString link = dir.filePath(name);
        if (link != path && QFileInfo(link).canonicalFilePath() == target) return link;
    }
    return path;
}
