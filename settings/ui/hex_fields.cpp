#include "settings/ui/hex_fields.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "common/ui/dialogs.h"
#include "settings/conversions.h"

namespace {

void SetTextIfDifferent(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text) edit->setText(text);
}

}  // namespace

void HexKeyPress(QLineEdit*, QChar& key)
{
    if (FilterHexKey(key)) Dialogs().Beep();
}

void HexKeyChange(QLineEdit* sender)
{
    // setText re-enters this handler; the new text is all hex digits, so the
    // walk over it ends without another beep.
    if (FirstNonHex(sender->text()) < 0) return;
    sender->setText(QString());
    Dialogs().Beep();
    HexKeyExit(sender);
}

void HexKeyExit(QLineEdit* sender)
{
    SetTextIfDifferent(sender, PadHexText(sender->text(), sender->maxLength()));
}

void HexKeyRegisterChange(QLineEdit* sender, QLineEdit* lengthField)
{
    if (FirstNonHex(sender->text()) >= 0) {
        sender->setText(QStringLiteral("00"));
        Dialogs().Beep();
    }
    if (lengthField) SetTextIfDifferent(lengthField, DataLengthWhileTyping(sender->text()));
}

void HexKeyRegisterExit(QLineEdit* sender, QLineEdit* lengthField)
{
    const THexData d = NormalizeHexData(sender->text());
    if (lengthField) SetTextIfDifferent(lengthField, d.length);
    SetTextIfDifferent(sender, d.data);
}

void DecKeyPress(QLineEdit*, QChar& key)
{
    if (FilterDecKey(key)) Dialogs().Beep();
}

void DecExit(QLineEdit* sender)
{
    QString text = sender->text();
    bool beep = false;
    NormalizeChannelFrequency(text, &beep);
    if (beep) Dialogs().Beep();
    SetTextIfDifferent(sender, text);
}

TFieldEvents::TFieldEvents(QLineEdit* edit, TFieldHandlers handlers)
    : QObject(edit), edit_(edit), h_(std::move(handlers))
{
    setObjectName(QStringLiteral("FieldEvents"));
    edit->installEventFilter(this);
    if (h_.change)
        connect(edit, &QLineEdit::textChanged, this, [this] {
            if (h_.change) h_.change(edit_);
        });
}

bool TFieldEvents::eventFilter(QObject* watched, QEvent* event)
{
    // While the edit is being destroyed it is no QLineEdit any more; no
    // handler may touch it then.
    if (watched != edit_ || !qobject_cast<QLineEdit*>(watched)) return false;
    if (event->type() == QEvent::KeyPress && h_.keyPress) {
        auto* e = static_cast<QKeyEvent*>(event);
        QString t = e->text();
        // Alt and Meta combinations are menu and system keys, not typing:
        // the field inserts nothing, and the event goes on to the parents.
        if (e->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) {
            if (t.size() != 1 || !t.at(0).isPrint()) return false;
            e->ignore();
            return true;
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) t = QStringLiteral("\r");
        if (t.size() != 1) return false;
        const QChar typed = t.at(0);
        // Delete arrives with the character 127 on X11: an editing key, not
        // a character for the filters.
        if (e->key() == Qt::Key_Delete || typed.unicode() == 0x7F) return false;
        QChar key = typed;
        h_.keyPress(edit_, key);
        if (key.isNull()) return true;
        if (key == typed) return false;
        // The handler changed the character: type the new one instead.
        if (!edit_->isReadOnly()) edit_->insert(QString(key));
        return true;
    }
    if (event->type() == QEvent::FocusOut && h_.exit) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Switching to another window or opening a menu does not leave the field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) h_.exit(edit_);
    }
    return false;
}

TFieldEvents* AttachFieldHandlers(QLineEdit* edit, TFieldHandlers handlers)
{
    return new TFieldEvents(edit, std::move(handlers));
}

TFieldEvents* AttachHexField(QLineEdit* edit)
{
    return AttachFieldHandlers(edit, {HexKeyPress, nullptr, HexKeyExit});
}

TFieldEvents* AttachHexKeyField(QLineEdit* edit)
{
    return AttachFieldHandlers(edit, {HexKeyPress, HexKeyChange, HexKeyExit});
}

TFieldEvents* AttachHexDataField(QLineEdit* data, std::function<QLineEdit*(QLineEdit*)> lengthOf)
{
    auto find = [lengthOf](QLineEdit* d) { return lengthOf ? lengthOf(d) : nullptr; };
    return AttachFieldHandlers(data, {HexKeyPress, [find](QLineEdit* d) { HexKeyRegisterChange(d, find(d)); },
                                      [find](QLineEdit* d) { HexKeyRegisterExit(d, find(d)); }});
}

TFieldEvents* AttachDecField(QLineEdit* edit)
{
    return AttachFieldHandlers(edit, {DecKeyPress, nullptr, DecExit});
}

void DetachFieldHandlers(QWidget* w)
{
    if (!w) return;
    const auto all = w->findChildren<TFieldEvents*>(Qt::FindDirectChildrenOnly);
    for (TFieldEvents* f : all) {
        w->removeEventFilter(f);
        delete f;
    }
}
