// The Config Memory page's files: profiles and the raw configuration image,
// through the page's own controls.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "module/config_decoder.h"
#include "module/ui/config_files.h"
#include "module/config_image.h"
#include "settings/ui/config_page.h"
#include "settings/config_profile.h"
#include "support/scripted_dialogs.h"

namespace {

QByteArray Bytes(const TConfigImage& img) { return QByteArray(reinterpret_cast<const char*>(img.data()), 128); }

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

class TestConfigFiles : public QObject {
    Q_OBJECT

    TScriptedDialogs dialogs;
    QTemporaryDir dir;
    std::unique_ptr<TPortControls> controls;
    std::unique_ptr<TConfigPage> page;

    QString File(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QString LastMessage() const { return dialogs.messages.empty() ? QString() : dialogs.messages.back().text; }

    // A page far from its start values, set the way a user would.
    void Fill(TConfigPage& p)
    {
        p.KeyEdit->setText(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
        p.ChannelEdits[2]->setText(QStringLiteral("915"));  // not yet left: still converts the same
        p.ChannelEdits[7]->setText(QStringLiteral("926.968"));
        p.TemparatureEdit->setText(QStringLiteral("-1.9"));
        p.CustomBaudEdit->setText(QStringLiteral("78000"));
        p.PowerUpMode->setCurrentIndex(2);
        p.PowerUpRFDataRate->setCurrentIndex(3);
        p.PowerUpChannel->setCurrentIndex(11);
        p.PowerUpBaudRate->setCurrentIndex(7);
        p.PowerUpBitSettings->setCurrentIndex(4);
        p.PowerUpFlowControl->setCurrentIndex(1);
        p.PowerUpAddressEdit->setText(QStringLiteral("BEEF"));
    }

private slots:
    void init()
    {
        dialogs = TScriptedDialogs{};
        SetDialogs(&dialogs);
        controls = std::make_unique<TPortControls>();
        page = std::make_unique<TConfigPage>(*controls);
    }
    void cleanup()
    {
        page.reset();
        controls.reset();
        SetDialogs(nullptr);
    }

    void profileRoundTripGivesTheSameImage()
    {
        Fill(*page);
        const TConfigImage before = ConfigImage(page->Values());
        dialogs.saveNames.push_back(File("site-b.json"));
        SaveProfileClick(*page);
        QCOMPARE(dialogs.messages.size(), size_t(1));  // the warning that the file holds the key
        dialogs.messages.clear();

        TPortControls otherControls;
        TConfigPage other(otherControls);
        dialogs.openNames.push_back(File("site-b.json"));
        LoadProfileClick(other);
        QVERIFY2(dialogs.messages.empty(), qPrintable(LastMessage()));
        QCOMPARE(Bytes(ConfigImage(other.Values())), Bytes(before));
        QCOMPARE(other.ChannelEdits[2]->text(), QStringLiteral("914.936"));
        QCOMPARE(other.UARTEnableItem(), 0);
        QVERIFY(!other.PowerUpUARTEnable->isHidden());
        QCOMPARE(dialogs.beeps, 0);
    }

    void imageRoundTrip()
    {
        Fill(*page);
        page->PowerUpMode->setCurrentIndex(3);
        page->PURCIO[4]->setChecked(true);
        const TConfigImage before = ConfigImage(page->Values());
        dialogs.saveNames.push_back(File("module.bin"));
        ExportImageClick(*page);
        QCOMPARE(ReadAll(File("module.bin")), Bytes(before));

        TPortControls otherControls;
        TConfigPage other(otherControls);
        dialogs.openNames.push_back(File("module.bin"));
        ImportImageClick(other);
        QVERIFY2(dialogs.messages.empty(), qPrintable(LastMessage()));
        QCOMPARE(Bytes(ConfigImage(other.Values())), Bytes(before));
        QVERIFY(!other.PURCIO[4]->isHidden());
    }

    void importReportsWhatThePageCannotShow()
    {
        TConfigImage img = ConfigImage(TConfigValues{});
        img[0x66] = 0x07;
        img[0x40] = 0xAB;
        Write(File("odd.bin"), Bytes(img));
        QVERIFY(ImportImageFile(*page, File("odd.bin")));
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(LastMessage(), DifferenceMessageLines(DecodeConfigImage(img).differences).join(QLatin1Char('\n')));
        QVERIFY(LastMessage().contains(QLatin1String("offset 0x66 (address 0xE6): 07")));
        QCOMPARE(page->KeyEdit->text().left(2), QStringLiteral("AB"));  // the rest is read
    }

    void badFilesLeaveThePageAsItWas_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("named");
        QByteArray profile = WriteConfigProfile(TConfigValues{});
        QTest::newRow("bad hex") << "profile" << QByteArray(profile).replace("\"FFFE\"", "\"FFGE\"")
                                 << "\"unitAddress\": \"G\" is not a hexadecimal digit";
        QTest::newRow("frequency out of range")
            << "profile" << QByteArray(profile).replace("[\"915.064\", \"915.064\", \"915.064\"]", "[\"915.064\", \"930\", \"915.064\"]")
            << "\"channel12Frequencies\": frequency 2: 930 MHz is outside";
        QTest::newRow("unknown item") << "profile" << QByteArray(profile).replace("\"Point A\"", "\"Point C\"")
                                      << "\"pointToPoint\": \"Point C\" is not one of its items";
        QTest::newRow("wrong type") << "profile" << QByteArray(profile).replace("\"Channel 0\"", "0")
                                    << "\"rfChannel\": a text in quotes is needed";
        QTest::newRow("missing member") << "profile" << QByteArray(profile).replace("\"customSerialBaudRate\"", "\"customBaud\"")
                                        << "\"customSerialBaudRate\": missing";
        QTest::newRow("truncated") << "profile" << profile.left(profile.size() / 2) << "not valid JSON";
        QTest::newRow("newer version") << "profile" << QByteArray(profile).replace("\"version\": 1", "\"version\": 2")
                                       << "format version 2, written by a newer panel";
        QTest::newRow("short image") << "image" << QByteArray(100, '\0') << "it holds 100 bytes, a configuration image 128";
        QTest::newRow("long image") << "image" << QByteArray(129, '\0') << "larger than 128 bytes";
    }
    void badFilesLeaveThePageAsItWas()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, named);
        Fill(*page);
        const TConfigValues before = page->Values();
        Write(File("bad"), content);
        const bool loaded = kind == QLatin1String("profile") ? LoadProfileFile(*page, File("bad"))
                                                             : ImportImageFile(*page, File("bad"));
        QVERIFY(!loaded);
        QCOMPARE(page->Values(), before);
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY2(LastMessage().contains(named), qPrintable(LastMessage()));
        QVERIFY(LastMessage().contains(QLatin1String("keeps its values")));
    }

