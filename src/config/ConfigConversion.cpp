// The older-model upgrade page (the old meter's ID, nominal bore, tube factor
// and tube zero carried over into the calibration image) and the detector
// type page.
//
// The old meter's entries are checked as they are typed but held by the
// dialog; "Perform conversion" writes them into the image together with the
// pipe diameter, pipe units and detector factor, so a conversion that is
// started and then left writes nothing of it.
#include "config/ConfigFormUnit.h"

#include "config/ConfigNumbers.h"
#include "link/Z960Enums.h"
#include "platform/Prompter.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <cmath>

namespace {

// Tube factor limits of the old meter by nominal bore (mm).
struct BoreRow {
    int bore;
    float min, max;
    const char *hint;
};

constexpr BoreRow kBores[] = {
    {50, 2975.0f, 6210.0f, "Tube Factor valid range from 2975.0 to 6210.0"},
    {80, 3485.0f, 6555.0f, "Tube Factor valid range from 3485.0 to 6555.0"},
    {100, 3230.0f, 5980.0f, "Tube Factor valid range from 3230.0 to 5980.0"},
    {150, 3060.0f, 4945.0f, "Tube Factor valid range from 3060.0 to 4945.0"},
    {200, 3145.0f, 5520.0f, "Tube Factor valid range from 3145.0 to 5520.0"},
    {225, 3655.0f, 5520.0f, "Tube Factor valid range from 3655.0 to 5520.0"},
    {250, 2635.0f, 4830.0f, "Tube Factor valid range from 2635.0 to 4830.0"},
    {300, 2848.0f, 5520.0f, "Tube Factor valid range from 2848.0 to 5520.0"},
    {350, 3060.0f, 5175.0f, "Tube Factor valid range from 3060.0 to 5175.0"},
    {375, 3655.0f, 6210.0f, "Tube Factor valid range from 3655.0 to 6210.0"},
    {400, 1870.0f, 5635.0f, "Tube Factor valid range from 1870.0 to 5635.0"},
    {420, 2380.0f, 3680.0f, "Tube Factor valid range from 2380.0 to 3680.0"},
    {445, 2635.0f, 4370.0f, "Tube Factor valid range from 2635.0 to 4370.0"},
    {450, 2550.0f, 4945.0f, "Tube Factor valid range from 2550.0 to 4945.0"},
    {470, 2380.0f, 4140.0f, "Tube Factor valid range from 2380.0 to 4140.0"},
    {485, 3230.0f, 5060.0f, "Tube Factor valid range from 3230.0 to 5060.0"},
    {500, 2720.0f, 4485.0f, "Tube Factor valid range from 2720.0 to 4485.0"},
    {600, 2805.0f, 4830.0f, "Tube Factor valid range from 2805.0 to 4830.0"},
};

const BoreRow *boreRow(int bore)
{
    for (const BoreRow &row : kBores)
        if (row.bore == bore)
            return &row;
    return nullptr;
}

constexpr int kTubeZeroMin = -100;
constexpr int kTubeZeroMax = 100;
constexpr int kMeterIdMax = 999999;
constexpr int kOldTubeFactorIndex = 3; // the fourth tube factor carries the old meter's
constexpr uint16_t kPipeUnitsMillimetres = 0;

const char *const kTubeZeroHint = "Tube Zero valid range from -100.0 to 100.0";
const char *const kSelectBoreFirst = "Please select a value for Nominal Bore first";
const char *const kUnknownBore = "Unknown value for Nominal Bore";
const char *const kLicencePrefix = "DAV";


bool isSignOnly(const QString &text) { return text == QLatin1String("+") || text == QLatin1String("-"); }

void showError(const QString &hint, QWidget *parent) { Platform::showMessage(QStringLiteral("Error, ") + hint, parent); }

} // namespace

