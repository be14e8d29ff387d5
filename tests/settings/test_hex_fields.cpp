// The shared field rules on real line edits: typed keys, pastes, leaving
// the field.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

#include "settings/ui/hex_fields.h"
#include "support/scripted_dialogs.h"

class TestHexFields : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    QLineEdit* key = nullptr;      // 32 digits, HexKeyChange
    QLineEdit* address = nullptr;  // 4 digits, HexKeyChange
    QLineEdit* rowField = nullptr; // 2 digits, no change rule
    QLineEdit* data = nullptr;     // "Data (Hex)"
    QLineEdit* length = nullptr;   // its read-only "Length (Hex)"
    QLineEdit* channel = nullptr;
    QPushButton* other = nullptr;
    TScriptedDialogs* dialogs = nullptr;

    QLineEdit* AddEdit(int maxLength, const QString& text)
    {
        auto* e = new QLineEdit(window);
        e->setMaxLength(maxLength);
        e->setText(text);
        window->layout()->addWidget(e);
        return e;
    }

    void Enter(QLineEdit* e)
    {
        e->setFocus();
        QTRY_VERIFY(e->hasFocus());
    }
    void Leave(QLineEdit* e)
    {
        other->setFocus();
        QTRY_VERIFY(!e->hasFocus());
    }

