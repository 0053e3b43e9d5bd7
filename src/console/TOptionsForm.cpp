#include "console/TOptionsForm.h"

#include "console/DataFolders.h"
#include "platform/FormControls.h"
#include "platform/Prompter.h"
#include "platform/SettingsFile.h"
#include "platform/WindowFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

namespace S = Platform::Settings;

const char *const PathItems[] = {"User Home", "User Documents", "Public", "Shared Documents", "Custom"};
constexpr int PathItemCount = 5;

struct Explanation {
    const char *where;  // line 2
    const char *access; // line 6
};

const char *const PrivateAccess =
    "Application folder, Data and Report files may NOT be accessible by other users of the system";
const char *const PublicAccess =
    "Application folder, Data and Report files will be accessible by ALL users of the system";

const Explanation Explanations[PathItemCount] = {
    {"This option will create a Stelvanor folder in the Logged in User's Application Folder (See Below)",
     PrivateAccess},
    {"This option will create a Stelvanor folder in the Logged in User's Documents Folder (See Below)",
     PrivateAccess},
    {"This option will create a Stelvanor folder in the Public Application Data Folder (See Below)", PublicAccess},
    {"This option will create a Stelvanor folder in the Public Documents Folder (See Below)", PublicAccess},
    {"This option will create a Stelvanor folder in Custom Folder (See below)",
     "Application folder, Data and Report files may NOT be accessible by other users of the system unless "
     "they have the appropriate access"},
};

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &text, const QString &hint)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setToolTip(hint);
    return box;
}

} // namespace

