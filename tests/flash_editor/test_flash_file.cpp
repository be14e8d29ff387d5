// Loading and saving the flash image file, directly and through the page.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "common/ui/port_controls.h"
#include "flash_editor/flash_file.h"
#include "flash_editor/flash_image.h"
#include "flash_editor/ui/flash_page.h"
#include "support/scripted_dialogs.h"

namespace {

QByteArray Pattern(int n, int salt)
{
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char((i * 7 + salt) & 0xFF));
    return b;
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray ImageBytes(const TFlashImage& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.Data().data()), TFlashImage::Size);
}

}  // namespace

class TestFlashFile : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    QString Path(const QString& name) const { return dir->filePath(name); }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
    }
    void cleanup() { delete dir; }

    void loadShortLongAndEmptyFiles_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("note");  // what the load says about the file's size
        QTest::newRow("empty") << 0 << "holds 0 bytes, not 128: addresses 00 to 7F";
        QTest::newRow("5 bytes") << 5 << "holds 5 bytes, not 128: addresses 05 to 7F";
        QTest::newRow("exactly 128") << 128 << "";
        QTest::newRow("200 bytes") << 200 << "longer than 128 bytes";
    }
    void loadShortLongAndEmptyFiles()
    {
        QFETCH(int, length);
        QFETCH(QString, note);
        const QByteArray data = Pattern(length, 3);
        QVERIFY(WriteFile(Path("in.bin"), data));
        TFlashImage image;
        QString error, said;
        QVERIFY(LoadFlashFile(Path("in.bin"), image, &error, &said));
        QVERIFY2(note.isEmpty() ? said.isEmpty() : said.contains(note), qPrintable(said));
        for (int a = 0; a < 128; ++a)
            QCOMPARE(int(image.Byte(a)), a < length ? int(uint8_t(data[a])) : 0xFF);
    }

    void saveWritesExactly128Bytes()
    {
        TFlashImage image;  // as after start-up: all zero
        QVERIFY(SaveFlashFile(Path("zero.bin"), image));
        QCOMPARE(ReadFile(Path("zero.bin")), QByteArray(128, '\0'));
        // Overwriting a longer file leaves no tail of it behind.
        QVERIFY(WriteFile(Path("long.bin"), Pattern(300, 1)));
        QVERIFY(SaveFlashFile(Path("long.bin"), image));
        QCOMPARE(ReadFile(Path("long.bin")).size(), 128);
    }

    void saveThenLoadRoundTrip()
    {
        TFlashImage image;
        for (int a = 0; a < 128; ++a) image.SetByte(a, uint8_t(255 - a * 3));
        QVERIFY(SaveFlashFile(Path("rt.bin"), image));
        TFlashImage back;
        back.Fill(0x5A);
        QVERIFY(LoadFlashFile(Path("rt.bin"), back));
        QCOMPARE(ImageBytes(back), ImageBytes(image));
    }

    void failedLoadLeavesImage()
    {
        TFlashImage image;
        for (int a = 0; a < 128; ++a) image.SetByte(a, uint8_t(a));
        const QByteArray before = ImageBytes(image);
        QSignalSpy changed(&image, &TFlashImage::Changed);
        QString error;
        QVERIFY(!LoadFlashFile(Path("missing.bin"), image, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!LoadFlashFile(dir->path(), image, &error));  // a directory
        QVERIFY(!LoadFlashFile(QStringLiteral("/dev/zero"), image, &error));  // endless
        QVERIFY(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600) == 0);
        QVERIFY(!LoadFlashFile(Path("fifo"), image, &error));  // refused, not waited on
        QCOMPARE(ImageBytes(image), before);
        QCOMPARE(changed.count(), 0);
    }

    void saveIntoMissingFolderFails()
    {
        // A path below a regular file: not even the temporary can be made.
        QVERIFY(WriteFile(Path("plain"), "x"));
        TFlashImage image;
        QString error;
        QVERIFY(!SaveFlashFile(Path("plain/out.bin"), image, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(ReadFile(Path("plain")), QByteArray("x"));
    }

    void failedWriteKeepsTheOldFile()
    {
        // A file-size limit makes the write itself fail half-way, for root too,
        // the way a full disk would.
        const QByteArray old = Pattern(128, 9);
        QVERIFY(WriteFile(Path("keep.bin"), old));
        TFlashImage image;
        image.Fill(0x11);
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = saved;
        tight.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        QString error;
        const bool ok = SaveFlashFile(Path("keep.bin"), image, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!ok);
        QVERIFY2(error.contains(QStringLiteral("64 of 128")), qPrintable(error));
        QCOMPARE(ReadFile(Path("keep.bin")), old);
        // No temporary is left beside it.
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.bin")});
    }

    void pageLoadAndSaveThroughTheDialogs()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        TPortControls controls;
        TFlashPage page(controls);
        page.SetupGrids();

        QVERIFY(WriteFile(Path("five.bin"), "\x01\x02\x03\x04\x05"));
        dialogs.openNames.push_back(Path("five.bin"));
        page.FlashMemoryLoad->click();
        QVERIFY(dialogs.messages.back().text.contains(QLatin1String("holds 5 bytes")));
        QCOMPARE(page.Grid().HexCellText(5, 1), QStringLiteral("05"));
        QCOMPARE(page.Grid().HexCellText(6, 1), QStringLiteral("FF"));
        QCOMPARE(page.Grid().CharCellText(5, 1), FlashDisplayChar(0xFF));

        // A new file is created only when the user agrees.
        dialogs.saveNames.push_back(Path("new.bin"));
        dialogs.answers.push_back(mb::IdNo);
        page.FlashMemorySave->click();
        QVERIFY(!QFile::exists(Path("new.bin")));
        QCOMPARE(dialogs.messages.back().style, mb::YesNo | mb::IconQuestion);
        dialogs.saveNames.push_back(Path("new.bin"));
        dialogs.answers.push_back(mb::IdYes);
        page.FlashMemorySave->click();
        QCOMPARE(ReadFile(Path("new.bin")), ImageBytes(page.Image()));
        // An existing file is replaced without the create question.
        const size_t asked = dialogs.messages.size();
        page.Image().SetByte(0, 0x99);
        dialogs.saveNames.push_back(Path("new.bin"));
        page.FlashMemorySave->click();
        QCOMPARE(dialogs.messages.size(), asked);
        QCOMPARE(uint8_t(ReadFile(Path("new.bin")).at(0)), uint8_t(0x99));
        QVERIFY(dialogs.errors.isEmpty());

        // A load that fails reports it and keeps the grids.
        const QByteArray before = ImageBytes(page.Image());
        dialogs.openNames.push_back(Path("gone.bin"));
        page.FlashMemoryLoad->click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors.front().contains(QStringLiteral("gone.bin")));
        QCOMPARE(ImageBytes(page.Image()), before);
    }

    void cancellingChangesNothing()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        TPortControls controls;
        TFlashPage page(controls);
        page.SetupGrids();
        page.Image().SetByte(3, 0x33);
        const QByteArray before = ImageBytes(page.Image());
        QSignalSpy changed(&page.Image(), &TFlashImage::Changed);
        page.FlashMemoryLoad->click();  // no name scripted: cancelled
        page.FlashMemorySave->click();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(ImageBytes(page.Image()), before);
        QVERIFY(dialogs.messages.empty());
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 0);
    }
};

QTEST_MAIN(TestFlashFile)
#include "test_flash_file.moc"
