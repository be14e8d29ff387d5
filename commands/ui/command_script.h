#pragma once
// Command scripts: the nine command rows (each command and its parameter
// texts, items and check boxes) as a JSON file, read back with the rows'
// own field rules, all rows or none. Widget-free.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "commands/command_encoder.h"
#include "settings/profile_json.h"

namespace commandscript {
inline const QString kFormat = QStringLiteral("tarnwick-command-script");
constexpr int kVersion = 1;
constexpr int kRows = 9;
}  // namespace commandscript

// The parameter controls a command's row creates, in their order.
struct TParamSpec {
    enum Kind { Hex, Data, Length, List, Check, Label } kind = Hex;
    QString name;          // the control's hint ("Address (Hex)")
    int maxLength = 0;     // Hex and Data
    QString start;         // start text of an edit
    QStringList items;     // List
    int startItem = 0;     // List
    bool saved = true;     // false: derived or never shown (not in the file)
};
std::vector<TParamSpec> CommandParamSpecs(int command);

// Rows as the page reads them (TCommandPage::RowValues), row 1 first.
QByteArray WriteCommandScript(const std::vector<TCommandRowValues>& rows);

struct TCommandScriptRead {
    TProfileCheck check;
    // When check.ok: nine rows, every parameter control in the row's order
    // (labels as empty entries, the length derived from the data), texts
    // settled as leaving their fields would leave them.
    std::vector<TCommandRowValues> rows;
};
TCommandScriptRead ReadCommandScript(const QByteArray& bytes);
