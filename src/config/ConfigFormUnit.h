// TConfigForm: the modal setup dialog "Flowmeter setup" in which the
// technician edits the meter's configuration, calibration and basic
// calibration images held by the link, in place, with range checks.
//
// Every field control is built from the descriptor tables of ConfigFields.h;
// one generic change handler per kind of field checks the text, marks the
// edit (red and bold when invalid) and stores an accepted value into the
// image at the field's offset and width. Loading the controls only shows and
// marks the stored values: nothing is written into an image until the
// technician changes a control, so opening and saving without edits sends
// back exactly what the meter sent.
#pragma once

#include "config/ConfigFields.h"

#include <QDialog>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabWidget;
class QToolButton;
class QWidget;
class Z960Port;

namespace Config {

// The three images the dialog edits in place.
struct SetupImages {
    Z960Data::sConfig *config = nullptr;     // structure 5
    Z960Data::sCal *cal = nullptr;           // structure 4
    Z960Data::sBasicCal *basicCal = nullptr; // structure 6
};

// The images of the link (the one place that knows how the link holds them).
SetupImages setupImagesOf(Z960Port &port);

} // namespace Config

// Marks an entry field as invalid (red, bold) or valid (black, regular).
void MarkEdit(QWidget *edit, bool invalid);

class TConfigForm : public QDialog {
    Q_OBJECT

public:
    // Modal results read by the caller.
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    // owner: the main window (parent of the dialog); mainForm: the window kept
    // centred under the dialog (may be null); accessLevel: the meter's comms
    // access level (0 to 3; any other value leaves every page button enabled).
    TConfigForm(QWidget *owner, QWidget *mainForm, Z960Port *port, short accessLevel);
    // The same over images held elsewhere (port may then be null).
    TConfigForm(QWidget *owner, QWidget *mainForm, Z960Port *port, const Config::SetupImages &images,
                short accessLevel);
    ~TConfigForm() override;

    // Runs the dialog modally through the prompter; returns mrOk or mrCancel.
    int ShowModal();

    // ---- data model ---------------------------------------------------------
    Z960Port *port;
    QWidget *mainForm;
    bool invalidDetectorType = false;
    bool conversionDone = false;
    float tubeFactorMin = 0.0f;
    float tubeFactorMax = 0.0f;

    // ---- shared members ---------------------------------------------------------
    // Inclusive range checks; mark the edit black/regular (true) or red/bold (false).
    bool CheckIntRange(QWidget *edit, int value, int min, int max);
    bool CheckFloatRange(QWidget *edit, float value, float min, float max);
    // Reports "Error, " + the hint of the red edit created last; true when none is red.
    bool ValidateAll();
    // Reports "Error, " + the hint of the empty edit created last; true when none is empty.
    bool CheckAllFilled();
    void LoadConfigurationControls();
    void LoadCalibrationControls();
    void LoadBasicCalibrationControls();
    // Moves the main window so that its centre lies under the dialog's centre.
    void CentreMainForm();

    // ---- event handlers -----------------------------------------------------------
    void FormShow();
    void InformationSBClick(QObject *Sender);
    // True when the configuration page may change its tab.
    bool ConfigPageControlChanging();
    void SaveBtnClick();
    void CancelBtnClick();

    // Key filters: a refused key is set to 0.
    void coilZeroKeyPress(QObject *Sender, char &Key);
    void coilCurrentKeyPress(QObject *Sender, char &Key);
    void DO_Frequency1KeyPress(QObject *Sender, char &Key);

    // ---- actions on the meter (run on the GUI thread, pumping messages) ----------
    // Clears every data log; the meter reboots and is waited for. Ends with OK.
    void ClearDataLogsBtnClick();
    // Asks the meter to copy its logs to its SD card.
    void BackupDataLogsBtnClick();
    // Zeroes every totaliser with the scheduler stopped. Ends with Cancel.
    void ClearTotalsBtnClick();
    // True while one of the actions above runs: every other action, the page
    // buttons, Save, Cancel and closing are refused meanwhile.
    bool actionRunning() const { return actionRunning_; }
    // Longest wait (link milliseconds) for the meter to answer again after
    // clearing its logs, counted from the end of the reboot pause.
    static constexpr unsigned long kRebootPauseMs = 20000;
    static constexpr unsigned long kRebootAnswerLimitMs = 300000;

    // ---- older-model conversion and detector type -------------------------------
    void NominalBoreCBChange();
    void Z640ConverionSiteIDChange(QObject *Sender);
    void Z640ConversionSaveBtnClick();
    void ValidatorLicenseNumberKeyPress(QObject *Sender, char &Key);
    void ValidatorLicenseNumberKeyUp(QObject *Sender, int &Key);
    bool CheckTubeFactor();
    void DetectorGBClick();
    void DetectorSaveBtnClick();

    // Change handlers, one per kind of field (the sender's name finds the field).
    void flowVolumeSpecFactChange(QObject *Sender);   // decimal edits (every image)
    void flowTubeFactor1Change(QObject *Sender) { flowVolumeSpecFactChange(Sender); }
    void coilZeroChange(QObject *Sender) { flowVolumeSpecFactChange(Sender); }
    void pipeDiamChange(QObject *Sender);             // unsigned edits
    void DO_Frequency1Change(QObject *Sender);        // signed edits
    void pwdU0Change(QObject *Sender);                // access codes
    void flowVolumeUnitChange(QObject *Sender);       // combo boxes
    void filterNumberChange(QObject *Sender) { flowVolumeUnitChange(Sender); }
    void pipeUnitsMetricChange(QObject *Sender) { flowVolumeUnitChange(Sender); }
    void emptyPipeDetectClick(QObject *Sender);       // check boxes and flag bits
    void offPeakStartChange(QObject *Sender);         // date/time pickers

