// Printing a label through a real CUPS scheduler that the test starts itself
// (cupsd in a temporary folder, on a Unix socket of its own) with a file
// printer: what reaches the file is the label's PDF, with the label's page
// size asked for. Skipped only when the CUPS programs are not installed.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "labels/module_label.h"
#include "labels/station_label.h"

namespace {

// A label printer that takes PDF as it is (gziptoany passes it through).
const char kPpd[] = R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "LABELS.PPD"
*Manufacturer: "Tarnwick"
*Product: "(Label File)"
*ModelName: "Label File"
*ShortNickName: "Label File"
*NickName: "Label File"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*cupsFilter2: "application/pdf application/vnd.cups-pdf 0 gziptoany"
*OpenUI *PageSize: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: w176h82
*PageSize w176h82/62 x 29 mm: ""
*CloseUI: *PageSize
*DefaultPageRegion: w176h82
*DefaultImageableArea: w176h82
*ImageableArea w176h82: "0 0 176 82"
*DefaultPaperDimension: w176h82
*PaperDimension w176h82: "176 82"
)ppd";

bool WriteText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestLabelPrinting : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcess cupsd_;
    QString socket_;

    QString Path(const QString& name) const { return dir_.filePath(name); }
    bool Run(const QString& program, const QStringList& args, QByteArray* output)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        *output = p.readAll();
        return ok;
    }

