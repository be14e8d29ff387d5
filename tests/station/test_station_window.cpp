// The Station window on real sockets: a watched temporary folder into which
// the test links virtual modules (and a silent line) to plug them. It shows
// a PASS tile with the unit address and a FAIL tile with the reason, keeps
// a result after the module is taken out, counts them, refuses the pages'
// operations while it runs, and writes the passed module's label.
// TW_SHOT=PATH keeps a picture of the window for the README.
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "module/operation_runner.h"
#include "settings/config_profile.h"
#include "station/ui/station_window.h"
#include "support/pty_pair.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

class TestStationWindow : public QObject {
    Q_OBJECT
    QTemporaryDir data_;

private slots:
    // A record of its own each run: unit addresses once reserved are never
    // given again.
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path())); }

    void passAndFailTiles()
    {
        TScriptedDialogs dialogs;
        SetDialogs(&dialogs);
        QTemporaryDir dir;
        const QString sockets = dir.filePath(QStringLiteral("sockets"));
        const QString labels = dir.filePath(QStringLiteral("labels"));
        QVERIFY(QDir().mkpath(sockets));
        const QString profile = dir.filePath(QStringLiteral("Line 3.json"));
        {
            QFile f(profile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(WriteConfigProfile(TConfigValues{}));
        }
        TVirtualModule module;
        std::string error;
        QVERIFY2(module.Start(&error), error.c_str());
        TPtyPair silent;  // a line with no module answering
        QVERIFY(silent.Ok());

        TStationWindow w;  // the Com Port page's default line: 57600 baud, as the module
        w.ProfileEdit->setText(profile);
        w.UnitAddressEdit->setText(QStringLiteral("0100"));
        w.WatchEdit->setText(sockets);
        w.LabelsEdit->setText(labels);
        // The first module is in its socket before Start, the next comes later.
        QVERIFY(QFile::link(QString::fromStdString(module.PortPath()), sockets + QStringLiteral("/usb-Tarnwick_A1-if00")));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Keyboard: Start is reached and pressed without the mouse.
        w.StartButton->setFocus();
        QTest::keyClick(w.StartButton, Qt::Key_Space);
        QVERIFY2(w.Running(), qPrintable(w.Status->text()));
        QVERIFY(TOperationRunner::Panel().Refusal().contains(QStringLiteral("\"Station\"")));

        QTRY_VERIFY_WITH_TIMEOUT(w.Tiles().size() == 1 && w.Tiles()[0]->View().state == TSocketState::Passed, 90000);
        TStationTile* pass = w.Tiles()[0];
        QCOMPARE(pass->Headline->text(), QStringLiteral("PASS"));
        QCOMPARE(pass->Detail->text(), QStringLiteral("Unit 0100"));
        QCOMPARE(pass->accessibleName(), QStringLiteral("Socket 1 (usb-Tarnwick_A1-if00): PASS, unit 0100"));
        QCOMPARE(pass->focusPolicy(), Qt::StrongFocus);
        // Its label's QR code finds its row.
        const TStationModuleResult passed = pass->View().last;
        QVERIFY(!passed.rowId.isEmpty());
        QVERIFY2(QFileInfo(passed.label).isFile(), qPrintable(passed.label));
        if (!QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {
            QProcess zbar;
            zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), passed.label});
            QVERIFY(zbar.waitForFinished(60000));
            QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(),
                     QStringLiteral("TARNWICK UNIT 0100 ROW ") + passed.rowId);
        }

        QVERIFY(QFile::link(silent.Path(), sockets + QStringLiteral("/usb-Tarnwick_B2-if00")));
        QTRY_VERIFY_WITH_TIMEOUT(w.Tiles().size() == 2 && w.Tiles()[1]->View().state == TSocketState::Failed, 90000);
        TStationTile* fail = w.Tiles()[1];
        QCOMPARE(fail->Headline->text(), QStringLiteral("FAIL"));
        QVERIFY2(fail->Detail->text().contains(QStringLiteral("Check")), qPrintable(fail->Detail->text()));
        QVERIFY(fail->accessibleName().startsWith(QStringLiteral("Socket 2 (usb-Tarnwick_B2-if00): FAIL, ")));
        QCOMPARE(w.PassedLabel->text(), QStringLiteral("Passed 1"));
        QCOMPARE(w.FailedLabel->text(), QStringLiteral("Failed 1"));
        QCOMPARE(w.YieldLabel->text(), QStringLiteral("Yield 50.0 %"));
        QCOMPARE(w.LastResults->count(), 2);
        QVERIFY(w.LastResults->item(0)->text().contains(QStringLiteral("FAIL")));

        // Taken out: the result stays until the next module.
        QVERIFY(QFile::remove(sockets + QStringLiteral("/usb-Tarnwick_A1-if00")));
        QTest::qWait(300);  // nothing to wait for: the tile must not change
        QCOMPARE(pass->View().state, TSocketState::Passed);

        if (!qEnvironmentVariableIsEmpty("TW_SHOT")) QVERIFY(w.grab().save(qEnvironmentVariable("TW_SHOT")));

        w.StopClick();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 60000);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(TOperationRunner::Panel().Refusal().isEmpty());
        QVERIFY2(w.Status->text().startsWith(QStringLiteral("Stopped.")), qPrintable(w.Status->text()));
        const QStringList files = QDir(labels).entryList({QStringLiteral("unit-0100-row-*")});
        QCOMPARE(files.size(), 2);  // PNG and PDF
        SetDialogs(nullptr);
    }

    void startRefusedWithTheReason_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("addresses");
        QTest::addColumn<QString>("watch");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no profile") << "" << "0100" << "/tmp" << "Choose the profile";
        QTest::newRow("missing profile") << "/nonexistent/p.json" << "0100" << "/tmp" << "/nonexistent/p.json";
        QTest::newRow("no addresses") << "PROFILE" << "" << "/tmp" << "unit addresses";
        QTest::newRow("nowhere to watch") << "PROFILE" << "0100" << "" << "watched folder";
        QTest::newRow("folder missing") << "PROFILE" << "0100" << "/nonexistent/sockets" << "/nonexistent/sockets";
    }
    void startRefusedWithTheReason()
    {
        QFETCH(QString, profile);
        QFETCH(QString, addresses);
        QFETCH(QString, watch);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        if (profile == QLatin1String("PROFILE")) {
            profile = dir.filePath(QStringLiteral("p.json"));
            QFile f(profile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(WriteConfigProfile(TConfigValues{}));
        }
        TStationWindow w;
        w.ProfileEdit->setText(profile);
        w.UnitAddressEdit->setText(addresses);
        w.WatchEdit->setText(watch);
        QVERIFY(!w.StartClick());
        QVERIFY(!w.Running());
        QVERIFY(TOperationRunner::Panel().Refusal().isEmpty());
        QVERIFY2(w.Status->text().contains(expected), qPrintable(w.Status->text()));
    }
};

QTEST_MAIN(TestStationWindow)
#include "test_station_window.moc"
