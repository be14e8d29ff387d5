// Remembered settings: restored after a restart, start values from a
// missing, unreadable or corrupt file, --reset-settings, the stable port
// name. The settings live in a temporary XDG config folder, never the user's.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/main_window.h"
#include "app/remembered_settings.h"
#include "app/window_settings.h"
#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "common/ui/dialogs.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "serial/ui/com_combo_box.h"
#include "settings/ui/config_page.h"
#include "support/scripted_dialogs.h"
#include "terminal/ui/terminal_page.h"

class TestRememberedSettings : public QObject {
    Q_OBJECT

    QTemporaryDir config;
    TScriptedDialogs dialogs;
    QString path;

    void Write(const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    // The state a fresh window starts with, as remembered.
    static TRememberedSettings StartState()
    {
        TTarnwickForm form;
        return CaptureSettings(form);
    }

    static void CompareState(const TRememberedSettings& a, const TRememberedSettings& b)
    {
        QCOMPARE(a.port, b.port);
        QCOMPARE(a.choices.baudItem, b.choices.baudItem);
        QCOMPARE(a.choices.dataItem, b.choices.dataItem);
        QCOMPARE(a.choices.parityItem, b.choices.parityItem);
        QCOMPARE(a.choices.stopItem, b.choices.stopItem);
        QCOMPARE(a.choices.flowItem, b.choices.flowItem);
        QCOMPARE(a.page, b.page);
        QCOMPARE(a.checks, b.checks);
        QCOMPARE(a.folders, b.folders);
        QCOMPARE(*a.config, *b.config);
        QVERIFY(*a.rows == *b.rows);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        path = SettingsFilePath();
        QVERIFY2(path.startsWith(config.path()), qPrintable(path));
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("tarnwick-panel.conf"));
        SetDialogs(&dialogs);
    }
    void cleanupTestCase() { SetDialogs(nullptr); }
    void init()
    {
        QFile::remove(path);
        SetDialogFolders({});
        dialogs = TScriptedDialogs{};
    }

    void restoredAfterRestart()
    {
        TRememberedSettings written;
        {
            TTarnwickForm form;
            TComPortPage& com = *form.ComPortSheet;
            com.BaudRateGroup->SetItemIndex(4);
            com.ParityGroup->SetItemIndex(2);
            com.StopBitGroup->SetItemIndex(1);
            com.FlowControlGroup->SetItemIndex(3);
            form.PageControl1->setCurrentIndex(4);
            form.TerminalSheet->CheckBox1->setChecked(true);
            TConfigValues v;
            v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
            v.channels[5] = QStringLiteral("903.032");
            v.mode = 4;
            v.customBaud = QStringLiteral("9600");
            form.FlashConfigSheet->SetValues(v);
            form.CommandSheet->CommandCombo(2)->setCurrentIndex(cmd::Connect);
            qobject_cast<QLineEdit*>(form.CommandSheet->ParamControl(2, 1))->setText(QStringLiteral("12AB"));
            form.CommandSheet->CommandCombo(9)->setCurrentIndex(cmd::SetUART);
            SetDialogFolders({{QStringLiteral("Save Profile"), config.path()}});
            form.move(40, 50);
            written = CaptureSettings(form);
            QVERIFY(SaveWindowSettings(form, path));
        }
        SetDialogFolders({});
        TTarnwickForm again;
        RestoreWindowSettings(again, path, false);
        CompareState(CaptureSettings(again), written);
        QCOMPARE(again.PageControl1->currentIndex(), 4);
        QVERIFY(again.TerminalSheet->CheckBox1->isChecked());
        QCOMPARE(again.FlashConfigSheet->ChannelEdits[5]->text(), QStringLiteral("903.032"));
        QCOMPARE(again.CommandSheet->CommandCombo(9)->currentIndex(), int(cmd::SetUART));
        QCOMPARE(DialogFolders().value(QStringLiteral("Save Profile")), config.path());
        QVERIFY(dialogs.messages.empty());
    }

