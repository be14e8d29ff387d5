// Every example the tool's documents show (--help, the manual page, the
// README) run as written, in bash, against two virtual modules (the
// README's pairing and Link Test walk-through on fresh ones): the
// examples' /dev/ttyUSB0, /dev/ttyUSB1 and /dev/serial/by-id/ names are
// links to them under a test folder, and tarnwick-cli on PATH is the tool.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "module/config_image.h"
#include "process_run.h"
#include "settings/config_profile.h"
#include "tools/vmodule/air_link.h"
#include "tools/vmodule/virtual_module.h"

namespace {

QByteArray ReadSource(const QString& relative)
{
    QFile f(qEnvironmentVariable("TW_SOURCE") + QLatin1Char('/') + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The help's "Examples:" section, one command a line.
QStringList HelpExamples()
{
    QProcess p;
    p.start(qEnvironmentVariable("TW_CLI"), {QStringLiteral("--help")});
    p.waitForFinished(20000);
    const QStringList lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    QStringList examples;
    for (int i = lines.indexOf(QStringLiteral("Examples:")) + 1; i > 0 && i < lines.size() && !lines[i].isEmpty(); ++i)
        examples << lines[i].trimmed();
    return examples;
}

// The manual page's EXAMPLES block, one script per paragraph.
QStringList ManExamples()
{
    const QString man = QString::fromUtf8(ReadSource(QStringLiteral("tools/cli/tarnwick-cli.1")));
    const int start = man.indexOf(QLatin1String(".SH EXAMPLES\n.nf\n"));
    if (start < 0) return {};
    const int from = start + int(qstrlen(".SH EXAMPLES\n.nf\n"));
    QString block = man.mid(from, man.indexOf(QLatin1String("\n.fi"), from) - from);
    block.replace(QLatin1String("\\-"), QLatin1String("-"));
    return block.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
}

// The README's shell blocks that run the tool. Those that start virtual
// modules of their own are the walk-through, run on its own.
QStringList ReadmeExamples(bool walkThrough = false)
{
    const QString readme = QString::fromUtf8(ReadSource(QStringLiteral("README.md")));
    static const QRegularExpression block(QStringLiteral("```sh\n(.*?)```"), QRegularExpression::DotMatchesEverythingOption);
    QStringList examples;
    for (const QRegularExpressionMatch& m : block.globalMatch(readme))
        if (m.captured(1).contains(QLatin1String("tarnwick-cli ")) &&
            m.captured(1).contains(QLatin1String("tarnwick-vmodule ")) == walkThrough)
            examples << m.captured(1);
    return examples;
}

// A script in bash -e, the test's bin folder first on PATH.
TProcessRun RunScript(const QString& script, const QString& bin, const QString& work,
                      const QProcessEnvironment& base = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    QProcessEnvironment env = base;
    env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(work);
    p.start(QStringLiteral("bash"), {QStringLiteral("-e"), QStringLiteral("-o"), QStringLiteral("pipefail"),
                                     QStringLiteral("-c"), script});
    return FinishProcess(p);
}

std::array<uint8_t, 128> ConfigOf(const TVirtualModule& m)
{
    const auto memory = m.Memory();
    std::array<uint8_t, 128> c;
    std::copy(memory.begin() + 128, memory.end(), c.begin());
    return c;
}

}  // namespace

class TestCliExamples : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<TVirtualModule> modules_[2];
    std::array<uint8_t, 256> memory_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        for (const char* d : {"dev/serial/by-id", "bin", "work"}) QVERIFY(QDir(dir_.path()).mkpath(QLatin1String(d)));
        QVERIFY(QFile::link(qEnvironmentVariable("TW_CLI"), dir_.filePath(QStringLiteral("bin/tarnwick-cli"))));
        QVERIFY(QFile::link(qEnvironmentVariable("TW_VMODULE"), dir_.filePath(QStringLiteral("bin/tarnwick-vmodule"))));

        // Modules as a user meets them: a configuration a profile expresses,
        // with a key of their own.
        TConfigValues values;
        values.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        values.channel = 3;
        memory_.fill(0xFF);
        const TConfigImage image = ConfigImage(values);
        std::copy(image.begin(), image.end(), memory_.begin() + 128);
        for (int i = 0; i < 2; ++i) {
            modules_[i] = std::make_unique<TVirtualModule>();
            modules_[i]->SetLinkPath(dir_.filePath(QStringLiteral("dev/ttyUSB%1").arg(i)).toStdString());
            std::string error;
            QVERIFY2(modules_[i]->Start(&error), error.c_str());
            QVERIFY(QFile::link(QString::fromStdString(modules_[i]->SlavePath()),
                                dir_.filePath(QStringLiteral("dev/serial/by-id/usb-Tarnwick_%1-if00-port0").arg(i))));
        }
        // The profile the batch examples program.
        QFile line(dir_.filePath(QStringLiteral("work/line.json")));
        QVERIFY(line.open(QIODevice::WriteOnly));
        line.write(WriteConfigProfile(values));
    }

