// Every example the tool's documents show (--help, the manual page, the
// README) run as written, in bash, against two virtual modules: the
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
#include "settings/config_profile.h"
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

// The README's shell blocks that run the tool.
QStringList ReadmeExamples()
{
    const QString readme = QString::fromUtf8(ReadSource(QStringLiteral("README.md")));
    static const QRegularExpression block(QStringLiteral("```sh\n(.*?)```"), QRegularExpression::DotMatchesEverythingOption);
    QStringList examples;
    for (const QRegularExpressionMatch& m : block.globalMatch(readme))
        if (m.captured(1).contains(QLatin1String("tarnwick-cli "))) examples << m.captured(1);
    return examples;
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
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), dir_.filePath(QStringLiteral("bin")) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir_.filePath(QStringLiteral("work")));
        p.start(QStringLiteral("bash"), {QStringLiteral("-e"), QStringLiteral("-o"), QStringLiteral("pipefail"),
                                         QStringLiteral("-c"), script});
        QVERIFY(p.waitForFinished(120000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, err.constData());
        // Nothing failed on the way, nor was warned of.
        QVERIFY2(!err.contains("tarnwick-cli:"), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliExamples)
#include "test_cli_examples.moc"
