// Command scripts: the rows written to JSON and read back, the parameter
// list matching the controls the page builds, and every way a file is wrong.
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "commands/ui/command_script.h"
#include "common/ui/port_controls.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "support/scripted_dialogs.h"

namespace {

bool SameRow(const TCommandRowValues& a, const TCommandRowValues& b)
{
    if (a.command != b.command || a.params.size() != b.params.size()) return false;
    for (size_t i = 0; i < a.params.size(); ++i)
        if (a.params[i].text != b.params[i].text || a.params[i].item != b.params[i].item ||
            a.params[i].checked != b.params[i].checked)
            return false;
    return true;
}

QByteArray Script(const QJsonArray& rows, int version = 1)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), commandscript::kFormat);
    o.insert(QStringLiteral("version"), version);
    o.insert(QStringLiteral("rows"), rows);
    return QJsonDocument(o).toJson();
}

QJsonObject Row(const QString& command, const QJsonArray& params)
{
    return QJsonObject{{QStringLiteral("command"), command}, {QStringLiteral("parameters"), params}};
}

}  // namespace

class TestCommandScript : public QObject {
    Q_OBJECT

    TScriptedDialogs dialogs;
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TModuleSession> session;
    std::unique_ptr<TPortControls> controls;

    std::unique_ptr<TCommandPage> NewPage()
    {
        auto page = std::make_unique<TCommandPage>(*session, *controls);
        page->CreateCommandRows();
        return page;
    }

private slots:
    void init()
    {
        SetDialogs(&dialogs);
        port = std::make_unique<TComPort>();
        session = std::make_unique<TModuleSession>(*port);
        controls = std::make_unique<TPortControls>();
    }
    void cleanup()
    {
        controls.reset();
        session.reset();
        port.reset();
        SetDialogs(nullptr);
    }

