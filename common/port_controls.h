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

    // Operation controls in their enabling order.
    std::vector<QWidget*> Operations() const;
    std::vector<QWidget*> Settings() const;

    void EnableOperations(bool on) const;
    void EnableSettings(bool on) const;

private:
    struct Entry {
        QPointer<QWidget> w;
        TPortControlOrder order;
    };
    std::vector<Entry> ops_;
    std::vector<QPointer<QWidget>> settings_;
};
