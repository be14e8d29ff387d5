#pragma once
// What every JSON file of the panel (configuration profiles, command
// scripts) shares: a format name and version, members read one by one with
// each problem collected under the member's name, unknown members listed,
// and members written in a fixed order so that files diff cleanly.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

// The outcome of reading a file: all or nothing.
struct TProfileCheck {
    bool ok = false;
    bool newerVersion = false;  // written by a newer panel: refused as a whole
    QStringList problems;       // "\"member\": why", or a problem of the whole file
    QStringList unknown;        // members this panel does not know (ignored)

    // The lines of one message: the problems, then the ignored members.
    QStringList Lines() const;
};

class TProfileReader {
public:
    // Parses the document and checks its format name and version (newer
    // versions are refused). False when the members cannot be read at all.
    TProfileReader(const QByteArray& bytes, const QString& format, int version, TProfileCheck& check);
    bool Readable() const { return readable_; }

    // Each reader marks the member as known and records a problem when it is
    // missing or of the wrong type; the result is then empty.
    std::optional<QString> Text(const QString& name);
    std::optional<int> Item(const QString& name, const QStringList& items);  // index; case-insensitive
    std::optional<std::vector<QString>> Texts(const QString& name, int count);
    std::optional<std::vector<int>> Numbers(const QString& name);
    // Marks a member as known without reading it (optional members).
    bool Has(const QString& name);
    QJsonValue Value(const QString& name);

    void Problem(const QString& name, const QString& why);
    // Call once all members are read: lists the unknown ones, sets ok.
    void Finish();

private:
    TProfileCheck& check_;
    QJsonObject object_;
    QStringList known_;
    bool readable_ = false;
};

// Writes members in the order given, indented by four spaces.
class TProfileWriter {
public:
    TProfileWriter(const QString& format, int version);
    void Text(const QString& name, const QString& value);
    void Texts(const QString& name, const QStringList& values);
    void Numbers(const QString& name, const std::vector<int>& values);
    void Array(const QString& name, const QJsonArray& values);  // one element per line
    QByteArray Bytes() const;

private:
    std::vector<std::pair<QString, QByteArray>> members_;
};
