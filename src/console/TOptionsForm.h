// The program options: the base folder of the data tree and the report
// formats. Nothing is written until Save; Cancel discards every change.
#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(QWidget *Owner);

    void LoadOptions();
    // Writes the dialog's keys in order; a refused write throws and leaves
    // the keys before it written.
    void SaveOptions();

    void FormShow();
    void PathSelectionRGClick();
    void CustomSelectBtnClick();
    void SaveBtnClick();
    void PdfCBClick();
    void RtfCBClick();
    void CsvCBClick();

    // The radio group's index: -1 for none; values above the last item select it.
    int pathItemIndex() const;
    void setPathItemIndex(int index);
    const QString &customPathValue() const { return customPath; }

    QGroupBox *PathSelectionRG;
    QButtonGroup *pathButtons;
    QPlainTextEdit *Memo1;
    QLineEdit *PathEdit;
    QPushButton *CustomSelectBtn;
    QGroupBox *ReportingPanel;
    QCheckBox *PdfCB;
    QCheckBox *RtfCB;
    QCheckBox *CsvCB;
    QCheckBox *OpenPdfReportCB;
    QCheckBox *OpenRtfReportCB;
    QCheckBox *OpenCsvReportCB;
    QPushButton *SaveBtn;
    QPushButton *CancelBtn;

    // The memo's lines for a choice (0 to 4); none for other values.
    static QStringList explanationFor(int choice);

protected:
    void showEvent(QShowEvent *event) override;

private:
    static void followFormat(QCheckBox *format, QCheckBox *open);

    QString customPath;
};
