#include "common/ui/port_controls.h"

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

void TPortControls::AddStarter(QWidget* w) { starters_.push_back({w, true}); }

std::vector<QWidget*> TPortControls::Starters() const
{
    std::vector<QWidget*> out;
    for (const auto& s : starters_)
        if (s.w) out.push_back(s.w);
    return out;
}

void TPortControls::EnableOperations(bool on)
{
    opsEnabled_ = on;
    for (QWidget* w : Operations()) w->setEnabled(on && !held_);
}

void TPortControls::HoldOperations(bool on)
{
    if (on == held_) return;
    held_ = on;
    for (QWidget* w : Operations()) w->setEnabled(opsEnabled_ && !held_);
    for (Starter& s : starters_) {
        if (!s.w) continue;
        if (held_) {
            s.enabled = s.w->isEnabled();
            s.w->setEnabled(false);
        } else {
            s.w->setEnabled(s.enabled);
        }
    }
}

void TPortControls::EnableSettings(bool on) const
{
    for (QWidget* w : Settings()) w->setEnabled(on);
}
