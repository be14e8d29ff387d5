// The drawn program icon and the PNG files the install takes from it.
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "app/app_icon.h"

class TestAppIcon : public QObject {
    Q_OBJECT
private slots:
    void drawsAtEverySize();
    void rejectsSizesOutOfRange();
    void writtenPngIsTheDrawing();
    void unwritablePathFails();
    void windowIconHasTheInstalledSizes();
};

void TestAppIcon::drawsAtEverySize()
{
    for (int size : {1, 16, 48, 256, 1024}) {
        const QImage image = AppIconImage(size);
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
    }
    // Corners stay transparent; the module body (centre of the 64-unit
    // drawing's green box at 28,44) is opaque.
    const QImage image = AppIconImage(64);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(63, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(10, 33)), 255);
    const QColor body = image.pixelColor(10, 33);
    QVERIFY(body.green() > body.red() && body.green() > body.blue());
}

void TestAppIcon::rejectsSizesOutOfRange()
{
    for (int size : {0, -16, 1025, 1 << 20}) QVERIFY(AppIconImage(size).isNull());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("icon.png"));
    QVERIFY(!WriteAppIconPng(path, 0));
    QVERIFY(!QFile::exists(path));
}

void TestAppIcon::writtenPngIsTheDrawing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int size : {16, 48, 128}) {
        const QString path = dir.filePath(QStringLiteral("%1.png").arg(size));
        QVERIFY(WriteAppIconPng(path, size));
        QImage loaded(path, "PNG");
        QCOMPARE(loaded.size(), QSize(size, size));
        QCOMPARE(loaded.convertToFormat(QImage::Format_ARGB32),
                 AppIconImage(size).convertToFormat(QImage::Format_ARGB32));
    }
}

void TestAppIcon::unwritablePathFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!WriteAppIconPng(dir.filePath(QStringLiteral("missing/folder/icon.png")), 32));
    QVERIFY(!WriteAppIconPng(dir.path(), 32));  // a folder, not a file
}

void TestAppIcon::windowIconHasTheInstalledSizes()
{
    const QList<QSize> sizes = AppIcon().availableSizes();
    for (int s : {16, 32, 48, 64, 128}) QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
}

QTEST_MAIN(TestAppIcon)
#include "test_app_icon.moc"
