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
