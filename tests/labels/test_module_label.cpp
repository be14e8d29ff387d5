// Module labels: the QR code read back with zbarimg (zbar-tools) from the
// PNG, the PDF's page the label's size, labels drawn from many threads at
// once, and a folder that cannot be written.
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>
#include <vector>

#include "labels/module_label.h"

Q_DECLARE_METATYPE(TLabelContent)
Q_DECLARE_METATYPE(TLabelSize)

namespace {

TLabelContent Content(const QString& unit, const QString& row, const QString& profile = QStringLiteral("Line 3 point B"))
{
    TLabelContent c;
    c.unitAddress = unit;
    c.profileName = profile;
    c.mode = QStringLiteral("Point-to-Point");
    c.rfChannel = QStringLiteral("12");
    c.rate = QStringLiteral("115200");
    c.role = QStringLiteral("Point B");
    c.date = QDate(2026, 12, 9);
    c.station = QStringLiteral("bench-2");
    c.rowId = row;
    return c;
}

// What zbarimg reads in the image; empty when it finds no code.
QString Scan(const QString& png)
{
    QProcess p;
    p.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), png});
    if (!p.waitForFinished(60000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}  // namespace

class TestModuleLabel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
            QSKIP("zbarimg is not installed (Debian package zbar-tools)");
    }

    void qrCodeReadsBackAsUnitAndRow_data()
    {
        QTest::addColumn<TLabelContent>("content");
        QTest::addColumn<TLabelSize>("size");
        QTest::addColumn<QString>("expected");
        QTest::newRow("62x29") << Content(QStringLiteral("0A07"), QStringLiteral("5f0c6d1e-8a3b-4c2d-9e7f-1a2b3c4d5e6f")) << TLabelSize{}
                           << "TARNWICK UNIT 0A07 ROW 5f0c6d1e-8a3b-4c2d-9e7f-1a2b3c4d5e6f";
        QTest::newRow("long profile, large row") << Content(QStringLiteral("FFFE"), QStringLiteral("9876543210"), QString(80, QLatin1Char('W')))
                                                 << TLabelSize{} << "TARNWICK UNIT FFFE ROW 9876543210";
        QTest::newRow("no row id") << Content(QStringLiteral("0100"), QString()) << TLabelSize{} << "TARNWICK UNIT 0100";
        QTest::newRow("small roll") << Content(QStringLiteral("0101"), QStringLiteral("7")) << TLabelSize{25, 12} << "TARNWICK UNIT 0101 ROW 7";
    }
    void qrCodeReadsBackAsUnitAndRow()
    {
        QFETCH(TLabelContent, content);
        QFETCH(TLabelSize, size);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        TLabelFiles files;
        const QString name = LabelFileName(content);
        QCOMPARE(WriteLabel(content, size, dir.filePath(QStringLiteral("labels")), name, &files), QString());
        QCOMPARE(files.png, dir.filePath(QStringLiteral("labels/%1.png").arg(name)));
        QCOMPARE(LabelQrText(content), expected);
        QCOMPARE(Scan(files.png), expected);

        // The PNG at 300 dpi, the PDF's page exactly the label (points).
        const QImage image(files.png);
        QCOMPARE(image.width(), qRound(size.widthMm / 25.4 * 300));
        QCOMPARE(image.height(), qRound(size.heightMm / 25.4 * 300));
        QFile pdf(files.pdf);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        const QRegularExpressionMatch box =
            QRegularExpression(QStringLiteral(R"(/MediaBox \[0 0 ([\d.]+) ([\d.]+)\])")).match(QString::fromLatin1(bytes));
        QVERIFY(box.hasMatch());
        QVERIFY(qAbs(box.captured(1).toDouble() - size.widthMm / 25.4 * 72) < 1.0);
        QVERIFY(qAbs(box.captured(2).toDouble() - size.heightMm / 25.4 * 72) < 1.0);
    }

    // The station labels modules on several threads at once.
    void labelsFromManyThreadsAtOnce()
    {
        QTemporaryDir dir;
        std::vector<QString> errors(6);
        std::vector<std::thread> threads;
        for (int i = 0; i < 6; ++i)
            threads.emplace_back([&, i] {
                const TLabelContent c = Content(QStringLiteral("01%1").arg(i, 2, 10, QLatin1Char('0')), QString::number(100 + i));
                errors[size_t(i)] = WriteLabel(c, {}, dir.path(), LabelFileName(c));
            });
        for (auto& t : threads) t.join();
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(errors[size_t(i)], QString());
            QCOMPARE(Scan(dir.filePath(QStringLiteral("unit-01%1-row-%2.png").arg(i, 2, 10, QLatin1Char('0')).arg(100 + i))),
                     QStringLiteral("TARNWICK UNIT 01%1 ROW %2").arg(i, 2, 10, QLatin1Char('0')).arg(100 + i));
        }
    }

    void unwritableFolderIsAnErrorAndLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("plain-file"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString error = WriteLabel(Content(QStringLiteral("0A07"), QStringLiteral("1")), {}, file + QStringLiteral("/labels"), QStringLiteral("x"));
        QVERIFY2(error.contains(QStringLiteral("cannot be made")), qPrintable(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{QStringLiteral("plain-file")});
    }

    void sizeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::newRow("plain") << "62x29" << true << 62.0 << 29.0;
        QTest::newRow("unit, spaces, capital") << " 62.5 X 29mm " << true << 62.5 << 29.0;
        QTest::newRow("too small") << "5x29" << false << 0.0 << 0.0;
        QTest::newRow("one number") << "62" << false << 0.0 << 0.0;
        QTest::newRow("negative") << "-62x29" << false << 0.0 << 0.0;
    }
    void sizeText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        TLabelSize size;
        QString error;
        QCOMPARE(TLabelSize::Parse(text, &size, &error), ok);
        if (!ok) {
            QVERIFY(error.contains(text));
            return;
        }
        QFETCH(double, width);
        QFETCH(double, height);
        QCOMPARE(size, (TLabelSize{width, height}));
        QCOMPARE(size.ToText(), text.trimmed().toLower().remove(QStringLiteral("mm")).remove(QLatin1Char(' ')));
    }
};

QTEST_MAIN(TestModuleLabel)
#include "test_module_label.moc"