void TConfigForm::wireActionPages()
{
    for (QLineEdit *e : {Z640ConverionMeterID, Z640ConverionFlowTubeZero, Z640ConverionFlowTubeFactor})
        connect(e, &QLineEdit::textChanged, this, [this, e] { Z640ConverionSiteIDChange(e); });
    connect(NominalBoreCB, &QComboBox::currentTextChanged, this, [this] { NominalBoreCBChange(); });
    connect(Z640ConversionSaveBtn, &QPushButton::clicked, this, [this] { Z640ConversionSaveBtnClick(); });
    ValidatorLicenseNumber->installEventFilter(this);
    connect(detectorItems_, &QButtonGroup::idClicked, this, [this] { DetectorGBClick(); });
    connect(DetectorSaveBtn, &QPushButton::clicked, this, [this] { DetectorSaveBtnClick(); });
    connect(ClearDataLogsBtn, &QPushButton::clicked, this, [this] { ClearDataLogsBtnClick(); });
    connect(BackupDataLogsBtn, &QPushButton::clicked, this, [this] { BackupDataLogsBtnClick(); });
    connect(ClearTotalsBtn, &QPushButton::clicked, this, [this] { ClearTotalsBtnClick(); });
}

// ---------------------------------------------------------------------------
// Nominal bore and the old meter's entries

void TConfigForm::NominalBoreCBChange()
{
    const QString text = NominalBoreCB->currentText();
    if (text.isEmpty())
        return;
    Z640ConverionFlowTubeZero->setToolTip(QString::fromLatin1(kTubeZeroHint));
    const std::optional<int32_t> bore = Config::parseInt32(text);
    if (!bore) {
        Platform::showMessage(QStringLiteral("'%1' is not a valid integer value").arg(text), this);
        return;
    }
    if (const BoreRow *row = boreRow(*bore)) {
        Z640ConverionFlowTubeFactor->setToolTip(QString::fromLatin1(row->hint));
        tubeFactorMin = row->min;
        tubeFactorMax = row->max;
    } else {
        tubeFactorMin = 0.0f;
        tubeFactorMax = 0.0f;
        Platform::showMessage(QString::fromLatin1(kUnknownBore), this);
    }
    // A factor entered for the previous bore is held, or refused, by this one.
    Z640ConverionSiteIDChange(Z640ConverionFlowTubeFactor);
}

void TConfigForm::Z640ConverionSiteIDChange(QObject *Sender)
{
    auto *edit = qobject_cast<QLineEdit *>(Sender);
    if (!edit)
        return;
    const QString text = edit->text();
    // An entry that no longer holds a value is not carried over.
    std::optional<float> *held = edit == Z640ConverionFlowTubeZero     ? &z640TubeZero_
                                 : edit == Z640ConverionFlowTubeFactor ? &z640TubeFactor_
                                                                       : nullptr;
    if (edit == Z640ConverionMeterID)
        z640MeterId_.reset();
    else if (held)
        held->reset();
    if (text.isEmpty() || isSignOnly(text))
        return;

    if (edit == Z640ConverionMeterID) {
        const std::optional<int32_t> id = Config::parseInt32(text);
        if (!id) {
            MarkEdit(edit, true);
        } else if (CheckIntRange(edit, *id, 0, kMeterIdMax)) {
            z640MeterId_ = uint32_t(*id);
        }
    } else if (edit == Z640ConverionFlowTubeZero) {
        // The whole part is checked; the value is kept as typed.
        const std::optional<float> zero = Config::parseFloat32(text);
        const double whole = zero ? std::trunc(double(*zero)) : 0.0;
        if (!zero || std::fabs(whole) >= 2147483648.0)
            MarkEdit(edit, true);
        else if (CheckIntRange(edit, int(whole), kTubeZeroMin, kTubeZeroMax))
            z640TubeZero_ = *zero;
    } else if (edit == Z640ConverionFlowTubeFactor) {
        if (NominalBoreCB->currentText().isEmpty()) {
            Platform::showMessage(QString::fromLatin1(kSelectBoreFirst), this);
            return;
        }
        const std::optional<float> factor = Config::parseFloat32(text);
        if (!factor)
            MarkEdit(edit, true);
        else if (CheckFloatRange(edit, *factor, tubeFactorMin, tubeFactorMax))
            z640TubeFactor_ = *factor;
    }
}