    // ---- controls (objectName = member name) --------------------------------------
    QToolButton *ConfigurationSB, *CalibrationSB, *BasicCalibrationSB, *AccessSB, *ClearLogsSB,
        *ResetTotalisersSB, *Z640ConversionSB, *DetectorSB;
    QStackedWidget *PageControl;
    QWidget *ConfigurationPage, *CalibrationPage, *BasicCalibrationPage, *Blank, *AccessPage, *ClearLogsPage,
        *ResetTotalsPage, *Z640Page, *DetectorPage;
    QTabWidget *ConfigPageControl;
    QPushButton *SaveBtn, *CancelBtn;

    // Actions pages.
    QPushButton *ClearDataLogsBtn, *BackupDataLogsBtn, *ClearTotalsBtn;
    QPlainTextEdit *Memo1, *Memo2, *ResetTotalsMemo;

    // Older-model page.
    QLineEdit *Z640ConverionMeterID, *Z640ConverionFlowTubeZero, *Z640ConverionFlowTubeFactor;
    QLineEdit *TechnicianName, *SiteName, *ValidatorLicenseNumber;
    QComboBox *NominalBoreCB;
    QPlainTextEdit *NotesMemo;
    QPushButton *Z640ConversionSaveBtn, *Z640ConversionCancelBtn;

    // Detector page: DetectorGB holds the items "Z960", "Z640 Emulation" and,
    // for a stored factor that is neither, "Invalid detector type".
    QGroupBox *DetectorGB;
    QPushButton *Button1, *DetectorSaveBtn;
    // Selected item of DetectorGB (-1: none).
    int detectorItemIndex() const;

    // The field control of the given name (edits, combos, checks, pickers).
    QWidget *fieldControl(const QString &name) const;
    // Plain and labelled edits in creation order.
    const std::vector<QLineEdit *> &editsInCreationOrder() const { return edits_; }

    // Opens with its frame centred on its owner's frame.
    void setVisible(bool visible) override;

protected:
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;

private:
    void buildWindow();
    QWidget *buildPagePanel();
    void buildPages();
    QWidget *buildConfigurationPage();
    QWidget *buildCalibrationPage();
    QWidget *buildBasicCalibrationPage();
    QWidget *buildAccessPage();
    QWidget *buildClearLogsPage();
    QWidget *buildResetTotalsPage();
    QWidget *buildZ640Page();
    QWidget *buildDetectorPage();
    void addDetectorItem(const QString &text);

    // Creates the control of a field, registers it and binds its handler.
    QWidget *createFieldControl(const Config::FieldDesc &field);
    QLineEdit *createEdit(const QString &name, const QString &hint, Config::Filter filter);
    void placeFields(Config::Place place, QGridLayout *grid, int firstRow = 0);
    void enablePageButtons(short accessLevel);

    // How a change handler was reached: by the technician (store accepted
    // values) or by loading the controls (check and mark only).
    enum class Origin { Edit, Load };
    void editChanged(QLineEdit *edit, Origin origin);
    void checkDecimal(const Config::FieldDesc &f, QLineEdit *edit, Origin origin);
    void checkInteger(const Config::FieldDesc &f, QLineEdit *edit, Origin origin);
    void checkAccessCode(const Config::FieldDesc &f, QLineEdit *edit, Origin origin);
    void loadFields(Config::Image image);
    void loadField(const Config::FieldDesc &f);
    void loadDetectorType();

    // Typed access to a field of its image.
    template <class Fn>
    decltype(auto) onImage(Config::Image image, Fn &&fn) const;
    float floatOf(const Config::FieldDesc &f) const;
    double numberOf(const Config::FieldDesc &f) const;
    void storeFloat(const Config::FieldDesc &f, float value);
    void storeInteger(const Config::FieldDesc &f, int32_t value);
    const Config::FieldDesc *fieldOf(QObject *sender) const;
    void showPage(QWidget *page, QAbstractButton *button);
    void setSaveCancelVisible(bool visible);
    bool filterKey(QObject *watched, char &key);

    Config::SetupImages images_;
    QHash<QString, const Config::FieldDesc *> fields_;
    QHash<QString, QWidget *> controls_;
    std::vector<QLineEdit *> edits_;     // plain and labelled edits, creation order
    QButtonGroup *pageButtons_ = nullptr;
    QAbstractButton *activeButton_ = nullptr;
    QButtonGroup *detectorItems_ = nullptr;
    int configTab_ = 0;                  // the tab the configuration page shows
    bool loading_ = false;

    // Actions.
    class ActionScope;
    bool actionRunning_ = false;
    void waitForRestartedMeter();
    void endZeroing(const QString &failure, bool schedulerStopped, bool success);

    // Older-model entries, held until the conversion writes them together:
    // a conversion that is left writes nothing of them.
    std::optional<uint32_t> z640MeterId_;
    std::optional<float> z640TubeZero_;
    std::optional<float> z640TubeFactor_;
    void wireActionPages();
};
