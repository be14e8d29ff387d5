// Generated keys: their form, that they come from the random source, and
// the Config Memory page's Generate Key button and example-key notice.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "settings/ui/config_page.h"
#include "settings/key_generator.h"
#include "support/scripted_dialogs.h"

class TestKeyGenerator : public QObject {
    Q_OBJECT

private slots:
    void keysAreThirtyTwoUpperCaseHexDigitsAndDiffer()
    {
        const QRegularExpression form(QStringLiteral("^[0-9A-F]{32}$"));
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QString key = GenerateKey();
            QVERIFY2(form.match(key).hasMatch(), qPrintable(key));
            seen.insert(key);
        }
        QCOMPARE(seen.size(), 50);
        QVERIFY(!IsExampleKey(GenerateKey()));
        QVERIFY(IsExampleKey(QStringLiteral("1f2e3d4c5b6a79880f1e2d3c4b5a6978")));
    }

    void theRandomSourceIsTheOneUsed()
    {
        int calls = 0;
        const TRandomSource old = SetRandomSource([&calls](uint8_t* b, size_t n) {
            ++calls;
            for (size_t i = 0; i < n; ++i) b[i] = uint8_t(0xA0 + i);
            return true;
        });
        QCOMPARE(GenerateKey(), QStringLiteral("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"));
        QCOMPARE(calls, 1);
        // A failing source gives no key rather than a weak one.
        SetRandomSource([](uint8_t*, size_t) { return false; });
        QVERIFY(GenerateKey().isEmpty());
        SetRandomSource(old);
        QCOMPARE(GenerateKey().size(), 32);

        uint8_t a[64] = {}, b[64] = {};
        QVERIFY(OsRandomBytes(a, sizeof a));
        QVERIFY(OsRandomBytes(b, sizeof b));
        QVERIFY(memcmp(a, b, sizeof a) != 0);
    }

    void pageButtonAndExampleNotice()
    {
        TScriptedDialogs dialogs;
        SetDialogs(&dialogs);
        TPortControls controls;
        TConfigPage page(controls);
        page.show();
        QVERIFY(!page.ExampleKeyNotice->isHidden());
        QVERIFY(page.ExampleKeyNotice->text().contains(QStringLiteral("Example key")));

        int calls = 0;
        const TRandomSource old = SetRandomSource([&calls](uint8_t* b, size_t n) {
            ++calls;
            return OsRandomBytes(b, n);
        });
        QTest::mouseClick(page.GenerateKeyButton, Qt::LeftButton);
        SetRandomSource(old);
        QCOMPARE(calls, 1);
        const QString key = page.KeyEdit->text();
        QCOMPARE(key.size(), 32);
        QVERIFY(!IsExampleKey(key));
        QCOMPARE(page.Values().key, key);
        QVERIFY(page.ExampleKeyNotice->isHidden());

        // Back to the example key (typed or loaded): the notice returns.
        TConfigValues v = page.Values();
        v.key = ExampleKey();
        page.SetValues(v);
        QVERIFY(!page.ExampleKeyNotice->isHidden());
        page.KeyEdit->setText(QStringLiteral("00112233445566778899AABBCCDDEEFF"));
        QVERIFY(page.ExampleKeyNotice->isHidden());
        // A weak key is told the same way.
        page.KeyEdit->setText(QStringLiteral("1234"));
        QVERIFY(!page.ExampleKeyNotice->isHidden());
        QVERIFY(page.ExampleKeyNotice->text().contains(QStringLiteral("Weak key")));
        QVERIFY(page.ExampleKeyNotice->toolTip().contains(QStringLiteral("4 of 32")));
        SetDialogs(nullptr);
    }

    void weakKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("why");  // "" not weak
        QTest::newRow("short, padded with zeros") << "1234" << "only 4 of 32 hex digits";
        QTest::newRow("padded already") << "12345678000000000000000000000000" << "only 8 of 32";
        QTest::newRow("padded with FF in an image") << "1234FFFFFFFFFFFFFFFFFFFFFFFFFFFF" << "only 4 of 32 hex digits set, and the rest is F";
        QTest::newRow("empty") << "" << "all zeros";
        QTest::newRow("all zeros") << "00000000000000000000000000000000" << "all zeros";
        QTest::newRow("all FF") << "ffffffffffffffffffffffffffffffff" << "all FF";
        QTest::newRow("one byte repeated") << "A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5" << "A5, repeated";
        QTest::newRow("two bytes alternating") << "A55AA55AA55AA55AA55AA55AA55AA55A" << "";
        QTest::newRow("private") << "00112233445566778899AABBCCDDEEFF" << "";
    }
    void weakKeys()
    {
        QFETCH(QString, key);
        QFETCH(QString, why);
        const QString reason = WeakKeyReason(key);
        QVERIFY2(why.isEmpty() ? reason.isEmpty() : reason.contains(why), qPrintable(reason));
        QCOMPARE(KeyWarning(key).isEmpty(), why.isEmpty());
        QVERIFY(KeyWarning(ExampleKey()).contains(QStringLiteral("example key")));
    }
};

QTEST_MAIN(TestKeyGenerator)
#include "test_key_generator.moc"
