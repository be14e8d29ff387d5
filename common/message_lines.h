#pragma once
// Lists shown in one message box are cut so that the box stays on the
// screen: the first lines, then "... and N more"; a single line is cut too.
#include <QString>
#include <QStringList>

constexpr int kListedMessageLines = 16;
constexpr int kMessageLineChars = 200;

// At most `listed` entries (each at most kMessageLineChars characters), then
// "... and N more" when entries were left out.
QStringList CappedMessageLines(const QStringList& entries, int listed = kListedMessageLines);
// One line cut to kMessageLineChars characters, ending in "..." when cut.
QString CappedMessageLine(const QString& line);
