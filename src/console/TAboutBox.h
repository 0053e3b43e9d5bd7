// The about box: product picture, name, version, the maker's notice and a
// link to the maker's web site.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *Owner);

    void FormCreate();
    // Hands the link to the desktop; a link nothing can open is ignored.
    void LinkLabel1LinkClick(const QString &Link);

    QFrame *Panel1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QLabel *Copyright;
    QLabel *LinkLabel1;
    QPushButton *OKButton;

protected:
    // Opens centred on the screen, whatever window opened it.
    void showEvent(QShowEvent *event) override;
};