private slots:
    void init()
    {
        dialogs = new TScriptedDialogs;
        SetDialogs(dialogs);
        window = new QWidget;
        new QVBoxLayout(window);
        key = AddEdit(32, QStringLiteral("1F2E3D4C5B6A79880F1E2D3C4B5A6978"));
        address = AddEdit(4, QStringLiteral("FFFE"));
        rowField = AddEdit(2, QStringLiteral("00"));
        data = AddEdit(64, QStringLiteral("00"));
        length = AddEdit(2, QStringLiteral("00"));
        length->setReadOnly(true);
        channel = AddEdit(7, QStringLiteral("915.064"));
        other = new QPushButton(QStringLiteral("other"), window);
        window->layout()->addWidget(other);
        AttachHexKeyField(key);
        AttachHexKeyField(address);
        AttachHexField(rowField);
        AttachHexDataField(data, [this](QLineEdit*) { return length; });
        AttachDecField(channel);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    void cleanup()
    {
        delete window;
        SetDialogs(nullptr);
        delete dialogs;
    }

    void hexKeysAreFilteredAndUpperCased()
    {
        address->clear();
        Enter(address);
        QTest::keyClicks(address, QStringLiteral("b"));
        QCOMPARE(address->text(), QStringLiteral("B"));
        QCOMPARE(dialogs->beeps, 0);
        QTest::keyClicks(address, QStringLiteral("g"));
        QCOMPARE(address->text(), QStringLiteral("B"));
        QCOMPARE(dialogs->beeps, 1);
        QTest::keyClicks(address, QStringLiteral("1 a"));
        QCOMPARE(address->text(), QStringLiteral("B1A"));
        QCOMPARE(dialogs->beeps, 2);
        // Backspace and Enter pass untouched; Enter does not leave the field.
        QTest::keyClick(address, Qt::Key_Backspace);
        QCOMPARE(address->text(), QStringLiteral("B1"));
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(address->text(), QStringLiteral("B1"));
        QCOMPARE(dialogs->beeps, 2);
        // The upper-cased character still respects the field's length.
        QTest::keyClicks(address, QStringLiteral("cde"));
        QCOMPARE(address->text(), QStringLiteral("B1CD"));
    }

    void editingKeysEditAndAltLettersInsertNothing()
    {
        // On X11 Delete carries the character 127; Alt+letter carries the letter.
        for (QLineEdit* e : {key, address, rowField, data, channel}) {
            const QString before = e->text();
            Enter(e);
            e->setCursorPosition(0);
            QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
            QApplication::sendEvent(e, &del);
            QCOMPARE(e->text(), before.mid(1));
            e->end(false);
            QTest::keyClick(e, Qt::Key_Backspace);
            QCOMPARE(e->text(), before.mid(1).chopped(1));
            const QString edited = e->text();
            for (const Qt::KeyboardModifier m : {Qt::AltModifier, Qt::MetaModifier}) {
                for (const auto& [k, text] : {std::pair{Qt::Key_G, "g"}, std::pair{Qt::Key_A, "a"}, std::pair{Qt::Key_5, "5"}}) {
                    QKeyEvent alt(QEvent::KeyPress, k, m, QString::fromLatin1(text));
                    QApplication::sendEvent(e, &alt);
                    QCOMPARE(e->text(), edited);
                }
            }
            QCOMPARE(dialogs->beeps, 0);
        }
    }

    void pasteWithABlankLeavesZeros()
    {
        Enter(address);
        address->selectAll();
        QApplication::clipboard()->setText(QStringLiteral("12 4"));
        address->paste();
        QCOMPARE(address->text(), QStringLiteral("0000"));
        QCOMPARE(dialogs->beeps, 1);

        key->setText(QStringLiteral("zz"));
        QCOMPARE(key->text(), QString(32, QLatin1Char('0')));
        QCOMPARE(dialogs->beeps, 2);
        // Lower-case digits are valid while typing and stay until the exit.
        address->setText(QStringLiteral("ab"));
        QCOMPARE(address->text(), QStringLiteral("ab"));
        QCOMPARE(dialogs->beeps, 2);
    }

    void leavingPadsToTheFieldLength()
    {
        address->clear();
        Enter(address);
        QTest::keyClicks(address, QStringLiteral("7"));
        Leave(address);
        QCOMPARE(address->text(), QStringLiteral("0007"));

        key->clear();
        Enter(key);
        QTest::keyClicks(key, QStringLiteral("abcde"));
        Leave(key);
        QCOMPARE(key->text(), QString(27, QLatin1Char('0')) + QStringLiteral("ABCDE"));

        rowField->clear();
        Enter(rowField);
        QTest::keyClicks(rowField, QStringLiteral("f"));
        Leave(rowField);
        QCOMPARE(rowField->text(), QStringLiteral("0F"));

        // Only a program can put a non-hex character there; the trailing digits stay.
        rowField->setMaxLength(4);
        rowField->setText(QStringLiteral("X12"));
        Enter(rowField);
        Leave(rowField);
        QCOMPARE(rowField->text(), QStringLiteral("0012"));
        QCOMPARE(dialogs->beeps, 0);
    }

    void dataFieldKeepsTheLengthInStep()
    {
        data->clear();
        QCOMPARE(length->text(), QStringLiteral("00"));
        Enter(data);
        QTest::keyClicks(data, QStringLiteral("abc"));
        QCOMPARE(data->text(), QStringLiteral("ABC"));
        QCOMPARE(length->text(), QStringLiteral("01"));
        Leave(data);
        QCOMPARE(data->text(), QStringLiteral("0ABC"));
        QCOMPARE(length->text(), QStringLiteral("01"));

        data->clear();
        Enter(data);
        Leave(data);
        QCOMPARE(data->text(), QStringLiteral("00"));
        QCOMPARE(length->text(), QStringLiteral("00"));

        data->setText(QString(64, QLatin1Char('F')));
        QCOMPARE(length->text(), QStringLiteral("1F"));
        data->setText(QStringLiteral("12Q4"));
        QCOMPARE(data->text(), QStringLiteral("00"));
        QCOMPARE(length->text(), QStringLiteral("00"));
        QCOMPARE(dialogs->beeps, 1);
    }

    void channelFieldTakesTheNearestStep()
    {
        channel->clear();
        Enter(channel);
        QTest::keyClicks(channel, QStringLiteral("91-5a"));
        QCOMPARE(channel->text(), QStringLiteral("915"));
        QCOMPARE(dialogs->beeps, 2);
        Leave(channel);
        QCOMPARE(channel->text(), QStringLiteral("914.936"));

        channel->clear();
        Enter(channel);
        QTest::keyClicks(channel, QStringLiteral("927.1"));
        Leave(channel);
        QCOMPARE(channel->text(), QStringLiteral("915.064"));
        QCOMPARE(dialogs->beeps, 3);

        // An empty field falls back without a beep.
        channel->clear();
        Enter(channel);
        Leave(channel);
        QCOMPARE(channel->text(), QStringLiteral("915.064"));
        QCOMPARE(dialogs->beeps, 3);
    }

    void detachedOrFreedFieldsRunNoRule()
    {
        DetachFieldHandlers(address);
        Enter(address);
        QTest::keyClicks(address, QStringLiteral("g"));
        QCOMPARE(dialogs->beeps, 0);
        address->setText(QStringLiteral("x"));
        Leave(address);
        QCOMPARE(address->text(), QStringLiteral("x"));

        // A field freed while it has the focus runs no exit rule on its way out.
        Enter(data);
        delete data;
        data = nullptr;
        QCOMPARE(length->text(), QStringLiteral("00"));
        QCOMPARE(dialogs->beeps, 0);
    }
};

QTEST_MAIN(TestHexFields)
#include "test_hex_fields.moc"
