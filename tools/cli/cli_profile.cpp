#include "tools/cli/cli_profile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include "module/config_decoder.h"
#include "module/config_image.h"
#include "settings/config_profile.h"

TProfileFromImage ProfileFromImage(const TMemoryBlock& image)
{
    TProfileFromImage p;
    const TConfigDecoding decoding = DecodeConfigImage(image);
    p.bytes = WriteConfigProfile(decoding.values);
    p.json = QJsonDocument::fromJson(p.bytes).object();
    for (const TConfigDifference& d : decoding.differences) {
        p.notInProfile.append(QJsonObject{{QStringLiteral("offset"), d.offset},
                                          {QStringLiteral("address"), 0x80 + d.offset},
                                          {QStringLiteral("found"), int(d.found)},
                                          {QStringLiteral("written"), int(d.written)},
                                          {QStringLiteral("why"), DecodeReasonText(d.reason)}});
    }
    if (!decoding.differences.empty()) {
        p.warnings = DifferenceMessageLines(decoding.differences);
        p.warnings << QStringLiteral("For an exact copy of the memory, read it with -o FILE.bin.");
    }
    return p;
}

QString ProfileRefusal(const QString& path, const TProfileFromImage& profile)
{
    constexpr int kListed = 16;
    const int count = int(profile.notInProfile.size());
    QStringList addresses;
    for (int i = 0; i < count && i < kListed; ++i)
        addresses << QStringLiteral("0x") + QStringLiteral("%1")
                                                .arg(profile.notInProfile[i].toObject().value(QStringLiteral("address")).toInt(),
                                                     2, 16, QLatin1Char('0'))
                                                .toUpper();
    if (count > kListed) addresses << QStringLiteral("and %1 more").arg(count - kListed);
    const QString suffix = QFileInfo(path).suffix();
    const QString bin = path.left(path.size() - suffix.size()) + QStringLiteral("bin");
    return QStringLiteral("%1 not written: a profile cannot hold %2 of the configuration memory's bytes (%3), so "
                          "it would not be a copy of this module. -o %4 keeps the exact image.")
        .arg(path, QString::number(count), addresses.join(QStringLiteral(", ")), bin);
}

bool LoadProfileValues(const QString& path, TConfigValues* values, QString* error, QStringList* warnings)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    const TConfigProfileRead read = ReadConfigProfile(f.readAll());
    if (!read.check.ok) {
        *error = QStringLiteral("%1 is not a usable profile: %2").arg(path, read.check.problems.join(QStringLiteral("; ")));
        return false;
    }
    for (const QString& name : read.check.unknown)
        *warnings << QStringLiteral("%1: member %2 is not part of the profile and was ignored").arg(path, name);
    *values = read.values;
    return true;
}

bool LoadProfileImage(const QString& path, TMemoryBlock* image, QString* error, QStringList* warnings)
{
    TConfigValues values;
    if (!LoadProfileValues(path, &values, error, warnings)) return false;
    // The reader held every value to the page's rules: nothing to replace.
    *image = ConfigImage(values);
    return true;
}
