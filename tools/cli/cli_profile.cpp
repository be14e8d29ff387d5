#include "tools/cli/cli_profile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <algorithm>

#include "module/config_decoder.h"
#include "module/config_image.h"
#include "settings/config_profile.h"

TProfileFromImage ProfileFromImage(const TMemoryBlock& image)
{
    TProfileFromImage p;
    p.erased = std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; });
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
    const QString suffix = QFileInfo(path).suffix();
    const QString bin = path.left(path.size() - suffix.size()) + QStringLiteral("bin");
    if (profile.erased)
        return QStringLiteral("%1 not written: the configuration memory is erased (every byte FF), so it holds no "
                              "settings for a profile. -o %2 keeps the image; pair takes it (with the Config Memory "
                              "page's start-up settings), or program the module with program-config first.")
            .arg(path, bin);
    constexpr int kListed = 16;
    const int count = int(profile.notInProfile.size());
    QStringList addresses;
    for (int i = 0; i < count && i < kListed; ++i)
        addresses << QStringLiteral("0x") + QStringLiteral("%1")
                                                .arg(profile.notInProfile[i].toObject().value(QStringLiteral("address")).toInt(),
                                                     2, 16, QLatin1Char('0'))
                                                .toUpper();
    if (count > kListed) addresses << QStringLiteral("and %1 more").arg(count - kListed);
    return QStringLiteral("%1 not written: a profile cannot hold %2 of the configuration memory's bytes (%3), so "
                          "it would not be a copy of this module. -o %4 keeps the exact image.")
        .arg(path, QString::number(count), addresses.join(QStringLiteral(", ")), bin);
}

bool LoadProfileValues(const QString& path, TConfigValues* values, QString* error, QStringList* warnings)
{
    QByteArray bytes;
    QString why;
    if (!ReadSmallFile(path, kMaxProfileBytes, &bytes, &why)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    }
    const TConfigProfileRead read = ReadConfigProfile(bytes);
    if (!read.check.ok) {
        *error = QStringLiteral("%1 is not a usable profile: %2").arg(path, read.check.problems.join(QStringLiteral("; ")));
        return false;
    }
    for (const QString& name : read.check.unknown)
        *warnings << QStringLiteral("%1: member %2 is not part of the profile and was ignored").arg(path, name);
    *values = read.values;
    return true;
}

bool LoadConfigInput(const QString& command, const QString& path, TConfigValues* values, TMemoryBlock* image,
                     QString* error, QStringList* warnings)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("json")) {
        if (!LoadProfileValues(path, values, error, warnings)) return false;
        *image = ConfigImage(*values);
        return true;
    }
    if (suffix != QLatin1String("bin")) {
        *error = QStringLiteral("%1 takes a profile (.json, as read-config -o FILE.json or Save Profile writes it) "
                                "or a raw configuration image (.bin, as read-config -o FILE.bin or Export Image "
                                "writes it), not %2")
                     .arg(command, path);
        return false;
    }
    if (!LoadRawImage(path, image, error)) return false;
    *values = DecodeConfigImage(*image).values;
    return true;
}
