// The watched folder as udev changes /dev/serial/by-id: links made under a
// passing name and renamed into place, links that come and go at once, a
// link replaced by one to another device, the folder itself removed with
// its last link and made again with the next. /dev/null and /dev/zero stand
// for two adapters.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "station/folder_watch.h"

namespace {

constexpr int kSettleMs = 50;

// One Wait, ended by Wake when nothing settles within timeoutMs: "+name"
// for a plug, "-name" for an unplug, in order.
QStringList WaitChanges(TFolderWatch& watch, int timeoutMs = 10000)
{
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread guard([&] {
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done; })) watch.Wake();
    });
    const std::vector<TFolderChange> changes = watch.Wait(kSettleMs);
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    guard.join();
    QStringList out;
    for (const TFolderChange& c : changes) out << (c.plugged ? QStringLiteral("+") : QStringLiteral("-")) + c.name;
    return out;
}

}  // namespace

class TestFolderWatch : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;

private slots:
    void changesSettleAsPlugsAndUnplugs_data()
    {
        // What the folder holds when the watch starts, what happens before
        // the one look, what that look gives.
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("passing link") << QString() << "link a null; remove a" << QStringList{};
        QTest::newRow("renamed into place") << QString() << "link .#a null; rename .#a a" << QStringList{"+a"};
        QTest::newRow("replaced by another device") << "a null" << "remove a; link a zero" << QStringList{"-a", "+a"};
    }
    void changesSettleAsPlugsAndUnplugs()
    {
        QFETCH(QString, start);
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        const QString dir = tmp_.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(dir));
        auto device = [](const QString& d) { return QStringLiteral("/dev/") + d; };
        if (!start.isEmpty()) QVERIFY(QFile::link(device(start.section(' ', 1)), dir + '/' + start.section(' ', 0, 0)));
        TFolderWatch watch;
        QString error;
        QVERIFY2(watch.Add(dir, &error), qPrintable(error));
        QCOMPARE(int(watch.Present().size()), start.isEmpty() ? 0 : 1);
        for (const QString& step : change.split(QStringLiteral("; "))) {
            const QStringList w = step.split(' ');
            if (w[0] == QLatin1String("link")) QVERIFY(QFile::link(device(w[2]), dir + '/' + w[1]));
            if (w[0] == QLatin1String("remove")) QVERIFY(QFile::remove(dir + '/' + w[1]));
            if (w[0] == QLatin1String("rename")) QVERIFY(QFile::rename(dir + '/' + w[1], dir + '/' + w[2]));
        }
        QCOMPARE(WaitChanges(watch), expected);
    }

    // The folder goes with its last link (as udev removes /dev/serial/by-id)
    // and comes back with the next: that one is a plug too.
    void folderRemovedAndMadeAgainIsFollowed()
    {
        const QString dir = tmp_.filePath(QStringLiteral("by-id"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir + QStringLiteral("/a")));
        TFolderWatch watch;
        QString error;
        QVERIFY2(watch.Add(dir, &error), qPrintable(error));
        QCOMPARE(int(watch.Present().size()), 1);

        QVERIFY(QFile::remove(dir + QStringLiteral("/a")));
        QVERIFY(QDir(dir).rmdir(dir));
        QCOMPARE(WaitChanges(watch), QStringList{QStringLiteral("-a")});

        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir + QStringLiteral("/b")));
        QCOMPARE(WaitChanges(watch), QStringList{QStringLiteral("+b")});
        // And it is followed as before.
        QVERIFY(QFile::remove(dir + QStringLiteral("/b")));
        QCOMPARE(WaitChanges(watch), QStringList{QStringLiteral("-b")});
    }

    // A folder that is not there at the start is refused with the reason.
    void missingFolderIsRefused()
    {
        TFolderWatch watch;
        QString error;
        QVERIFY(!watch.Add(tmp_.filePath(QStringLiteral("none")), &error));
        QVERIFY2(error.contains(QLatin1String("No such file")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestFolderWatch)
#include "test_folder_watch.moc"
