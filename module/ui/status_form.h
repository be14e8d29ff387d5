#pragma once
// The progress window: one instance for the whole run, shown by every
// operation with the module, advanced in percent, with an Abort button.
#include <QDialog>

class QLabel;
class QPushButton;

class TSTATUSF : public QDialog {
    Q_OBJECT
public:
    explicit TSTATUSF(QWidget* parent = nullptr);

    QLabel* ModeLabel;
    QLabel* AddressLabel;
    QLabel* TimeLabel;
    QPushButton* AbortButton;
    QPushButton* Button1;

    void AbortButtonClick();
    void Button1Click() {}

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;
};

// Module-level state and operations.
void InitStatus();
void ShowStatus(const QString& caption, const QString& mode);
void UpdateStatus(int percent);
void HideStatus();
TSTATUSF* StatusForm();       // nullptr before InitStatus
int BarPosition();            // 0..256
bool AbortRequested();
void SetAbortRequested(bool v);
// Steps for a percentage: percent * 256 div 100 (not clamped).
int PercentToSteps(int percent);
// x of bar step s: 10 + s * 197 div 256.
int StepX(int step);
