// File modes of the atomic writer: a file holding a key is its owner's
// only; no save ever widens the mode of the file it replaces.
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

#include "common/atomic_file.h"

namespace {

int ModeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

}  // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }

    void modes_data()
    {
        QTest::addColumn<int>("before");  // -1: no file yet
        QTest::addColumn<bool>("secret");
        QTest::addColumn<int>("after");
        QTest::newRow("new file") << -1 << false << 0644;
        QTest::newRow("new key file") << -1 << true << 0600;
        QTest::newRow("over an owner-only file") << 0600 << false << 0600;
        QTest::newRow("key over a world-readable file") << 0644 << true << 0600;
        QTest::newRow("key over a read-only file") << 0400 << true << 0400;
        QTest::newRow("over a group file") << 0660 << false << 0660;
    }
    void modes()
    {
        QFETCH(int, before);
        QFETCH(bool, secret);
        QFETCH(int, after);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        if (before >= 0) {
            QVERIFY(WriteFileAtomically(path, "old"));
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
        }
        QString error;
        QVERIFY2(secret ? WritePrivateFileAtomically(path, "key", &error) : WriteFileAtomically(path, "key", &error),
                 qPrintable(error));
        QCOMPARE(ModeOf(path), after);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("key"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left
    }

    void linkIsFollowedAndKept()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("t")), link = dir.filePath(QStringLiteral("l"));
        QVERIFY(WriteFileAtomically(target, "old"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(WritePrivateFileAtomically(link, "new"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ModeOf(target), 0600);
    }

    // The kernel's rule for links in sticky folders, in every writer: a link
    // another user planted in /tmp is not a way to make us write elsewhere.
    void plantedLinks_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("othersLink");
        QTest::addColumn<bool>("followed");
        QTest::newRow("another user's link in a sticky shared folder") << 01777 << true << false;
        QTest::newRow("own link in a sticky shared folder") << 01777 << false << true;
        QTest::newRow("another user's link in a plain shared folder") << 0777 << true << true;
        QTest::newRow("another user's link in a sticky private folder") << 01755 << true << true;
    }
    void plantedLinks()
    {
        QFETCH(int, folderMode);
        QFETCH(bool, othersLink);
        QFETCH(bool, followed);
        if (othersLink && ::geteuid() != 0) QSKIP("making another user's link needs root");
        QTemporaryDir dir;
        const QString shared = dir.filePath(QStringLiteral("shared")), target = dir.filePath(QStringLiteral("victim"));
        QVERIFY(QDir().mkdir(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), mode_t(folderMode)) == 0);
        QVERIFY(WriteFileAtomically(target, "theirs"));
        const QString link = shared + QStringLiteral("/profile.json");
        QVERIFY(QFile::link(target, link));
        if (othersLink) QVERIFY(::lchown(QFile::encodeName(link).constData(), 65534, 65534) == 0);

        for (int writer = 0; writer < 3; ++writer) {
            QString error;
            const bool ok = writer == 0   ? WritePrivateFileAtomically(link, "key", &error)
                            : writer == 1 ? WriteFileAtomically(link, "key", &error)
                                          : MakeFileOwnerOnly(link, &error);
            QCOMPARE(ok, followed);
            QVERIFY(QFileInfo(link).isSymLink());
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray(followed ? "key" : "theirs"));
            if (!followed) QVERIFY2(error.contains(QLatin1String("another user")), qPrintable(error));
            QCOMPARE(QDir(shared).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);  // no temporary
        }
    }

    // Reading: only a regular file, and no more than its limit, refused at once.
    void boundedReads_data()
    {
        QTest::addColumn<QString>("path");  // "fifo": a FIFO made here
        QTest::addColumn<QString>("why");
        QTest::newRow("FIFO") << "fifo" << "pipe";
        QTest::newRow("endless device") << "/dev/zero" << "device";
        QTest::newRow("folder") << "/" << "folder";
        QTest::newRow("too long") << "long" << "larger than 16 bytes";
        QTest::newRow("right") << "right" << "";
    }
    void boundedReads()
    {
        QFETCH(QString, path);
        QFETCH(QString, why);
        QTemporaryDir dir;
        if (path == QLatin1String("fifo")) {
            path = dir.filePath(path);
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (!path.startsWith(QLatin1Char('/'))) {
            path = dir.filePath(path);
            QVERIFY(WriteFileAtomically(path, QByteArray(path.endsWith(QLatin1String("long")) ? 17 : 16, 'x')));
        }
        QByteArray bytes;
        QString error;
        QCOMPARE(ReadSmallFile(path, 16, &bytes, &error), why.isEmpty());
        QVERIFY2(error.contains(why), qPrintable(error));
        if (why.isEmpty()) QCOMPARE(bytes, QByteArray(16, 'x'));
    }

    void ownerOnlyForFilesWrittenElsewhere()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log"));
        QVERIFY(MakeFileOwnerOnly(path));
        QCOMPARE(ModeOf(path), 0600);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        QVERIFY(MakeFileOwnerOnly(path));
        QCOMPARE(ModeOf(path), 0600);
        QVERIFY(MakeFileOwnerOnly(QStringLiteral("/dev/null")));  // a device keeps its mode
        QVERIFY(!MakeFileOwnerOnly(dir.filePath(QStringLiteral("no/such/log"))));
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomic_file.moc"
