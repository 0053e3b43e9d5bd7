#include "console/PageControls.h"

#include "platform/FormControls.h"

#include <QButtonGroup>
#include <QDir>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QString &caption, const QStringList &items, QWidget *parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        layout->addWidget(button);
    }
    Platform::tabToCheckedRadio(*group_);
    connect(group_, &QButtonGroup::idClicked, this, [this](int) {
        if (OnClick)
            OnClick();
    });
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton *b = group_->button(index)) {
        b->setChecked(true);
        return;
    }
    // Clearing an exclusive group needs exclusivity off for a moment.
    group_->setExclusive(false);
    for (QAbstractButton *b : group_->buttons())
        b->setChecked(false);
    group_->setExclusive(true);
}

QRadioButton *TRadioGroup::item(int index) const { return qobject_cast<QRadioButton *>(group_->button(index)); }

int TRadioGroup::count() const { return static_cast<int>(group_->buttons().size()); }

TFileListBox::TFileListBox(QWidget *parent) : QListWidget(parent) {}

void TFileListBox::setDirectory(const QString &directory)
{
    directory_ = directory;
    Update();
}

void TFileListBox::Update()
{
    const QString selected = currentItem() ? currentItem()->text() : QString();
    QStringList found;
    if (!directory_.isEmpty())
        found = QDir(directory_).entryList({mask_}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    if (found == names())
        return;
    clear();
    addItems(found);
    const auto again = findItems(selected, Qt::MatchExactly);
    if (!selected.isEmpty() && !again.isEmpty())
        setCurrentItem(again.first());
}

QStringList TFileListBox::names() const
{
    QStringList n;
    for (int i = 0; i < count(); ++i)
        n << item(i)->text();
    return n;
}

QString TFileListBox::selectedPath() const
{
    const QListWidgetItem *it = currentItem();
    if (it == nullptr || !it->isSelected() || directory_.isEmpty())
        return {};
    return QDir(directory_).filePath(it->text());
}
