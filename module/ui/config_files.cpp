#include "module/ui/config_files.h"

#include <algorithm>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "module/config_decoder.h"
#include "module/config_image.h"
#include "settings/ui/config_page.h"
#include "settings/config_profile.h"

namespace {

const QString kProfileFilter = QStringLiteral("Configuration profile (*.json)");
const QString kImageFilter = QStringLiteral("Configuration image (*.bin)");
const QString kSaveProfile = QStringLiteral("Save Profile");
const QString kLoadProfile = QStringLiteral("Load Profile");
const QString kExportImage = QStringLiteral("Export Image");
const QString kImportImage = QStringLiteral("Import Image");

void Warn(TConfigPage& page, const QString& text, const QString& caption)
{
    Dialogs().MessageBox(&page, text, caption, mb::Ok | mb::IconExclamation);
}

}  // namespace

bool SaveProfileFile(TConfigPage& page, const QString& path)
{
    QString error;
    if (WritePrivateFileAtomically(path, WriteConfigProfile(page.Values()), &error)) return true;
    Warn(page, QStringLiteral("Could not save \"%1\": %2").arg(path, error), kSaveProfile);
    return false;
}

bool LoadProfileFile(TConfigPage& page, const QString& path)
{
    QByteArray bytes;
    QString error;
    if (!ReadSmallFile(path, kMaxProfileBytes, &bytes, &error)) {
        Warn(page, QStringLiteral("Could not load \"%1\": %2\nThe page keeps its values.").arg(path, error),
             kLoadProfile);
        return false;
    }
    const TConfigProfileRead r = ReadConfigProfile(bytes);
    if (!r.check.ok) {
        Warn(page,
             QStringLiteral("The profile \"%1\" was not loaded; the page keeps its values.\n\n").arg(path) +
                 r.check.Lines().join(QLatin1Char('\n')),
             kLoadProfile);
        return false;
    }
    page.SetValues(r.values);
    if (!r.check.unknown.isEmpty())
        Dialogs().MessageBox(&page,
                             QStringLiteral("The profile \"%1\" was loaded.\n\n").arg(path) +
                                 r.check.Lines().join(QLatin1Char('\n')),
                             kLoadProfile, mb::Ok | mb::IconInformation);
    return true;
}

bool ExportImageFile(TConfigPage& page, const QString& path)
{
    const TConfigImage image = ConfigImage(page.Values());
    QString error;
    if (WritePrivateFileAtomically(
            path, QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size())), &error))
        return true;
    Warn(page, QStringLiteral("Could not save \"%1\": %2").arg(path, error), kExportImage);
    return false;
}

bool ImportImageFile(TConfigPage& page, const QString& path)
{
    QByteArray bytes;
    QString error;
    if (!ReadSmallFile(path, 128, &bytes, &error) || bytes.size() != 128) {
        if (error.isEmpty()) error = QStringLiteral("it holds %1 bytes, a configuration image 128").arg(bytes.size());
        Warn(page, QStringLiteral("Could not import \"%1\": %2\nThe page keeps its values.").arg(path, error),
             kImportImage);
        return false;
    }
    TConfigImage image;
    std::copy(bytes.begin(), bytes.end(), image.begin());
    const TConfigDecoding d = DecodeConfigImage(image);
    page.SetValues(d.values);
    if (!d.differences.empty()) Warn(page, DifferenceMessage(d.differences), kImportImage);
    return true;
}

bool ConfirmSavingKey(QWidget* parent, const QString& whose)
{
    const int answer = Dialogs().MessageBox(
        parent,
        QStringLiteral("The profile holds %1. Anyone who reads the file can listen to the link: keep it private. "
                       "Save it?")
            .arg(whose),
        kSaveProfile, mb::OkCancel | mb::IconExclamation);
    return answer == mb::IdOk;
}

void SaveProfileClick(TConfigPage& page)
{
    const QString name = Dialogs().SaveFileName(&page, kSaveProfile, kProfileFilter, QStringLiteral("json"));
    if (!name.isEmpty() && ConfirmSavingKey(&page, QStringLiteral("the encryption key"))) SaveProfileFile(page, name);
}

void LoadProfileClick(TConfigPage& page)
{
    const QString name = Dialogs().OpenFileName(&page, kLoadProfile, kProfileFilter, QStringLiteral("json"));
    if (!name.isEmpty()) LoadProfileFile(page, name);
}

void ExportImageClick(TConfigPage& page)
{
    const QString name = Dialogs().SaveFileName(&page, kExportImage, kImageFilter, QStringLiteral("bin"));
    if (!name.isEmpty()) ExportImageFile(page, name);
}

void ImportImageClick(TConfigPage& page)
{
    const QString name = Dialogs().OpenFileName(&page, kImportImage, kImageFilter, QStringLiteral("bin"));
    if (!name.isEmpty()) ImportImageFile(page, name);
}
