#include "common/ui/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int itemIndex, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this))
{
    group_->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setAccessibleName(caption + QStringLiteral(": ") + items[i]);
        group_->addButton(b, i);
        buttons_.push_back(b);
    }
    SetItemIndex(itemIndex);
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::Click);
    Arrange();
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        buttons_[index]->setChecked(true);
        return;
    }
    if (QAbstractButton* b = group_->checkedButton()) {
        group_->setExclusive(false);
        b->setChecked(false);
        group_->setExclusive(true);
    }
}

QRadioButton* TRadioGroup::Button(int index) const
{
    return index >= 0 && index < Count() ? buttons_[index] : nullptr;
}

void TRadioGroup::SetColumns(int columns)
{
    columns_ = std::max(1, columns);
    Arrange();
}

void TRadioGroup::resizeEvent(QResizeEvent* e)
{
    QGroupBox::resizeEvent(e);
    Arrange();
}

void TRadioGroup::Arrange()
{
    if (buttons_.empty()) return;
    const int top = 16, left = 8, bottom = 4;
    const int rows = (Count() + columns_ - 1) / columns_;
    const int colWidth = std::max(1, (width() - left - 4) / columns_);
    const int avail = std::max(rows * 14, height() - top - bottom);
    const int rowHeight = std::max(14, avail / rows);
    for (int i = 0; i < Count(); ++i) {
        const int col = i / rows, row = i % rows;
        buttons_[i]->setGeometry(left + col * colWidth, top + row * rowHeight + (rowHeight - 17) / 2,
                                 colWidth - 2, 17);
    }
}