private slots:
    void initTestCase()
    {
        for (const char* program : {"lp", "lpadmin", "lpstat"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP("the CUPS client programs are not installed (Debian package cups-client)");
        QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (cupsd.isEmpty()) QSKIP("the CUPS scheduler is not installed (Debian package cups-daemon)");
        QVERIFY(dir_.isValid());
        // The scheduler's filters run as its own user: the folder must be passable.
        QVERIFY(QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                       QFileDevice::ExeGroup | QFileDevice::ExeOther));
        for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "run", "log", "out"})
            QVERIFY(QDir().mkpath(Path(QString::fromLatin1(sub))));
        socket_ = Path(QStringLiteral("run/cups.sock"));
        const QByteArray root = QFile::encodeName(dir_.path());
        QVERIFY(WriteText(Path(QStringLiteral("etc/cupsd.conf")),
                          "Listen " + QFile::encodeName(socket_) +
                              "\nLogLevel debug\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
                              "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                              "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n"));
        QVERIFY(WriteText(Path(QStringLiteral("etc/cups-files.conf")),
                          "ServerRoot " + root + "/etc\nRequestRoot " + root + "/spool\nTempDir " + root +
                              "/spool/tmp\nCacheDir " + root + "/cache\nStateDir " + root + "/run\nAccessLog " + root +
                              "/log/access_log\nErrorLog " + root + "/log/error_log\nPageLog " + root +
                              "/log/page_log\nPrintcap " + root + "/run/printcap\nFileDevice Yes\n"));
        QVERIFY(WriteText(Path(QStringLiteral("labels.ppd")), kPpd));

        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), Path(QStringLiteral("etc/cupsd.conf")), QStringLiteral("-s"),
                             Path(QStringLiteral("etc/cups-files.conf"))});
        QVERIFY(cupsd_.waitForStarted());
        qputenv("CUPS_SERVER", QFile::encodeName(socket_));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((Run(QStringLiteral("lpstat"), {QStringLiteral("-r")}, &out) && !out.contains("not running")) ||
                                     cupsd_.state() == QProcess::NotRunning,
                                 30000);
        QVERIFY2(cupsd_.state() == QProcess::Running, cupsd_.readAll().constData());
        QVERIFY2(Run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), QStringLiteral("Labels"), QStringLiteral("-E"), QStringLiteral("-v"),
                                                 QStringLiteral("file://") + Path(QStringLiteral("out/label.pdf")), QStringLiteral("-P"),
                                                 Path(QStringLiteral("labels.ppd"))},
                     &out),
                 out.constData());
    }
    void cleanupTestCase()
    {
        if (cupsd_.state() == QProcess::NotRunning) return;
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(30000)) {
            cupsd_.kill();
            cupsd_.waitForFinished();
        }
    }

    void labelReachesThePrintersFile()
    {
        TLabelContent content;
        content.unitAddress = QStringLiteral("0A07");
        content.profileName = QStringLiteral("Line 3");
        content.rowId = QStringLiteral("42");
        TLabelFiles files;
        QCOMPARE(WriteLabel(content, {}, Path(QStringLiteral("labels")), LabelFileName(content), &files), QString());
        QString job;
        QCOMPARE(PrintLabel(files.pdf, QStringLiteral("Labels"), {}, &job), QString());
        QVERIFY2(job.startsWith(QStringLiteral("Labels-")), qPrintable(job));
        const QByteArray pdf = ReadAll(files.pdf);
        QTRY_COMPARE_WITH_TIMEOUT(ReadAll(Path(QStringLiteral("out/label.pdf"))), pdf, 60000);
        QVERIFY(ReadAll(Path(QStringLiteral("log/error_log"))).contains("media=Custom.62x29mm"));
    }

    // The station's label step with a printer and no labels folder: printed,
    // nothing kept; a printer that fails makes the step fail with its name.
    void stationStepPrintsWithoutKeepingFiles()
    {
        TStationLabelRequest request;
        request.unitAddress = QStringLiteral("0101");
        request.rowId = QStringLiteral("77");
        request.station = QStringLiteral("bench-2");
        TStationLabelSetup setup;
        setup.printer = QStringLiteral("Labels");
        setup.profileName = QStringLiteral("Line 3");
        setup.profile.mode = 4;
        setup.profile.masterSlave = 1;
        const TLabelContent content = StationLabelContent(request, setup);
        QCOMPARE(content.rowId, QStringLiteral("77"));
        QCOMPARE(content.mode, QStringLiteral("AT Command"));
        QCOMPARE(content.role, QStringLiteral("Point B"));

        QFile::remove(Path(QStringLiteral("out/label.pdf")));
        TStationLabelOutcome out = MakeStationLabel(request, setup);
        QVERIFY2(out.ok, qPrintable(out.error));
        QCOMPARE(out.file, QString());
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(Path(QStringLiteral("out/label.pdf"))).startsWith("%PDF-"), 60000);

        setup.printer = QStringLiteral("Nowhere");
        out = MakeStationLabel(request, setup);
        QVERIFY(!out.ok);
        QVERIFY2(out.error.startsWith(QStringLiteral("cannot print on Nowhere: ")), qPrintable(out.error));
    }

    void printingFailuresAreReported_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<bool>("noScheduler");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown printer") << "Nowhere" << false << false << "does not exist";
        QTest::newRow("no such file") << "Labels" << true << false << "not found";
        QTest::newRow("no printer named") << "" << false << false << "no printer";
        QTest::newRow("scheduler unreachable") << "Labels" << false << true << "lp";
    }
    void printingFailuresAreReported()
    {
        QFETCH(QString, printer);
        QFETCH(bool, missingFile);
        QFETCH(bool, noScheduler);
        QFETCH(QString, error);
        const QString file = Path(missingFile ? QStringLiteral("missing.pdf") : QStringLiteral("labels.ppd"));
        if (noScheduler) qputenv("CUPS_SERVER", QFile::encodeName(Path(QStringLiteral("run/none.sock"))));
        QString job = QStringLiteral("unchanged");
        const QString result = PrintLabel(file, printer, {}, &job);
        qputenv("CUPS_SERVER", QFile::encodeName(socket_));
        QVERIFY2(result.contains(error), qPrintable(result));
        QCOMPARE(job, QStringLiteral("unchanged"));
    }
};

QTEST_MAIN(TestLabelPrinting)
#include "test_label_printing.moc"