    void missingUnreadableOrCorruptFileGivesStartValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("binary junk") << QByteArray("\x00\xff[\x01garbage=\n\xfe==[[", 18);
        QTest::newRow("bad values") << QByteArray("[port]\nbaudRate=99\nparity=abc\nflowControl=-1\nname=/dev/nothing-here\n"
                                                  "[window]\npage=17\ngeometry=!!!\n[checks]\nlocalEcho=maybe\n"
                                                  "[config]\nprofile={\"format\": \"tarnwick-config-profile\", \"version\": 1\n"
                                                  "[commands]\nscript=[1,2,3]\n");
        QTest::newRow("unreadable") << QByteArray("directory");
    }
    void missingUnreadableOrCorruptFileGivesStartValues()
    {
        QFETCH(QByteArray, content);
        if (content == "directory") QVERIFY(QDir().mkpath(path));
        else if (!content.isEmpty()) Write(content);
        const TRememberedSettings start = StartState();
        TTarnwickForm form;
        RestoreWindowSettings(form, path, false);
        CompareState(CaptureSettings(form), start);
        // A stored page that cannot be restored is said (one message), the rest is quiet.
        QCOMPARE(dialogs.messages.size(), size_t(content.contains("[config]") ? 1 : 0));
        QVERIFY(dialogs.errors.isEmpty());
        if (content == "directory") QVERIFY(QDir().rmdir(path));
    }

    void resetForgetsWhatWasStored()
    {
        {
            TTarnwickForm form;
            form.PageControl1->setCurrentIndex(2);
            form.ComPortSheet->BaudRateGroup->SetItemIndex(6);
            QVERIFY(SaveWindowSettings(form, path));
        }
        QVERIFY(QFileInfo::exists(path));
        TTarnwickForm form;
        RestoreWindowSettings(form, path, true);
        QVERIFY(!QFileInfo::exists(path));
        CompareState(CaptureSettings(form), StartState());
    }

    // The file holds the key in clear: its owner's only, also when an
    // older file was world-readable.
    void fileIsTheOwnersOnly()
    {
        TTarnwickForm form;
        Write("[port]\nname=\n");
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::ReadGroup));
        for (int round = 0; round < 2; ++round) {
            QVERIFY(SaveWindowSettings(form, path));
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
            QFile::remove(path);  // and a new file
        }
    }

    // A stored Config Memory page that the panel cannot restore is reported
    // once, with why; the other settings are restored all the same.
    void lostPageIsReported()
    {
        Write("[port]\nbaudRate=4\n[config]\nprofile=\"{\\\"format\\\": \\\"tarnwick-config-profile\\\", "
              "\\\"version\\\": 1, \\\"temperatureCalibration\\\": \\\"+5\\\"}\"\n");
        TTarnwickForm form;
        RestoreWindowSettings(form, path, false);
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY(dialogs.messages[0].text.contains(QLatin1String("Config Memory page could not be restored")));
        QVERIFY(dialogs.messages[0].text.contains(QLatin1String("\"+5\" is not a number")));
        QCOMPARE(form.ComPortSheet->BaudRateGroup->ItemIndex(), 4);
    }

    // --reset-settings that cannot delete the file says so and starts from
    // the start values, never from the file it failed to delete.
    void failedResetSaysSoAndStartsFresh()
    {
        {
            TTarnwickForm form;
            form.PageControl1->setCurrentIndex(2);
            QVERIFY(SaveWindowSettings(form, path));
        }
        const QString folder = QFileInfo(path).absolutePath();
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        // root ignores the folder's mode: an immutable folder stops it.
        const bool immutable = ::geteuid() == 0 && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0;
        const auto restore = qScopeGuard([&] {
            if (immutable) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        if (::geteuid() == 0 && !immutable) QSKIP("root without chattr: nothing stops a delete");
        TTarnwickForm form;
        RestoreWindowSettings(form, path, true);
        QVERIFY(QFileInfo::exists(path));
        CompareState(CaptureSettings(form), StartState());
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY(dialogs.messages[0].text.contains(QLatin1String("could not be deleted")));
    }

    void portIsRememberedByItsStableName()
    {
        QTemporaryDir dev;
        const QString device = dev.filePath(QStringLiteral("ttyUSB7"));
        QFile(device).open(QIODevice::WriteOnly);
        QVERIFY(QDir().mkpath(dev.filePath(QStringLiteral("by-id"))));
        const QString link = dev.filePath(QStringLiteral("by-id/usb-Maker_Adapter_A1B2-if00-port0"));
        QVERIFY(QFile::link(device, link));
        QCOMPARE(StableDeviceName(device, dev.filePath(QStringLiteral("by-id"))), link);
        QCOMPARE(StableDeviceName(dev.filePath(QStringLiteral("ttyUSB8")), dev.filePath(QStringLiteral("by-id"))),
                 dev.filePath(QStringLiteral("ttyUSB8")));

        // The stable name is put back in the chooser; a port that is gone is skipped.
        TTarnwickForm form;
        TRememberedSettings s;
        s.port = link;
        ApplySettings(form, s);
        QCOMPARE(form.ComPortSheet->ComComboBox1->Text(), link);
        const QString chosen = form.ComPortSheet->ComComboBox1->Text();
        s.port = dev.filePath(QStringLiteral("by-id/unplugged"));
        ApplySettings(form, s);
        QCOMPARE(form.ComPortSheet->ComComboBox1->Text(), chosen);
        QVERIFY(dialogs.messages.empty());
        // A pseudo-terminal's name is not remembered.
        form.AddPort(QStringLiteral("/dev/pts/0"));
        QCOMPARE(CaptureSettings(form).port, QString());
    }

    void fileMenuEntries()
    {
        TTarnwickForm form;
        QCOMPARE(form.menuBar()->actions().first()->menu(), form.FileMenu);
        QStringList texts;
        for (QAction* a : form.FileMenu->actions())
            if (!a->isSeparator()) texts << a->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("Save Profile\u2026"), QStringLiteral("Load Profile\u2026"),
                                     QStringLiteral("Export Image\u2026"), QStringLiteral("Import Image\u2026"),
                                     QStringLiteral("Save Command Script\u2026"),
                                     QStringLiteral("Load Command Script\u2026")}));
        // An entry brings its page to the front; a cancelled chooser changes nothing.
        form.FileMenu->actions().first()->trigger();
        QCOMPARE(form.PageControl1->currentWidget(), form.FlashConfigSheet);
        form.FileMenu->actions().last()->trigger();
        QCOMPARE(form.PageControl1->currentWidget(), form.CommandSheet);
        QVERIFY(dialogs.messages.empty());
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestRememberedSettings t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_remembered_settings.moc"
