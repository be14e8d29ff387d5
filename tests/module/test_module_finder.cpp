// Find Module without widgets: several virtual modules at different rates,
// one silent, one port that cannot be opened; tried at once, the first in
// list order that answered wins.
#include <QtTest>
#include <memory>

#include "finder_module.h"
#include "module/module_finder.h"

namespace {

const QList<int> kAllFrom57600{1, 0, 2, 3, 4, 5, 6, 7};

}  // namespace

class TestModuleFinder : public QObject {
    Q_OBJECT
private slots:
    void firstAnsweringPortAndRateWin()
    {
        auto silent = Module(0, true);
        auto at9600 = Module(9600);
        auto at57600 = Module(57600);
        QVERIFY(silent && at9600 && at57600);
        const QString missing = QStringLiteral("/dev/tarnwick-no-such-port");

        TFindRequest req;
        req.ports = {missing, PathOf(*silent), PathOf(*at9600), PathOf(*at57600)};
        req.baudItems = kAllFrom57600;
        req.settings.flowItem = 3;
        TModuleFinder finder(req);
        std::atomic<int> progress{0};
        finder.OnProgress = [&] { ++progress; };
        const TFindResult r = finder.Run();
        QVERIFY(r.found);
        QVERIFY(!r.aborted);
        // The 57600 module answers first in time, but the 9600 one comes
        // earlier in the list.
        QCOMPARE(r.port, PathOf(*at9600));
        QCOMPARE(r.baudItem, 4);
        QCOMPARE(r.version, QStringLiteral("2.10"));
        QCOMPARE(r.Summary(), QStringLiteral("Tarnwick module 2.10 on %1 at 9600 baud").arg(PathOf(*at9600)));
        QCOMPARE(finder.Done(), finder.Total());
        QVERIFY(progress.load() > 0);
        // Rates are tried from the chosen one on; the 9600 module was asked
        // at the four rates before.
        QStringList asked;
        for (const TFindAttempt& a : r.tried)
            if (a.port == PathOf(*at9600)) asked << QString::number(BaudOfItem(a.baudItem));
        QCOMPARE(asked, (QStringList{QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("38400"),
                                     QStringLiteral("19200"), QStringLiteral("9600")}));
        // The missing port is reported once, not per rate.
        int missingTries = 0;
        for (const TFindAttempt& a : r.tried)
            if (a.port == missing) {
                ++missingTries;
                QVERIFY(!a.error.isEmpty());
            }
        QCOMPARE(missingTries, 1);
        // The modules that lost were left in peace after their answer or the winner's.
        QVERIFY(at57600->ReceivedCount() > 0);
    }

    void chosenRateOnly()
    {
        auto at9600 = Module(9600);
        auto at57600 = Module(57600);
        QVERIFY(at9600 && at57600);
        TFindRequest req;
        req.ports = {PathOf(*at9600), PathOf(*at57600)};
        req.baudItems = {1};
        const TFindResult r = TModuleFinder(req).Run();
        QVERIFY(r.found);
        QCOMPARE(r.port, PathOf(*at57600));
        QCOMPARE(r.baudItem, 1);
    }

    void noneAnsweredListsWhatWasTried()
    {
        auto silent = Module(0, true);
        auto at300 = Module(300);
        QVERIFY(silent && at300);
        TFindRequest req;
        req.ports = {PathOf(*silent), PathOf(*at300), QStringLiteral("/dev/tarnwick-no-such-port")};
        req.baudItems = {1, 0};
        const TFindResult r = TModuleFinder(req).Run();
        QVERIFY(!r.found);
        QVERIFY(r.Summary().isEmpty());
        const QStringList lines = r.TriedLines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], PathOf(*silent) + QStringLiteral(" at 57600, 115200 baud"));
        QCOMPARE(lines[1], PathOf(*at300) + QStringLiteral(" at 57600, 115200 baud"));
        QVERIFY(lines[2].startsWith(QStringLiteral("/dev/tarnwick-no-such-port: ")));
    }

    void abortEndsSoon()
    {
        auto silent = Module(0, true);
        QVERIFY(silent);
        TFindRequest req;
        req.ports = {PathOf(*silent)};
        req.baudItems = kAllFrom57600;
        TModuleFinder finder(req);
        finder.Start();
        QTRY_VERIFY(finder.Done() >= 1);
        finder.Abort();
        QVERIFY(finder.WaitFinished(5000));
        const TFindResult r = finder.Result();
        QVERIFY(r.aborted);
        QVERIFY(!r.found);
        QVERIFY(r.tried.size() < 8);
        QCOMPARE(finder.Done(), finder.Total());
    }
};

QTEST_GUILESS_MAIN(TestModuleFinder)
#include "test_module_finder.moc"
