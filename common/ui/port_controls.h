#pragma once
// The controls of every page whose enabled state follows the port: pages
// register them when they are built, "Open Port"/"Close Port" switch them.
#include <QPointer>
#include <QWidget>
#include <vector>

// Order in which "Open Port" enables the operation controls.
enum class TPortControlOrder {
    ProgramConfig = 0,
    ReadFlash = 1,
    ProgramFlash = 2,
    SendAll = 3,
    Terminal = 4,
    RowButtons = 5,
};

class TPortControls {
public:
    // Enabled while the port is open (start disabled).
    void AddOperation(QWidget* w, TPortControlOrder order);
    // Settings locked while the port is open, besides the Com Port page's own
    // groups (the terminal's "Local Echo").
    void AddSetting(QWidget* w);

    // Controls that start something on the port without following it
    // ("Open Port"): only held while an operation runs.
    void AddStarter(QWidget* w);

    // Operation controls in their enabling order.
    std::vector<QWidget*> Operations() const;
    std::vector<QWidget*> Settings() const;
    std::vector<QWidget*> Starters() const;

    // While held, the operation controls stay disabled whatever the port
    // does; the last EnableOperations takes effect on release.
    void EnableOperations(bool on);
    void EnableSettings(bool on) const;

    // One operation at a time: while one runs, every operation control and
    // starter is disabled; afterwards each gets its state back.
    void HoldOperations(bool on);
    bool OperationsHeld() const { return held_; }

private:
    struct Entry {
        QPointer<QWidget> w;
        TPortControlOrder order;
    };
    struct Starter {
        QPointer<QWidget> w;
        bool enabled = true;  // before the hold
    };
    std::vector<Entry> ops_;
    std::vector<QPointer<QWidget>> settings_;
    std::vector<Starter> starters_;
    bool opsEnabled_ = false;
    bool held_ = false;
};