    void unknownMembersAreListedAfterLoading()
    {
        QByteArray profile = WriteConfigProfile(TConfigValues{});
        profile.replace("\"version\": 1,", "\"version\": 1,\n    \"site\": \"B\",");
        Write(File("p.json"), profile);
        page->KeyEdit->setText(QStringLiteral("AA"));
        QVERIFY(LoadProfileFile(*page, File("p.json")));
        QCOMPARE(page->Values(), TConfigValues{});
        QVERIFY(LastMessage().contains(QLatin1String("(ignored): \"site\"")));
    }

    // Save Profile warns once per save that the file holds the key, as
    // Program Pair's does; the profile and the image are the owner's only.
    void keyFilesAreWarnedOfAndPrivate()
    {
        QTemporaryDir own;
        const QString profile = own.filePath(QStringLiteral("p.json")), image = own.filePath(QStringLiteral("i.bin"));
        dialogs.saveNames = {profile, profile};
        dialogs.answers = {mb::IdCancel};
        SaveProfileClick(*page);
        QVERIFY(!QFileInfo::exists(profile));
        SaveProfileClick(*page);
        QCOMPARE(dialogs.messages.size(), size_t(2));
        for (const auto& m : dialogs.messages) {
            QVERIFY(m.text.contains(QLatin1String("holds the encryption key")));
            QCOMPARE(m.style, mb::OkCancel | mb::IconExclamation);
        }
        dialogs.saveNames = {image};
        ExportImageClick(*page);
        for (const QString& path : {profile, image})
            QCOMPARE(QFileInfo(path).permissions() & 0x7777,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    // A message lists a few problems and counts the rest, however many.
    void longProblemListsAreCut_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray profile = WriteConfigProfile(TConfigValues{});
        QByteArray pins = "[99", unknown;
        while (pins.size() < (1 << 20) - 4096) pins += ", 99";
        for (int i = 0; unknown.size() < (1 << 20) - 4096; ++i) unknown += "    \"m" + QByteArray::number(i) + "\": 1,\n";
        QTest::newRow("a bad pin repeated") << QStringLiteral("r.json") << QByteArray(profile).replace("[1]", pins + "]");
        QTest::newRow("a long text") << QStringLiteral("t.json")
                                     << QByteArray(profile).replace("\"300\"", "\"" + QByteArray(1 << 19, '7') + "\"");
        QTest::newRow("unknown members") << QStringLiteral("u.json") << QByteArray(profile).insert(2, unknown);
        QTest::newRow("erased image") << QStringLiteral("e.bin") << QByteArray(128, '\xFF');
    }
    void longProblemListsAreCut()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        Write(dir.filePath(name), bytes);
        if (name.endsWith(QLatin1String(".bin")))
            ImportImageFile(*page, dir.filePath(name));
        else
            LoadProfileFile(*page, dir.filePath(name));
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY2(LastMessage().size() < 6000, qPrintable(QString::number(LastMessage().size())));
        QVERIFY(LastMessage().split(QLatin1Char('\n')).size() <= 24);
        if (name != QLatin1String("t.json"))  // one long line is cut, not counted
            QVERIFY(LastMessage().contains(QRegularExpression(QStringLiteral("\\.\\.\\. and \\d+ more"))));
    }

    // Saving replaces a file only once it is written whole.
    void savingIsAtomic()
    {
        QTemporaryDir own;
        const QString keep = own.filePath(QStringLiteral("keep.json"));
        Write(keep, "old");
        QVERIFY(!SaveProfileFile(*page, own.filePath(QStringLiteral("no/such/folder/p.json"))));
        QVERIFY(LastMessage().startsWith(QLatin1String("Could not save")));
        QVERIFY(SaveProfileFile(*page, keep));
        QCOMPARE(ReadAll(keep), WriteConfigProfile(TConfigValues{}));
        QCOMPARE(QDir(own.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left
    }
};

QTEST_MAIN(TestConfigFiles)
#include "test_config_files.moc"