bool TConfigForm::CheckTubeFactor()
{
    if (NominalBoreCB->currentText().isEmpty()) {
        Platform::showMessage(QString::fromLatin1(kSelectBoreFirst), this);
        return false;
    }
    if (Z640ConverionFlowTubeFactor->text().isEmpty())
        return false;
    const std::optional<int32_t> bore = Config::parseInt32(NominalBoreCB->currentText());
    const std::optional<float> value = Config::parseFloat32(Z640ConverionFlowTubeFactor->text());
    if (!bore || !value)
        return false;
    const BoreRow *row = boreRow(*bore);
    const bool ok = row && row->min <= *value && *value <= row->max;
    MarkEdit(Z640ConverionFlowTubeFactor, !ok);
    return ok;
}

void TConfigForm::Z640ConversionSaveBtnClick()
{
    if (actionRunning_)
        return;
    if (!CheckTubeFactor()) {
        showError(Z640ConverionFlowTubeFactor->toolTip(), this);
        return;
    }
    if (!ValidateAll() || !CheckAllFilled())
        return;
    // An entry reduced to a sign passes both checks yet holds no value.
    for (const auto &[edit, present] :
         {std::pair{Z640ConverionMeterID, z640MeterId_.has_value()},
          std::pair{Z640ConverionFlowTubeFactor, z640TubeFactor_.has_value()},
          std::pair{Z640ConverionFlowTubeZero, z640TubeZero_.has_value()}}) {
        if (!present) {
            showError(edit->toolTip(), this);
            return;
        }
    }
    if (NotesMemo->document()->isEmpty()) {
        Platform::showMessage(QStringLiteral("Please enter some comments"), this);
        return;
    }
    if (ValidatorLicenseNumber->text() == QLatin1String(kLicencePrefix))
        ValidatorLicenseNumber->setText(QString());

    Z960Data::sCal &cal = *images_.cal;
    cal.setMeterID(*z640MeterId_);
    cal.setFlowTubeZero(0, *z640TubeZero_);
    cal.setFlowTubeFactor(kOldTubeFactorIndex, *z640TubeFactor_);
    cal.setPipeDiam(uint16_t(*Config::parseInt32(NominalBoreCB->currentText())));
    cal.setPipeUnitsMetric(kPipeUnitsMillimetres);
    cal.setDetectorType(Z960Data::kDetectorZ640);
    conversionDone = true;
    done(mrOk);
}

// ---------------------------------------------------------------------------
// Validator licence number: "DAV" and up to five digits

void TConfigForm::ValidatorLicenseNumberKeyPress(QObject *Sender, char &Key)
{
    constexpr char kBackspace = 8;
    constexpr char kFormFeed = 12;
    auto *edit = qobject_cast<QLineEdit *>(Sender);
    const bool bare = edit && edit->text() == QLatin1String(kLicencePrefix);
    const bool accepted = (Key >= '0' && Key <= '9') || ((Key == kBackspace || Key == kFormFeed) && !bare);
    if (!accepted)
        Key = 0;
}

void TConfigForm::ValidatorLicenseNumberKeyUp(QObject *Sender, int &Key)
{
    auto *edit = qobject_cast<QLineEdit *>(Sender);
    if (edit && !edit->text().startsWith(QLatin1String(kLicencePrefix))) {
        edit->setText(QString::fromLatin1(kLicencePrefix));
        Key = 0;
    }
}

// ---------------------------------------------------------------------------
// Detector type

void TConfigForm::DetectorGBClick() { DetectorSaveBtn->setEnabled(true); }

void TConfigForm::DetectorSaveBtnClick()
{
    if (actionRunning_)
        return;
    const std::optional<float> factor = Z960Data::detectorFactor(detectorItemIndex());
    if (!factor) {
        Platform::showMessage(QStringLiteral("Please select a valid detector type"), this);
        return;
    }
    images_.cal->setDetectorType(*factor);
    done(mrOk);
}
