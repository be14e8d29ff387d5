#pragma once
// The Terminal page: "Local Echo", five signal lamps and the terminal, which
// is joined to the port only while it holds the keyboard focus so that
// bytes received meanwhile stay queued for the other pages' exchanges.
#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;
class QPushButton;
class TComLed;
class TComTerminal;
class TCustomComPort;
class TPortControls;
class TCustomComTerminal;

class TTerminalPage : public QWidget {
    Q_OBJECT
public:
    TTerminalPage(TCustomComPort& port, TPortControls& controls, QWidget* parent = nullptr);
    ~TTerminalPage() override;

    QCheckBox* CheckBox1;  // Local Echo
    TComLed* ComLed11;     // Open
    TComLed* ComLed7;      // Transmit Data
    TComLed* ComLed9;      // Receive Data
    TComLed* ComLed10;     // Clear To Send
    TComLed* ComLed8;      // Data Set Ready
    TComTerminal* ComTerminal;
    // Over the terminal's corner while typed or pasted bytes wait: how many,
    // whether flow control holds the line, and a button that drops them.
    QLabel* OutputLabel;
    QPushButton* StopSendingButton;

    void ComTerminalEnter(TCustomComTerminal* sender);
    void ComTerminalExit(TCustomComTerminal* sender);
    void CheckBox1Click();
    void ComTerminalOutputChange();

protected:
    void changeEvent(QEvent* e) override;

private:
    // Places the lamps and their labels so that every label shows in full.
    void LayOutLamps();

    TCustomComPort& port_;
    std::array<TComLed*, 5> lamps_{};
    std::array<QLabel*, 5> lampLabels_{};
    std::array<int, 5> lampDesignLefts_{};
    bool built_ = false;  // font changes can arrive while the page is being built
};
