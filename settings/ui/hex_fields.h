#pragma once
// Entry-field rules shared by the Config Memory page and the command rows:
// the key filters, the change checks and the exit normalisation of the
// hexadecimal and channel-frequency fields, and the wiring that runs them on
// a QLineEdit (typed characters, every text change, leaving the field).
#include <QChar>
#include <QObject>
#include <functional>

class QLineEdit;
class QWidget;
class QEvent;

// ---- Handlers (Sender = the field). A key handler gets the typed character
// by reference and suppresses it by setting it to QChar(0).

// 0-9, A-F; letters upper-cased first; anything else beeps and is dropped.
void HexKeyPress(QLineEdit* sender, QChar& key);
// A non-hex character anywhere: empty the field, beep, zero-fill it.
void HexKeyChange(QLineEdit* sender);
// Right-align and zero-fill to the field's maxLength().
void HexKeyExit(QLineEdit* sender);
// "Data (Hex)" field of a command row; lengthField is the row's read-only
// "Length (Hex)" field (may be null).
void HexKeyRegisterChange(QLineEdit* sender, QLineEdit* lengthField);
void HexKeyRegisterExit(QLineEdit* sender, QLineEdit* lengthField);
// Channel frequency fields: 0-9 and "."; on exit the nearest channel step.
void DecKeyPress(QLineEdit* sender, QChar& key);
void DecExit(QLineEdit* sender);

// ---- Wiring.
struct TFieldHandlers {
    std::function<void(QLineEdit*, QChar&)> keyPress;  // OnKeyPress
    std::function<void(QLineEdit*)> change;            // OnChange (also programmatic changes)
    std::function<void(QLineEdit*)> exit;              // OnExit (focus leaves the field)
};

// Runs the handlers on the edit's events; lives as a child of the edit.
// Enter reaches keyPress as '\r'; a suppressed Enter is consumed.
class TFieldEvents : public QObject {
    Q_OBJECT
public:
    TFieldEvents(QLineEdit* edit, TFieldHandlers handlers);
    QLineEdit* Edit() const { return edit_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
    TFieldHandlers h_;
};

TFieldEvents* AttachFieldHandlers(QLineEdit* edit, TFieldHandlers handlers);
// HexKeyPress + HexKeyExit (command-row address, length and count fields).
TFieldEvents* AttachHexField(QLineEdit* edit);
// HexKeyPress + HexKeyChange + HexKeyExit (key and unit address).
TFieldEvents* AttachHexKeyField(QLineEdit* edit);
// HexKeyPress + HexKeyRegisterChange + HexKeyRegisterExit; lengthOf finds
// the row's length field at the time of the event.
TFieldEvents* AttachHexDataField(QLineEdit* data, std::function<QLineEdit*(QLineEdit* data)> lengthOf);
// DecKeyPress + DecExit.
TFieldEvents* AttachDecField(QLineEdit* edit);
// Before a field is freed: no handler runs on it any more.
void DetachFieldHandlers(QWidget* w);