    // Each example meets the modules as they were.
    void init()
    {
        for (auto& m : modules_) m->SetMemory(memory_);
    }

    void everyDocumentShowsExamples()
    {
        QVERIFY(HelpExamples().size() >= 2);
        QVERIFY(!ManExamples().isEmpty());
        QVERIFY(ReadmeExamples().size() >= 2);
    }

    void exampleRunsAsWritten_data()
    {
        QTest::addColumn<QString>("script");
        const struct {
            const char* source;
            QStringList examples;
        } sources[] = {{"help", HelpExamples()}, {"man", ManExamples()}, {"README", ReadmeExamples()}};
        for (const auto& s : sources)
            for (const QString& e : s.examples)
                QTest::addRow("%s: %s", s.source, qPrintable(e.section(QLatin1Char('\n'), 0, 0).left(70))) << e;
    }
    void exampleRunsAsWritten()
    {
        QFETCH(QString, script);
        script.replace(QLatin1String("/dev/ttyUSB"), dir_.filePath(QStringLiteral("dev/ttyUSB")));
        script.replace(QLatin1String("/dev/serial/"), dir_.filePath(QStringLiteral("dev/serial/")));
        const TProcessRun r = RunScript(script, dir_.filePath(QStringLiteral("bin")), dir_.filePath(QStringLiteral("work")));
        QVERIFY2(r.exitCode == 0, r.err.constData());
        // Nothing failed on the way, nor was warned of.
        QVERIFY2(!r.err.contains("tarnwick-cli:"), r.err.constData());
    }

    // The pairing and Link Test walk-through as written, on modules as they
    // come: never programmed, their memories erased.
    void walkThroughOnFreshModules()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        QString pairing;
        for (const QString& e : ReadmeExamples())
            if (e.contains(QLatin1String(" pair --port"))) pairing = e;
        QVERIFY(!pairing.isEmpty());
        pairing.replace(QLatin1String("/dev/ttyUSB"), dir_.filePath(QStringLiteral("dev/ttyUSB")));
        std::array<uint8_t, 256> erased;
        erased.fill(0xFF);
        for (auto& m : modules_) m->SetMemory(erased);
        TProcessRun r = RunScript(pairing, dir_.filePath(QStringLiteral("bin")), work.path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY(MakesPair(AirIdentityOf(ConfigOf(*modules_[0])), AirIdentityOf(ConfigOf(*modules_[1]))));

        // The walk-through starts its own modules; its air stays in a folder of this test.
        const QStringList walk = ReadmeExamples(true);
        QCOMPARE(walk.size(), 1);
        QTemporaryDir tmp;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        r = RunScript(walk.first(), dir_.filePath(QStringLiteral("bin")), work.path(), env);
        QVERIFY2(r.exitCode == 0, r.out + r.err);
        QVERIFY2(r.out.contains("PASSED"), r.out.constData());
        QVERIFY(QFile::exists(work.filePath(QStringLiteral("pair.json"))));
    }
};

QTEST_GUILESS_MAIN(TestCliExamples)
#include "test_cli_examples.moc"
