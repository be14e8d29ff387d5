#pragma once
// The Command page: nine command rows, each a command of the catalogue with
// its parameter controls and its own "Send Command" button, "Send All", and
// the hexadecimal log of what went out and came back.
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "commands/command_encoder.h"
#include "commands/command_exchange.h"
#include "commands/command_log.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TModuleSession;
class TPortControls;

class TCommandPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRows = 9;
    static constexpr int kMaxParams = 17;

    TCommandPage(TModuleSession& session, TPortControls& controls, QWidget* parent = nullptr);

    QGroupBox* CommandBox;
    QPlainTextEdit* CommandBuildTerminal;
    QPushButton* SendAllButton;
    QPushButton* ClearLogButton;
    QPushButton* ClearCommandsButton;

    // Builds the nine rows (label, command combo, "Send Command"); run once by
    // the main window's creation step. The row buttons start disabled and
    // follow the port with SendAllButton.
    void CreateCommandRows();

    // Row n = 1 .. 9.
    QLabel* RowLabel(int n) const;
    QComboBox* CommandCombo(int n) const;
    QPushButton* SendButton(int n) const;
    int ParamCount(int n) const;
    // Parameter control at position 1 .. ParamCount(n); nullptr otherwise.
    QWidget* ParamControl(int n, int position) const;
    // What the encoder reads from row n.
    TCommandRowValues RowValues(int n) const;
    // Chooses the row's command and fills its parameter controls in their
    // order (texts as given, items, check boxes), as a loaded script does.
    void SetRowValues(int n, const TCommandRowValues& values);

    // Handlers.
    void ComboBoxChange(QObject* Sender);
    void SendCommandClick(QObject* Sender);
    void SendAllClick();
    void ClearLogButtonClick();
    void ClearCommandsButtonClick();

    // Log lines, oldest first.
    QStringList LogLines() const;

    // Slice in which waits of a repeating row give the window a turn, so
    // the progress window's Abort button is always reachable.
    static constexpr int kResponsiveSliceMs = 50;
    // Bytes one drain of waiting input reads at most (it also stops after
    // a quarter second).
    static constexpr int32_t kDrainMaxBytes = kInputDrainMaxBytes;

private:
    struct TRow {
        QLabel* label = nullptr;
        QComboBox* combo = nullptr;
        QPushButton* button = nullptr;
        std::array<QPointer<QWidget>, kMaxParams> params;
        int count = 0;
    };

    TRow& Row(int n);
    const TRow* RowOrNull(int n) const;
    void FreeParams(int n);
    void CreateParams(int n, int command);
    void AddParam(int n, QWidget* w, const QString& hint, bool tagged = true);
    QLineEdit* AddEdit(int n, int left, int width, int maxLength, const QString& text, const QString& hint);

    // One click of a row button, or one row of "Send All"; port errors pass.
    void RunRow(QPushButton* sender, bool sendAll);
    void RunRowPasses(QPushButton* sender, bool sendAll);
    // Steps of one exchange after the presence check.
    void Exchange(int n, int command, const TEncodedCommand& e, bool sendAll, bool& repeat);
    void DrainInput(const QString& startText);
    void AddLogLine(const QString& line);

    TModuleSession& session_;
    TPortControls& controls_;
    std::array<TRow, kRows + 1> rows_;  // index 0 unused
    TLogLine line_;
};
