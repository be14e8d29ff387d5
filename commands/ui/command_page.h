#pragma once
// The Command page: nine command rows, each a command of the catalogue with
// its parameter controls and its own "Send Command" button, "Send All", and
// the hexadecimal log of what went out and came back.
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>

#include <functional>
#include <vector>

#include "commands/command_encoder.h"
#include "commands/command_log.h"
#include "commands/command_run.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TModuleSession;
class TOperationObserver;
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

    // Slice in which waits of a repeating row look at the Abort button.
    static constexpr int kResponsiveSliceMs = 50;

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

    // The rows as the encoder reads them, row 1 first; empty rows included.
    std::vector<TCommandRow> Rows() const;
    // Starts a send on the panel's runner; the button gets the focus back.
    using TSendJob = std::function<TCommandRunResult(TModuleSession&, TOperationObserver&, TLogLine&)>;
    void StartSend(QPushButton* button, const QString& name, TSendJob send);
    void AddLogLine(const QString& line);

    TModuleSession& session_;
    TPortControls& controls_;
    std::array<TRow, kRows + 1> rows_;  // index 0 unused
};
