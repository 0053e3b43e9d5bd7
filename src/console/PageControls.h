// Two small controls of the main window's pages: a radio group with an item
// index, and a list of the files of one folder that match a mask.
#pragma once

#include <QGroupBox>
#include <QListWidget>
#include <QString>
#include <QStringList>

#include <functional>

class QButtonGroup;
class QRadioButton;

// A framed group of radio buttons; ItemIndex -1 when none is selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);

    int ItemIndex() const;
    // Selects an item (or none for -1) without firing OnClick.
    void SetItemIndex(int index);
    QRadioButton *item(int index) const;
    int count() const;

    // Fired when the technician clicks an item.
    std::function<void()> OnClick;

private:
    QButtonGroup *group_;
};

// The names of the files of one folder matching a mask (any case), in name
// order. It reads the folder only when told (Update), so a selection stays
// put between reads.
class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget *parent = nullptr);

    void setMask(const QString &mask) { mask_ = mask; }
    const QString &mask() const { return mask_; }
    // Points the list at a folder and reads it.
    void setDirectory(const QString &directory);
    const QString &directory() const { return directory_; }
    // Re-reads the folder, keeping the selected name selected when it is still there.
    void Update();
    QStringList names() const;
    // The full path of the selected file; empty without a selection.
    QString selectedPath() const;

private:
    QString directory_;
    QString mask_ = QStringLiteral("*");
};
