// The Program Pair dialog against two virtual modules: a fresh key
// proposed, one summary after the run, a silent module named as the one to
// redo, and the profile saved only after the warning about the key.
#include <sys/stat.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "commands/ui/link_test_window.h"
#include "commands/ui/program_pair_dialog.h"
#include "common/ui/dialogs.h"
#include "settings/config_profile.h"
#include "settings/key_generator.h"
#include "support/scripted_dialogs.h"
#include "support/module_pair.h"

class TestProgramPairDialog : public QObject, TModulePair {
    Q_OBJECT

    TScriptedDialogs* dialogs_ = nullptr;

private slots:
    void init()
    {
        dialogs_ = new TScriptedDialogs;
        SetDialogs(dialogs_);
        std::string error;
        QVERIFY2(StartPair(&error), error.c_str());
    }
    void cleanup()
    {
        StopPair();
        SetDialogs(nullptr);
        delete dialogs_;
    }

    void runShowsOneSummaryAndSavesWithWarning()
    {
        TConfigValues v;
        v.channel = 9;
        TProgramPairDialog d(v);
        d.show();
        const QString key = d.PairKeyEdit->text();
        QCOMPARE(key.size(), 32);
        QVERIFY(!IsExampleKey(key));

        TVirtualModuleFaults f;
        f.silent = true;
        b_->SetFaults(f);
        d.PortA->setEditText(QString::fromStdString(a_->PortPath()));
        d.PortB->setEditText(QString::fromStdString(b_->PortPath()));
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QVERIFY(d.Running());
        QTRY_VERIFY_WITH_TIMEOUT(!d.PairSummaryText->toPlainText().isEmpty(), 60000);
        const QString summary = d.PairSummaryText->toPlainText();
        QVERIFY2(summary.contains(QStringLiteral("Point A on %1: ok").arg(QString::fromStdString(a_->PortPath()))), qPrintable(summary));
        QVERIFY(summary.contains(QStringLiteral("C2.10")));
        QVERIFY(summary.contains(QStringLiteral("Point B on %1: FAILED").arg(QString::fromStdString(b_->PortPath()))));
        QVERIFY(summary.contains(QStringLiteral("Redo this module")));
        QVERIFY(!d.PairLinkTestButton->isEnabled());
        QVERIFY(summary.contains(KeyHint(key)));
        QVERIFY(!summary.contains(key));
        QVERIFY(PairImages([&] { TConfigValues w = v; w.key = key; return w; }())[0] ==
                [&] { TMemoryBytes m; const auto mem = a_->Memory(); std::copy(mem.begin() + 128, mem.end(), m.begin()); return m; }());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pair.json"));
        // Cancelled at the warning: no file.
        dialogs_->saveNames.push_back(path);
        dialogs_->answers.push_back(mb::IdCancel);
        QTest::mouseClick(d.SavePairProfileButton, Qt::LeftButton);
        QVERIFY(!QFile::exists(path));
        QVERIFY(dialogs_->messages.back().text.contains(QStringLiteral("holds the pair's encryption key")));
        dialogs_->saveNames.push_back(path);
        dialogs_->answers.push_back(mb::IdOk);
        QTest::mouseClick(d.SavePairProfileButton, Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const TConfigProfileRead read = ReadConfigProfile(file.readAll());
        QVERIFY(read.check.ok);
        QCOMPARE(read.values.key, key);
        QCOMPARE(read.values.channel, 9);
    }

    // The choosers show what each device is, Point A starts on the Com Port
    // page's port, and the pair runs with that page's line settings.
    void portsAndLineComeFromTheComPortPage()
    {
        const QString pa = QString::fromStdString(a_->PortPath()), pb = QString::fromStdString(b_->PortPath());
        TVirtualModuleFaults at9600;
        at9600.onlyAtBaud = 9600;
        a_->SetFaults(at9600);
        b_->SetFaults(at9600);
        TPairPortSetup setup;
        TPortInfo other{QStringLiteral("/dev/ttyNOSUCH9"), {}, {}, {}, {}, {}, QStringLiteral("serial8250")};
        TPortInfo first{pa, {}, {}, QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"), QStringLiteral("A50285BI"), {}};
        TPortInfo second{pb, {}, {}, {}, QStringLiteral("CP2102 USB to UART"), {}, {}};
        setup.ports = {other, first, second};
        setup.line.port = pa;
        setup.line.baudItem = 4;  // "9600 baud"
        TProgramPairDialog d(TConfigValues{}, setup);
        QCOMPARE(d.PortA->currentText(), pa + QStringLiteral(" \u2014 FT232R USB UART (A50285BI)"));
        QCOMPARE(TProgramPairDialog::ChosenPort(d.PortA), pa);
        QCOMPARE(TProgramPairDialog::ChosenPort(d.PortB), QStringLiteral("/dev/ttyNOSUCH9"));
        d.PortB->setCurrentIndex(2);
        QCOMPARE(TProgramPairDialog::ChosenPort(d.PortB), pb);

        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!d.PairSummaryText->toPlainText().isEmpty(), 60000);
        const QString summary = d.PairSummaryText->toPlainText();
        QVERIFY2(summary.contains(QStringLiteral("Point A on %1: ok").arg(pa)), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Point B on %1: ok").arg(pb)), qPrintable(summary));
        // Right after the pair: its Link Test, on its two ports.
        {
            QWidget owner;
            owner.show();
            d.setParent(&owner, Qt::Dialog);
            QVERIFY(d.PairLinkTestButton->isEnabled());
            QTest::mouseClick(d.PairLinkTestButton, Qt::LeftButton);
            auto* w = owner.findChild<TLinkTestWindow*>(QStringLiteral("LinkTestWindow"));
            const bool opened = w && w->isVisible() && !d.isVisible();
            if (!opened) d.setParent(nullptr);
            QVERIFY(opened);
            QCOMPARE(TProgramPairDialog::ChosenPort(w->LinkPortA), pa);
            QCOMPARE(TProgramPairDialog::ChosenPort(w->LinkPortB), pb);
            d.setParent(nullptr);
        }

        // The panel's own open port is not taken from under it, also when it
        // opened after the dialog did.
        QString openNow;
        setup.openPortNow = [&openNow] { return openNow; };
        TProgramPairDialog busy(TConfigValues{}, setup);
        openNow = pb;
        busy.PortB->setCurrentIndex(2);
        const long received = b_->ReceivedCount();
        QTest::mouseClick(busy.RunPairButton, Qt::LeftButton);
        QVERIFY(!busy.Running());
        QVERIFY(dialogs_->messages.back().text.contains(QStringLiteral("open on the Com Port page")));
        QCOMPARE(b_->ReceivedCount(), received);
    }

    void weakKeyOnlyWhenAsked()
    {
        TProgramPairDialog d{TConfigValues{}};
        d.PortA->setEditText(QString::fromStdString(a_->PortPath()));
        d.PortB->setEditText(QString::fromStdString(b_->PortPath()));
        d.PairKeyEdit->setText(QStringLiteral("A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5"));
        dialogs_->answers.push_back(mb::IdNo);
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QVERIFY(!d.Running());
        QVERIFY(dialogs_->messages.back().text.contains(QStringLiteral("weak")));
        QCOMPARE(a_->ReceivedCount() + b_->ReceivedCount(), 0L);
        dialogs_->answers.push_back(mb::IdYes);
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!d.PairSummaryText->toPlainText().isEmpty(), 60000);
        QVERIFY(d.PairSummaryText->toPlainText().contains(QStringLiteral("Point B on %1: ok").arg(QString::fromStdString(b_->PortPath()))));
    }

    void samePortTwiceIsRefused_data()
    {
        QTest::addColumn<QString>("second");
        QTest::newRow("one name twice") << "same";
        QTest::newRow("a second node of the device") << "node";
        QTest::newRow("its name under /dev") << "relative";
    }
    void samePortTwiceIsRefused()
    {
        QFETCH(QString, second);
        QString other = QString::fromStdString(a_->PortPath());
        QTemporaryDir dir;
        if (second == QLatin1String("node")) {
            // No link leads from it to the device: only the device number tells.
            struct stat st {};
            QVERIFY(::stat(a_->SlavePath().c_str(), &st) == 0);
            other = dir.filePath(QStringLiteral("node"));
            if (::mknod(QFile::encodeName(other).constData(), S_IFCHR | 0600, st.st_rdev) != 0)
                QSKIP("no right to make a device node here");
        }
        if (second == QLatin1String("relative")) other = QString::fromStdString(a_->SlavePath()).mid(5);  // "pts/3"
        TProgramPairDialog d{TConfigValues{}};
        d.PortA->setEditText(QString::fromStdString(a_->PortPath()));
        d.PortB->setEditText(other);
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QVERIFY(!d.Running());
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(a_->ReceivedCount(), 0L);
    }
};

QTEST_MAIN(TestProgramPairDialog)
#include "test_program_pair_dialog.moc"
