#include "settings/profile_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

#include "common/message_lines.h"

namespace {

const QString kFormat = QStringLiteral("format");
const QString kVersion = QStringLiteral("version");

QString Quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

QByteArray Compact(const QJsonValue& v)
{
    // A value on its own: wrapped in an array for the writer, then unwrapped.
    const QByteArray a = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return a.mid(1, a.size() - 2);
}

QString ItemsText(const QStringList& items)
{
    if (items.size() > 12) return items.first() + QStringLiteral(" to ") + items.last();
    return items.join(QStringLiteral(", "));
}

}  // namespace

QStringList TProfileCheck::Lines() const
{
    // A file may repeat a bad member many thousand times: the message lists
    // the first few and counts the rest.
    QStringList lines = CappedMessageLines(problems);
    if (!unknown.isEmpty()) {
        QStringList names;
        for (const QString& n : unknown.mid(0, kListedMessageLines)) names << CappedMessageLine(Quoted(n));
        QString line = QStringLiteral("Members this panel does not know (ignored): ") + names.join(QStringLiteral(", "));
        if (unknown.size() > kListedMessageLines)
            line += QStringLiteral(" ... and %1 more").arg(unknown.size() - kListedMessageLines);
        lines << line;
    }
    return lines;
}

TProfileReader::TProfileReader(const QByteArray& bytes, const QString& format, int version, TProfileCheck& check)
    : check_(check)
{
    check_ = TProfileCheck{};
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError) {
        check_.problems << QStringLiteral("The file is not valid JSON (%1 at character %2); it may be cut short.")
                               .arg(err.errorString())
                               .arg(err.offset);
        return;
    }
    if (!doc.isObject()) {
        check_.problems << QStringLiteral("The file holds no JSON object.");
        return;
    }
    object_ = doc.object();
    known_ << kFormat << kVersion;
    if (object_.value(kFormat).toString() != format) {
        check_.problems << QStringLiteral("The file is not a %1 file (its \"format\" member is not \"%1\").").arg(format);
        return;
    }
    const QJsonValue v = object_.value(kVersion);
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 1 || d != std::floor(d)) {
        check_.problems << QStringLiteral("\"version\": a whole number from 1 is needed.");
        return;
    }
    if (d > version) {
        check_.newerVersion = true;
        check_.problems << QStringLiteral("The file has format version %1, written by a newer panel; this panel "
                                          "reads version %2 and older.")
                               .arg(QString::number(d, 'f', 0))
                               .arg(version);
        return;
    }
    readable_ = true;
}

void TProfileReader::Problem(const QString& name, const QString& why) { check_.problems << Quoted(name) + QStringLiteral(": ") + why; }

bool TProfileReader::Has(const QString& name)
{
    known_ << name;
    return object_.contains(name);
}

QJsonValue TProfileReader::Value(const QString& name)
{
    known_ << name;
    return object_.value(name);
}

std::optional<QString> TProfileReader::Text(const QString& name)
{
    if (!Has(name)) {
        Problem(name, QStringLiteral("missing"));
        return std::nullopt;
    }
    const QJsonValue v = object_.value(name);
    if (!v.isString()) {
        Problem(name, QStringLiteral("a text in quotes is needed"));
        return std::nullopt;
    }
    return v.toString();
}

std::optional<int> TProfileReader::Item(const QString& name, const QStringList& items)
{
    const std::optional<QString> t = Text(name);
    if (!t) return std::nullopt;
    for (int i = 0; i < items.size(); ++i)
        if (items[i].compare(t->trimmed(), Qt::CaseInsensitive) == 0) return i;
    Problem(name, QStringLiteral("\"%1\" is not one of its items (%2)").arg(*t, ItemsText(items)));
    return std::nullopt;
}

std::optional<std::vector<QString>> TProfileReader::Texts(const QString& name, int count)
{
    if (!Has(name)) {
        Problem(name, QStringLiteral("missing"));
        return std::nullopt;
    }
    const QJsonValue v = object_.value(name);
    const QJsonArray a = v.toArray();
    bool texts = v.isArray() && a.size() == count;
    for (const QJsonValue& e : a) texts = texts && e.isString();
    if (!texts) {
        Problem(name, QStringLiteral("a list of %1 texts in quotes is needed").arg(count));
        return std::nullopt;
    }
    std::vector<QString> out;
    for (const QJsonValue& e : a) out.push_back(e.toString());
    return out;
}

std::optional<std::vector<int>> TProfileReader::Numbers(const QString& name)
{
    if (!Has(name)) {
        Problem(name, QStringLiteral("missing"));
        return std::nullopt;
    }
    const QJsonValue v = object_.value(name);
    bool ok = v.isArray();
    std::vector<int> out;
    for (const QJsonValue& e : v.toArray()) {
        const double d = e.toDouble(-1e9);
        ok = ok && e.isDouble() && d == std::floor(d) && std::fabs(d) < 1e6;
        if (ok) out.push_back(int(d));
    }
    if (!ok) {
        Problem(name, QStringLiteral("a list of whole numbers is needed"));
        return std::nullopt;
    }
    return out;
}

void TProfileReader::Finish()
{
    if (!readable_) return;
    for (auto it = object_.begin(); it != object_.end(); ++it)
        if (!known_.contains(it.key())) check_.unknown << it.key();
    check_.ok = check_.problems.isEmpty();
}

TProfileWriter::TProfileWriter(const QString& format, int version)
{
    Text(kFormat, format);
    members_.emplace_back(kVersion, QByteArray::number(version));
}

void TProfileWriter::Text(const QString& name, const QString& value) { members_.emplace_back(name, Compact(value)); }

void TProfileWriter::Texts(const QString& name, const QStringList& values)
{
    QByteArray s = "[";
    for (qsizetype i = 0; i < values.size(); ++i) s += (i ? ", " : "") + Compact(values[i]);
    members_.emplace_back(name, s + "]");
}

void TProfileWriter::Numbers(const QString& name, const std::vector<int>& values)
{
    QByteArray s = "[";
    for (size_t i = 0; i < values.size(); ++i) s += (i ? ", " : "") + QByteArray::number(values[i]);
    members_.emplace_back(name, s + "]");
}

void TProfileWriter::Array(const QString& name, const QJsonArray& values)
{
    QByteArray s = "[";
    for (qsizetype i = 0; i < values.size(); ++i) s += (i ? ",\n        " : "\n        ") + Compact(values[i]);
    members_.emplace_back(name, s + (values.isEmpty() ? "]" : "\n    ]"));
}

QByteArray TProfileWriter::Bytes() const
{
    QByteArray out = "{\n";
    for (size_t i = 0; i < members_.size(); ++i) {
        out += "    " + Compact(members_[i].first) + ": " + members_[i].second;
        out += i + 1 < members_.size() ? ",\n" : "\n";
    }
    return out + "}\n";
}
