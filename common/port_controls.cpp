#include "common/port_controls.h"

#include <algorithm>

void TPortControls::AddOperation(QWidget* w, TPortControlOrder order)
{
    ops_.push_back({w, order});
    std::stable_sort(ops_.begin(), ops_.end(),
                     [](const Entry& a, const Entry& b) { return a.order < b.order; });
}

void TPortControls::AddSetting(QWidget* w) { settings_.emplace_back(w); }

std::vector<QWidget*> TPortControls::Operations() const
{
    std::vector<QWidget*> out;
    for (const auto& e : ops_)
        if (e.w) out.push_back(e.w);
    return out;
}

std::vector<QWidget*> TPortControls::Settings() const
{
    std::vector<QWidget*> out;
    for (const auto& w : settings_)
        if (w) out.push_back(w);
    return out;
}

void TPortControls::EnableOperations(bool on) const
{
    for (QWidget* w : Operations()) w->setEnabled(on);
}

void TPortControls::EnableSettings(bool on) const
{
    for (QWidget* w : Settings()) w->setEnabled(on);
}