TOptionsForm::TOptionsForm(QWidget *Owner)
    : QDialog(Owner)
{
    setObjectName(QStringLiteral("OptionsForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("Vantoro Program Options"));
    setFixedSize(653, 358);

    PathSelectionRG = new QGroupBox(QStringLiteral("Path Selection"), this);
    PathSelectionRG->setObjectName(QStringLiteral("PathSelectionRG"));
    PathSelectionRG->setGeometry(8, 8, 177, 170);
    auto *radios = new QVBoxLayout(PathSelectionRG);
    pathButtons = new QButtonGroup(this);
    for (int i = 0; i < PathItemCount; ++i) {
        auto *radio = new QRadioButton(QString::fromLatin1(PathItems[i]), PathSelectionRG);
        pathButtons->addButton(radio, i);
        radios->addWidget(radio);
    }
    connect(pathButtons, &QButtonGroup::idClicked, this, [this] { PathSelectionRGClick(); });
    Platform::tabToCheckedRadio(*pathButtons);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setTabChangesFocus(true);
    Memo1->setGeometry(193, 14, 452, 164);

    PathEdit = new QLineEdit(this);
    PathEdit->setObjectName(QStringLiteral("PathEdit"));
    PathEdit->setReadOnly(true);
    PathEdit->setGeometry(8, 188, 520, 26);

    CustomSelectBtn = new QPushButton(QStringLiteral("Select directory"), this);
    CustomSelectBtn->setObjectName(QStringLiteral("CustomSelectBtn"));
    CustomSelectBtn->setGeometry(536, 187, 109, 28);
    connect(CustomSelectBtn, &QPushButton::clicked, this, [this] { Platform::guarded([this] { CustomSelectBtnClick(); }); });

    ReportingPanel = new QGroupBox(QStringLiteral("Report options"), this);
    ReportingPanel->setObjectName(QStringLiteral("ReportingPanel"));
    ReportingPanel->setGeometry(8, 222, 300, 128);
    auto *formatLabel = new QLabel(QStringLiteral("Report format"), ReportingPanel);
    formatLabel->setGeometry(16, 24, 120, 18);
    auto *openLabel = new QLabel(QStringLiteral("Open"), ReportingPanel);
    openLabel->setGeometry(160, 24, 60, 18);

    const QString openHint = QStringLiteral("On completion Vantoro will attempt to open the report");
    PdfCB = checkBox(ReportingPanel, "PdfCB", "Pdf", "Vantoro will create a report in Adobe PDF format.");
    RtfCB = checkBox(ReportingPanel, "RtfCB", "Rtf", "Vantoro will create a report in MS Rtf format.");
    CsvCB = checkBox(ReportingPanel, "CsvCB", "Csv", "Vantoro will create a report in comma delimited text format.");
    OpenPdfReportCB = checkBox(ReportingPanel, "OpenPdfReportCB", {}, openHint);
    OpenRtfReportCB = checkBox(ReportingPanel, "OpenRtfReportCB", {}, openHint);
    OpenCsvReportCB = checkBox(ReportingPanel, "OpenCsvReportCB", {}, openHint);
    QCheckBox *const formats[] = {PdfCB, RtfCB, CsvCB};
    QCheckBox *const opens[] = {OpenPdfReportCB, OpenRtfReportCB, OpenCsvReportCB};
    for (int i = 0; i < 3; ++i) {
        formats[i]->setGeometry(16, 48 + i * 24, 120, 20);
        opens[i]->setGeometry(164, 48 + i * 24, 40, 20);
    }
    connect(PdfCB, &QCheckBox::clicked, this, &TOptionsForm::PdfCBClick);
    connect(RtfCB, &QCheckBox::clicked, this, &TOptionsForm::RtfCBClick);
    connect(CsvCB, &QCheckBox::clicked, this, &TOptionsForm::CsvCBClick);

    SaveBtn = new QPushButton(QStringLiteral("Save"), this);
    SaveBtn->setObjectName(QStringLiteral("SaveBtn"));
    SaveBtn->setGeometry(470, 318, 85, 30);
    connect(SaveBtn, &QPushButton::clicked, this, &TOptionsForm::SaveBtnClick);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(560, 318, 85, 30);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    LoadOptions();
}

QStringList TOptionsForm::explanationFor(int choice)
{
    if (choice < 0 || choice >= PathItemCount)
        return {};
    return {QStringLiteral("Note:"), QString::fromLatin1(Explanations[choice].where),
            QStringLiteral("The application will create an application and data folder and individual folders "
                           "for each Flow Meter(Using the Meter ID)"),
            QStringLiteral("All Data and Report files will by default be stored within these Flow Meter ID folders"),
            QString(), QString::fromLatin1(Explanations[choice].access)};
}

int TOptionsForm::pathItemIndex() const { return pathButtons->checkedId(); }

void TOptionsForm::setPathItemIndex(int index)
{
    if (index >= PathItemCount)
        index = PathItemCount - 1;
    if (index < 0) {
        // An exclusive group always keeps one button checked; let go of it briefly.
        pathButtons->setExclusive(false);
        for (auto *b : pathButtons->buttons())
            b->setChecked(false);
        pathButtons->setExclusive(true);
        return;
    }
    pathButtons->button(index)->setChecked(true);
}

void TOptionsForm::LoadOptions()
{
    const Platform::IniFile file = S::open();
    customPath = S::read(file, S::CustomPath);
    setPathItemIndex(S::read(file, S::PathOptionIndex));
    PdfCB->setChecked(S::read(file, S::CreatePDF));
    RtfCB->setChecked(S::read(file, S::CreateRTF));
    CsvCB->setChecked(S::read(file, S::CreateCSV));
    OpenPdfReportCB->setChecked(S::read(file, S::OpenPDF));
    OpenRtfReportCB->setChecked(S::read(file, S::OpenRTF));
    OpenCsvReportCB->setChecked(S::read(file, S::OpenCSV));
    OpenPdfReportCB->setEnabled(PdfCB->isChecked());
    OpenRtfReportCB->setEnabled(RtfCB->isChecked());
    OpenCsvReportCB->setEnabled(CsvCB->isChecked());
}

void TOptionsForm::SaveOptions()
{
    Platform::IniFile file = S::open();
    S::write(file, S::CustomPath, customPath);
    S::write(file, S::PathOptionIndex, pathItemIndex());
    S::write(file, S::CreatePDF, PdfCB->isChecked());
    S::write(file, S::CreateRTF, RtfCB->isChecked());
    S::write(file, S::CreateCSV, CsvCB->isChecked());
    S::write(file, S::OpenPDF, OpenPdfReportCB->isChecked());
    S::write(file, S::OpenRTF, OpenRtfReportCB->isChecked());
    S::write(file, S::OpenCSV, OpenCsvReportCB->isChecked());
}

void TOptionsForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TOptionsForm::FormShow() { PathSelectionRGClick(); }

void TOptionsForm::PathSelectionRGClick()
{
    Memo1->clear();
    CustomSelectBtn->hide();
    const int choice = pathItemIndex();
    if (choice < 0) {
        PathEdit->clear();
        return;
    }
    Memo1->setPlainText(explanationFor(choice).join(QLatin1Char('\n')));
    if (choice == Console::CustomPathOption)
        CustomSelectBtn->show();
    PathEdit->setText(Console::DataBaseFolder(choice, customPath));
}

void TOptionsForm::CustomSelectBtnClick()
{
    const auto chosen = Platform::prompter().chooseDirectory(this, QStringLiteral("Select directory"), customPath);
    if (!chosen)
        return;
    customPath = *chosen;
    PathEdit->setText(customPath);
}

void TOptionsForm::SaveBtnClick()
{
    // A refused write is shown; the dialog closes as after a full save.
    Platform::guarded([this] { SaveOptions(); });
    accept();
}

void TOptionsForm::followFormat(QCheckBox *format, QCheckBox *open)
{
    open->setChecked(format->isChecked());
    open->setEnabled(format->isChecked());
}

void TOptionsForm::PdfCBClick() { followFormat(PdfCB, OpenPdfReportCB); }
void TOptionsForm::RtfCBClick() { followFormat(RtfCB, OpenRtfReportCB); }
void TOptionsForm::CsvCBClick() { followFormat(CsvCB, OpenCsvReportCB); }
