#pragma once
// A titled group of radio buttons with one selected item index, as the
// pages' option groups use them.
#include <QGroupBox>
#include <QStringList>
#include <vector>

class QRadioButton;
class QButtonGroup;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, int itemIndex, QWidget* parent = nullptr);

    int ItemIndex() const;
    void SetItemIndex(int index);  // -1 clears the selection
    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int index) const;
    // Lays the items out in one column (or columns) inside the group's geometry.
    void SetColumns(int columns);

signals:
    // The user clicked an item (not emitted by SetItemIndex).
    void Click(int index);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void Arrange();
    std::vector<QRadioButton*> buttons_;
    QButtonGroup* group_;
    int columns_ = 1;
};