    // The script's parameter list is the controls the page builds.
    void specsMatchThePage()
    {
        auto page = NewPage();
        for (int c = 0; c < cmd::Count; ++c) {
            page->CommandCombo(1)->setCurrentIndex(c);
            const std::vector<TParamSpec> specs = CommandParamSpecs(c);
            QCOMPARE(page->ParamCount(1), int(specs.size()));
            for (int i = 0; i < int(specs.size()); ++i) {
                const TParamSpec& s = specs[size_t(i)];
                QWidget* w = page->ParamControl(1, i + 1);
                if (auto* e = qobject_cast<QLineEdit*>(w)) {
                    QVERIFY(s.kind == TParamSpec::Hex || s.kind == TParamSpec::Data || s.kind == TParamSpec::Length);
                    QCOMPARE(e->maxLength(), s.maxLength);
                    QCOMPARE(e->text(), s.start);
                    QCOMPARE(e->toolTip(), s.name);
                    QCOMPARE(s.saved, !e->isReadOnly() && !e->isHidden());
                } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                    QCOMPARE(s.kind, TParamSpec::List);
                    QCOMPARE(combo->count(), int(s.items.size()));
                    QCOMPARE(combo->itemText(combo->count() - 1), s.items.last());
                    QCOMPARE(combo->currentIndex(), s.startItem);
                } else if (qobject_cast<QCheckBox*>(w)) {
                    QCOMPARE(s.kind, TParamSpec::Check);
                    QCOMPARE(w->toolTip(), s.name);
                } else {
                    QVERIFY(qobject_cast<QLabel*>(w));
                    QCOMPARE(s.kind, TParamSpec::Label);
                }
            }
        }
    }

    void rowsRoundTrip()
    {
        auto page = NewPage();
        page->CommandCombo(1)->setCurrentIndex(cmd::Connect);
        page->CommandCombo(2)->setCurrentIndex(cmd::WriteFlash);
        page->CommandCombo(3)->setCurrentIndex(cmd::SetUART);
        page->CommandCombo(4)->setCurrentIndex(cmd::SetPortPins);
        page->CommandCombo(5)->setCurrentIndex(cmd::ReadStatus);
        page->CommandCombo(6)->setCurrentIndex(cmd::SendSerialData);
        page->CommandCombo(8)->setCurrentIndex(cmd::Nop);
        qobject_cast<QLineEdit*>(page->ParamControl(1, 1))->setText(QStringLiteral("12AB"));
        qobject_cast<QLineEdit*>(page->ParamControl(2, 1))->setText(QStringLiteral("3"));
        qobject_cast<QLineEdit*>(page->ParamControl(2, 3))->setText(QStringLiteral("102030405"));
        qobject_cast<QComboBox*>(page->ParamControl(3, 2))->setCurrentIndex(7);
        qobject_cast<QCheckBox*>(page->ParamControl(4, 3))->setChecked(true);
        qobject_cast<QCheckBox*>(page->ParamControl(5, 1))->setChecked(true);
        qobject_cast<QLineEdit*>(page->ParamControl(6, 3))->setText(QStringLiteral("4142"));
        qobject_cast<QLineEdit*>(page->ParamControl(8, 1))->setText(QStringLiteral("1F"));

        std::vector<TCommandRowValues> rows;
        for (int n = 1; n <= 9; ++n) rows.push_back(page->RowValues(n));
        const TCommandScriptRead r = ReadCommandScript(WriteCommandScript(rows));
        QVERIFY2(r.check.ok, qPrintable(r.check.Lines().join(QLatin1Char('\n'))));

        auto other = NewPage();
        for (int n = 1; n <= 9; ++n) other->SetRowValues(n, r.rows[size_t(n - 1)]);
        for (int n = 1; n <= 9; ++n) {
            TCommandRowValues expected = rows[size_t(n - 1)];
            if (n == 2) {  // the data as leaving the field leaves it, with its length
                QCOMPARE(expected.params[1].text, QStringLiteral("04"));
                expected.params[2].text = QStringLiteral("0102030405");
            }
            QVERIFY2(SameRow(other->RowValues(n), expected), qPrintable(QStringLiteral("row %1").arg(n)));
        }
        QCOMPARE(other->CommandCombo(7)->currentIndex(), -1);
        // And the rows send the same frames (row 2's data was never left).
        for (int n = 1; n <= 9; ++n)
            if (n != 2)
            QCOMPARE(FrameBytes(EncodeCommand(other->RowValues(n)).CommandFrame),
                     FrameBytes(EncodeCommand(page->RowValues(n)).CommandFrame));
    }

    void badScripts_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown command") << Script({Row(QStringLiteral("Reboot"), {})}) << "\"row 1\": \"Reboot\" is no command of the list";
        QTest::newRow("parameter count") << Script({Row(QString(), {}), Row(QStringLiteral("Connect"), {})})
                                         << "\"row 2\": Connect takes 1 parameters, the file gives 0";
        QTest::newRow("bad hex") << Script({Row(QStringLiteral("Connect"), {QStringLiteral("12G4")})})
                                 << "\"row 1\": Tarnwick unit address (Hex): \"G\" is not a hexadecimal digit";
        QTest::newRow("too long") << Script({Row(QStringLiteral("Read Flash"), {QStringLiteral("0"), QStringLiteral("123")})})
                                  << "\"row 1\": Length (Hex): 3 digits, at most 2 fit";
        QTest::newRow("unknown item") << Script({Row(QStringLiteral("Set RF Data Rate"), {QStringLiteral("1 Mbps")})})
                                      << "\"row 1\": Select RF data rate: \"1 Mbps\" is not one of its items";
        QTest::newRow("wrong type") << Script({Row(QStringLiteral("Read Status"), {QStringLiteral("yes")})})
                                    << "\"row 1\": Repeat until 0x6B or timeout: true or false is needed";
        QTest::newRow("row not an object") << Script({1}) << "\"row 1\": a \"command\" text and a \"parameters\" list are needed";
        QJsonArray ten;
        for (int i = 0; i < 10; ++i) ten.append(Row(QString(), {}));
        QTest::newRow("ten rows") << Script(ten) << "\"rows\": a list of at most 9 rows is needed";
        QTest::newRow("missing rows") << QByteArray(R"({"format": "tarnwick-command-script", "version": 1})") << "\"rows\": missing";
        QTest::newRow("truncated") << Script({Row(QStringLiteral("Connect"), {QStringLiteral("0000")})}).left(60)
                                   << "The file is not valid JSON";
        QTest::newRow("newer version") << Script({}, 2) << "format version 2, written by a newer panel";
        QTest::newRow("a profile") << QByteArray(R"({"format": "tarnwick-config-profile", "version": 1})")
                                   << "not a tarnwick-command-script file";
    }
    void badScripts()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, named);
        const TCommandScriptRead r = ReadCommandScript(file);
        QVERIFY(!r.check.ok);
        QVERIFY(r.rows.empty());
        const QString message = r.check.Lines().join(QLatin1Char('\n'));
        QVERIFY2(message.contains(named), qPrintable(message));
    }
};

QTEST_MAIN(TestCommandScript)
#include "test_command_script.moc"
