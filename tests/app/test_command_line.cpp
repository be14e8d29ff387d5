// The panel's command line: help, version and usage errors end the program
// before it needs a display; Qt's own options pass.
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include "app/command_line.h"

class TestCommandLine : public QObject {
    Q_OBJECT

    static PanelCommandLine Parse(QStringList args)
    {
        args.prepend(QStringLiteral("tarnwick-panel"));
        return ParsePanelCommandLine(args);
    }

private slots:
    void helpAndVersionExitCleanly()
    {
        const PanelCommandLine help = Parse({QStringLiteral("--help")});
        QCOMPARE(help.action, PanelCommandLine::Action::Exit);
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: tarnwick-panel [options]\n")));
        QVERIFY(help.out.contains(QStringLiteral("--simulate")));
        QVERIFY(help.err.isEmpty());

        const PanelCommandLine version = Parse({QStringLiteral("--version")});
        QCOMPARE(version.action, PanelCommandLine::Action::Exit);
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("tarnwick-panel 1.17\n"));
    }

    void usageErrorsSayWhatIsWrong_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("what");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << QStringLiteral("frobnicate");
        QTest::newRow("missing value") << QStringList{QStringLiteral("--port")} << QStringLiteral("port");
        QTest::newRow("empty value") << QStringList{QStringLiteral("--port=")} << QStringLiteral("--port");
        QTest::newRow("port twice") << QStringList{QStringLiteral("--port"), QStringLiteral("ttyUSB0"), QStringLiteral("--port=ttyUSB1")}
                                    << QStringLiteral("--port is given twice");
        QTest::newRow("stray argument") << QStringList{QStringLiteral("ttyUSB0")} << QStringLiteral("ttyUSB0");
    }
    void usageErrorsSayWhatIsWrong()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, what);
        const PanelCommandLine r = Parse(args);
        QCOMPARE(r.action, PanelCommandLine::Action::Exit);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith(QStringLiteral("tarnwick-panel: ")), qPrintable(r.err));
        QVERIFY2(r.err.section(QLatin1Char('\n'), 0, 0).contains(what), qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("Usage: tarnwick-panel")));
    }

    void optionsToRunWith()
    {
        const PanelCommandLine r = Parse({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                          QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB1"),
                                          QStringLiteral("-style=Fusion"), QStringLiteral("--simulate"),
                                          QStringLiteral("--profile"), QStringLiteral("site-b.json"),
                                          QStringLiteral("--reset-settings")});
        QCOMPARE(r.action, PanelCommandLine::Action::Run);
        QCOMPARE(r.port, QStringLiteral("/dev/ttyUSB1"));
        QVERIFY(r.simulate);
        QCOMPARE(r.profile, QStringLiteral("site-b.json"));
        QVERIFY(r.resetSettings);
        QVERIFY(!Parse({}).resetSettings);
    }

    // The real program, with no display at all.
    void programPrintsWithoutDisplay()
    {
        const QString panel = qEnvironmentVariable("TW_PANEL");
        if (panel.isEmpty()) QSKIP("TW_PANEL not set");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));

        struct Result {
            bool finished = false;
            int code = -1;
            QString out, err;
        };
        const auto run = [&](const QStringList& args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(panel, args);
            Result r;
            r.finished = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
            r.code = p.exitCode();
            r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
            r.err = QString::fromLocal8Bit(p.readAllStandardError());
            return r;
        };
        const Result version = run({QStringLiteral("--version")});
        QVERIFY2(version.finished && version.code == 0, qPrintable(version.err));
        QCOMPARE(version.out, QStringLiteral("tarnwick-panel 1.17\n"));
        const Result help = run({QStringLiteral("--help")});
        QVERIFY2(help.finished && help.code == 0, qPrintable(help.err));
        QVERIFY(help.out.contains(QStringLiteral("--port")));
        const Result bad = run({QStringLiteral("--nonsense")});
        QVERIFY(bad.finished);
        QCOMPARE(bad.code, 2);
        QVERIFY(bad.out.isEmpty());
        QVERIFY(bad.err.contains(QStringLiteral("nonsense")));
        QVERIFY(bad.err.contains(QStringLiteral("Usage:")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
