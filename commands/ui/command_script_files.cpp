#include "commands/ui/command_script_files.h"

#include "commands/ui/command_page.h"
#include "commands/ui/command_script.h"
#include "common/atomic_file.h"
#include "common/ui/dialogs.h"

namespace {

const QString kFilter = QStringLiteral("Command script (*.json)");
const QString kSave = QStringLiteral("Save Command Script");
const QString kLoad = QStringLiteral("Load Command Script");
constexpr qint64 kMaxScriptBytes = 1 << 20;

}  // namespace

bool SaveScriptFile(TCommandPage& page, const QString& path)
{
    std::vector<TCommandRowValues> rows;
    for (int n = 1; n <= TCommandPage::kRows; ++n) rows.push_back(page.RowValues(n));
    QString error;
    if (WriteFileAtomically(path, WriteCommandScript(rows), &error)) return true;
    Dialogs().MessageBox(&page, QStringLiteral("Could not save \"%1\": %2").arg(path, error), kSave,
                         mb::Ok | mb::IconExclamation);
    return false;
}

bool LoadScriptFile(TCommandPage& page, const QString& path)
{
    QByteArray bytes;
    QString error;
    TCommandScriptRead r;
    if (ReadSmallFile(path, kMaxScriptBytes, &bytes, &error)) r = ReadCommandScript(bytes);
    else r.check.problems << error;
    if (!r.check.ok) {
        Dialogs().MessageBox(&page,
                             QStringLiteral("The command script \"%1\" was not loaded; the rows keep their "
                                            "commands.\n\n")
                                     .arg(path) +
                                 r.check.Lines().join(QLatin1Char('\n')),
                             kLoad, mb::Ok | mb::IconExclamation);
        return false;
    }
    for (int n = 1; n <= TCommandPage::kRows; ++n) page.SetRowValues(n, r.rows[size_t(n - 1)]);
    if (!r.check.unknown.isEmpty())
        Dialogs().MessageBox(&page,
                             QStringLiteral("The command script \"%1\" was loaded.\n\n").arg(path) +
                                 r.check.Lines().join(QLatin1Char('\n')),
                             kLoad, mb::Ok | mb::IconInformation);
    return true;
}

void SaveScriptClick(TCommandPage& page)
{
    const QString name = Dialogs().SaveFileName(&page, kSave, kFilter, QStringLiteral("json"));
    if (!name.isEmpty()) SaveScriptFile(page, name);
}

void LoadScriptClick(TCommandPage& page)
{
    const QString name = Dialogs().OpenFileName(&page, kLoad, kFilter, QStringLiteral("json"));
    if (!name.isEmpty()) LoadScriptFile(page, name);
}
