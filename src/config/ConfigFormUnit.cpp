#include "config/ConfigFormUnit.h"

#include "config/ConfigLinkData.h"
#include "config/ConfigNumbers.h"
#include "link/DeviceTime.h"
#include "link/Z960Enums.h"
#include "platform/FormControls.h"
#include "platform/Prompter.h"
#include "platform/WindowFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <utility>

using namespace Config;

namespace {

constexpr int kEditWidth = 110;
// Room between a page's memo and the button under it.
constexpr int kButtonGap = 6;

const char *const kZ640Warning =
    "Warning:\r\nShould incorrect Z640 flowmeter calibration details be entered, the accuracy of the replacement "
    "unit will be compromised. \r\nPlease ensure the Z640 calibration factors match the original calibration "
    "certificate before proceeding";
const char *const kAccessCodeMessage = "Access code needs to be a value between 1 and 9999";
const char *const kResetTotalsLine = "Press the 'Zero Totalisers' button below to reset all totaliser values to 0";

// The label of an edit: its own, or the start of its hint up to " valid range".
QString labelOf(const FieldDesc &f)
{
    if (f.label)
        return QString::fromLatin1(f.label);
    if (!f.hint)
        return {};
    const QString hint = QString::fromLatin1(f.hint);
    const int cut = hint.indexOf(QLatin1String(" valid range"));
    return cut < 0 ? hint : hint.left(cut);
}


bool isMarkedRed(const QWidget *edit) { return edit->palette().color(QPalette::Text) == QColor(Qt::red); }

QLabel *label(const QString &text, QWidget *buddy = nullptr)
{
    auto *l = new QLabel(text);
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

QPlainTextEdit *readOnlyMemo(const char *name, const QStringList &lines)
{
    auto *memo = new QPlainTextEdit;
    memo->setObjectName(QString::fromLatin1(name));
    memo->setReadOnly(true);
    memo->setPlainText(lines.join(QLatin1Char('\n')));
    return memo;
}

// The size at which a memo shows each of its lines on one line, with room
// for one line more.
QSize unwrappedSize(const QPlainTextEdit &memo)
{
    const QStringList lines = memo.toPlainText().split(QLatin1Char('\n'));
    int widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, memo.fontMetrics().horizontalAdvance(line));
    const int margins = 2 * int(std::ceil(memo.document()->documentMargin())) + 2 * memo.frameWidth();
    const int scrollBar = memo.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &memo);
    return {widest + margins + scrollBar + memo.cursorWidth() + 2,
            int(lines.size() + 1) * memo.fontMetrics().lineSpacing() + margins};
}

QPushButton *button(const char *name, const char *caption)
{
    auto *b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

void MarkEdit(QWidget *edit, bool invalid)
{
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Text, invalid ? QColor(Qt::red) : QColor(Qt::black));
    edit->setPalette(pal);
    QFont font = edit->font();
    font.setBold(invalid);
    edit->setFont(font);
    edit->update();
}

template <class Fn>
decltype(auto) TConfigForm::onImage(Image image, Fn &&fn) const
{
    switch (image) {
    case Image::Config: return fn(*images_.config);
    case Image::Cal: return fn(*images_.cal);
    case Image::BasicCal: break;
    }
    return fn(*images_.basicCal);
}

// ---------------------------------------------------------------------------
// Construction

TConfigForm::TConfigForm(QWidget *owner, QWidget *mainForm_, Z960Port *port_, short accessLevel)
    : TConfigForm(owner, mainForm_, port_, port_ ? setupImagesOf(*port_) : SetupImages{}, accessLevel)
{
}

TConfigForm::TConfigForm(QWidget *owner, QWidget *mainForm_, Z960Port *port_, const SetupImages &images,
                         short accessLevel)
    : QDialog(owner), port(port_), mainForm(mainForm_), images_(images)
{
    if (!images_.config || !images_.cal || !images_.basicCal)
        throw std::invalid_argument("TConfigForm: no images to edit");
    buildWindow();
    wireActionPages();

    // Opens on the configuration page, its "Units" tab.
    PageControl->setCurrentWidget(ConfigurationPage);
    ConfigPageControl->setCurrentIndex(0);
    configTab_ = 0;
    activeButton_ = ConfigurationSB;
    ConfigurationSB->setChecked(true);

    LoadConfigurationControls();
    LoadCalibrationControls();
    LoadBasicCalibrationControls();
    enablePageButtons(accessLevel);
    DetectorSaveBtn->setEnabled(false);
}

TConfigForm::~TConfigForm() = default;

int TConfigForm::ShowModal() { return Platform::prompter().runDialog(*this); }

void TConfigForm::buildWindow()
{
    setObjectName(QStringLiteral("ConfigForm"));
    setWindowTitle(QStringLiteral("Flowmeter setup"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::SystemMenuMinimise);
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(font().pointSize());
    setFont(f);

    SaveBtn = button("SaveBtn", "Save");
    CancelBtn = button("CancelBtn", "Cancel");
    // A fixed border keeps its size: the pages that hide Save and Cancel
    // leave their room empty.
    for (QPushButton *b : {SaveBtn, CancelBtn}) {
        QSizePolicy policy = b->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        b->setSizePolicy(policy);
    }
    connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });

    PageControl = named(new QStackedWidget, "PageControl");
    buildPages();

    auto *right = new QVBoxLayout;
    right->addWidget(PageControl, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveBtn);
    buttons->addWidget(CancelBtn);
    right->addLayout(buttons);

    auto *top = new QHBoxLayout(this);
    top->addWidget(buildPagePanel());
    top->addLayout(right, 1);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Sizes that depend on the dialog's own font. Every button at the
    // framework's standard size; the clear-logs memos as wide as their
    // longest line, so the lines break where they should and nowhere else.
    for (QPushButton *b : findChildren<QPushButton *>())
        Platform::padButton(*b);
    for (QPlainTextEdit *memo : {Memo1, Memo2}) {
        const QSize size = unwrappedSize(*memo);
        memo->setMinimumWidth(size.width());
        memo->setFixedHeight(size.height());
    }
}

QWidget *TConfigForm::buildPagePanel()
{
    auto *panel = named(new QWidget, "PagePanel");
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    pageButtons_ = new QButtonGroup(this);
    pageButtons_->setExclusive(true);
    struct Entry {
        QToolButton **member;
        const char *name;
        const char *caption;
    };
    const Entry entries[] = {
        {&ConfigurationSB, "ConfigurationSB", "Configuration"},
        {&CalibrationSB, "CalibrationSB", "Calibration"},
        {&BasicCalibrationSB, "BasicCalibrationSB", "Basic Calibration"},
        {&AccessSB, "AccessSB", "Access codes"},
        {&ClearLogsSB, "ClearLogsSB", "Clear Logs"},
        {&ResetTotalisersSB, "ResetTotalisersSB", "Zero Totalisers"},
        {&Z640ConversionSB, "Z640ConversionSB", "Z640-Z960 Upgrade"},
        {&DetectorSB, "DetectorSB", "Detector Type"},
    };
    for (const Entry &e : entries) {
        auto *b = named(new QToolButton, e.name);
        b->setText(QString::fromLatin1(e.caption));
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setMinimumHeight(32);
        pageButtons_->addButton(b);
        column->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, b] { InformationSBClick(b); });
        *e.member = b;
    }
    column->addStretch(1);
    panel->setFixedWidth(140);
    return panel;
}

void TConfigForm::buildPages()
{
    ConfigurationPage = buildConfigurationPage();
    CalibrationPage = buildCalibrationPage();
    BasicCalibrationPage = buildBasicCalibrationPage();
    Blank = named(new QWidget, "Blank");
    AccessPage = buildAccessPage();
    ClearLogsPage = buildClearLogsPage();
    ResetTotalsPage = buildResetTotalsPage();
    Z640Page = buildZ640Page();
    DetectorPage = buildDetectorPage();
    for (QWidget *page : {ConfigurationPage, CalibrationPage, BasicCalibrationPage, Blank, AccessPage,
                          ClearLogsPage, ResetTotalsPage, Z640Page, DetectorPage})
        PageControl->addWidget(page);
}

QLineEdit *TConfigForm::createEdit(const QString &name, const QString &hint, Filter filter)
{
    auto *e = new QLineEdit;
    e->setObjectName(name);
    e->setToolTip(hint);
    e->setFixedWidth(kEditWidth);
    MarkEdit(e, false);
    if (filter != Filter::None) {
        e->setProperty("keyFilter", int(filter));
        e->installEventFilter(this);
    }
    edits_.push_back(e);
    return e;
}

QWidget *TConfigForm::createFieldControl(const FieldDesc &f)
{
    const QString name = QString::fromLatin1(f.name);
    QWidget *w = nullptr;
    switch (f.kind) {
    case Kind::Decimal:
    case Kind::TubeZero:
    case Kind::FreeDecimal:
    case Kind::Unsigned:
    case Kind::Signed:
    case Kind::AccessCode: {
        QLineEdit *e = createEdit(name, f.hint ? QString::fromLatin1(f.hint) : QString(), filterOf(f));
        if (f.kind == Kind::AccessCode)
            e->setAlignment(Qt::AlignRight);
        connect(e, &QLineEdit::textChanged, this, [this, e] { editChanged(e, Origin::Edit); });
        w = e;
        break;
    }
    case Kind::Combo: {
        auto *c = new QComboBox;
        c->setObjectName(name);
        c->addItems(comboItems(f.items));
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, c] { flowVolumeUnitChange(c); });
        w = c;
        break;
    }
    case Kind::Check:
    case Kind::FlagBit: {
        auto *c = new QCheckBox(QString::fromLatin1(f.label));
        c->setObjectName(name);
        connect(c, &QCheckBox::toggled, this, [this, c] { emptyPipeDetectClick(c); });
        w = c;
        break;
    }
    case Kind::TimePicker:
    case Kind::DatePicker: {
        auto *p = new QDateTimeEdit;
        p->setObjectName(name);
        p->setTimeSpec(Qt::UTC);
        p->setDisplayFormat(f.kind == Kind::TimePicker ? QStringLiteral("HH:mm:ss")
                                                       : QStringLiteral("dd/MM/yyyy"));
        p->setCalendarPopup(f.kind == Kind::DatePicker);
        connect(p, &QDateTimeEdit::dateTimeChanged, this, [this, p] { offPeakStartChange(p); });
        w = p;
        break;
    }
    }
    fields_.insert(name, &f);
    controls_.insert(name, w);
    return w;
}

// Lays out the fields of one place in a two-column grid (label, control);
// grid places use each field's row and column, and so does a form field
// with a column of its own (it stands beside another field).
void TConfigForm::placeFields(Place place, QGridLayout *grid, int firstRow)
{
    int row = firstRow;
    for (const FieldTable table : {configurationFields(), calibrationFields(), basicCalibrationFields(),
                                   accessFields()}) {
        for (const FieldDesc *f = table.begin; f != table.end(); ++f) {
            if (f->place != place)
                continue;
            QWidget *w = createFieldControl(*f);
            const bool grid2d = place == Place::Alarms || place == Place::DigitalOutputs
                                || place == Place::AnalogOutputs;
            if (grid2d) {
                grid->addWidget(w, f->row, f->col);
            } else if (place == Place::AccessFront || place == Place::AccessComms) {
                // Each code under its own name, on the line of its row's label.
                grid->addWidget(label(labelOf(*f), w), 2 * firstRow, 1 + f->col);
                grid->addWidget(w, 2 * firstRow + 1, 1 + f->col);
            } else if (f->kind == Kind::Check || f->kind == Kind::FlagBit) {
                grid->addWidget(w, row++, 0, 1, 2);
            } else if (f->col != 0) {
                grid->addWidget(w, firstRow + f->row, f->col);
            } else {
                const QString text = labelOf(*f);
                if (!text.isEmpty())
                    grid->addWidget(label(text, w), row, 0);
                grid->addWidget(w, row++, 1);
            }
        }
    }
}

QWidget *TConfigForm::buildConfigurationPage()
{
    auto *page = named(new QWidget, "ConfigurationPage");
    ConfigPageControl = named(new QTabWidget, "ConfigPageControl");
    ConfigPageControl->setUsesScrollButtons(false); // every tab in sight
    const struct {
        const char *name;
        const char *caption;
        Place place;
    } tabs[] = {
        {"UnitsTab", "Units", Place::Units},
        {"ValuesTab", "Values", Place::Values},
        {"TotalsTab", "Totals", Place::Totals},
        {"ScanningTab", "Scanning", Place::Scanning},
        {"AlarmsTab", "Alarms", Place::Alarms},
        {"DigitalOutputsTab", "Digital Outputs", Place::DigitalOutputs},
        {"AnalogOutputsTab", "Analog Outputs", Place::AnalogOutputs},
        {"GeneralTab", "General", Place::General},
        {"ModemTab", "Modem", Place::Modem},
    };
    for (const auto &t : tabs) {
        auto *tab = named(new QWidget, t.name);
        auto *grid = new QGridLayout;
        grid->setHorizontalSpacing(12);
        switch (t.place) {
        case Place::Alarms: {
            const char *rows[] = {"Alarm 1 ", "Alarm 2", "Alarm 3", "Alarm 4"};
            grid->addWidget(label(QStringLiteral("Alarm Cause")), 0, 2);
            for (int k = 0; k < 4; ++k)
                grid->addWidget(label(QString::fromLatin1(rows[k])), k + 1, 0);
            break;
        }
        case Place::DigitalOutputs: {
            const char *cols[] = {"DO Type", "Frequency", "Channel", "Pulse Scale", "Pulse Width"};
            for (int c = 0; c < 5; ++c)
                grid->addWidget(label(QString::fromLatin1(cols[c])), 0, c + 1);
            for (int k = 1; k <= 4; ++k)
                grid->addWidget(label(QStringLiteral("Dig Out %1").arg(k)), k, 0);
            break;
        }
        case Place::AnalogOutputs: {
            const char *rows[] = {"Mode", "Channel", "Damping", "Zero 4-20mA", "Span 4-20mA", "Alarm Limit"};
            grid->addWidget(label(QStringLiteral("Channel 1")), 0, 1);
            grid->addWidget(label(QStringLiteral("Channel 2")), 0, 2);
            for (int r = 0; r < 6; ++r)
                grid->addWidget(label(QString::fromLatin1(rows[r])), r + 1, 0);
            break;
        }
        default: break;
        }
        placeFields(t.place, grid);
        if (t.place == Place::Modem) {
            // "Minutes" beside both duration edits.
            for (const char *name : {"modemOnDuration", "modemInterval"}) {
                int row, col, rs, cs;
                grid->getItemPosition(grid->indexOf(controls_.value(QString::fromLatin1(name))), &row, &col, &rs,
                                      &cs);
                grid->addWidget(label(QStringLiteral("Minutes")), row, 2);
            }
        }
        // Labels and controls stay together at the top left.
        grid->setColumnStretch(grid->columnCount(), 1);
        grid->setRowStretch(grid->rowCount(), 1);
        grid->setContentsMargins(12, 12, 12, 12);
        tab->setLayout(grid);
        ConfigPageControl->addTab(tab, QString::fromLatin1(t.caption));
    }
    connect(ConfigPageControl, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == configTab_ || index < 0)
            return;
        // The change is held back until validation allows it.
        {
            const QSignalBlocker block(ConfigPageControl);
            ConfigPageControl->setCurrentIndex(configTab_);
        }
        if (!ConfigPageControlChanging())
            return;
        configTab_ = index;
        const QSignalBlocker block(ConfigPageControl);
        ConfigPageControl->setCurrentIndex(index);
    });
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ConfigPageControl);
    return page;
}

QWidget *TConfigForm::buildCalibrationPage()
{
    auto *page = named(new QWidget, "CalibrationPage");
    auto *layout = new QGridLayout(page);
    const struct {
        const char *caption;
        Place place;
        int row, col;
    } panels[] = {
        {"Flow meter ", Place::FlowMeter, 0, 0},
        {"Flow tube", Place::FlowTube, 0, 1},
        {"Coil driver", Place::CoilDriver, 1, 0},
        {"Analog outputs", Place::CalAnalogOutputs, 1, 1},
    };
    std::vector<QGridLayout *> grids;
    for (const auto &p : panels) {
        auto *box = new QGroupBox(QString::fromLatin1(p.caption));
        auto *grid = new QGridLayout(box);
        placeFields(p.place, grid);
        grid->setRowStretch(grid->rowCount(), 1);
        grid->setColumnStretch(grid->columnCount(), 1);
        layout->addWidget(box, p.row, p.col);
        grids.push_back(grid);
    }
    // The edits start at the same place in every panel.
    Platform::alignFirstColumns({grids[0], grids[1], grids[2], grids[3]});
    return page;
}

QWidget *TConfigForm::buildBasicCalibrationPage()
{
    auto *page = named(new QWidget, "BasicCalibrationPage");
    auto *grid = new QGridLayout(page);
    grid->setHorizontalSpacing(12);
    // Zero and span trims side by side, in table order.
    int i = 0;
    for (const FieldDesc *f = basicCalibrationFields().begin; f != basicCalibrationFields().end(); ++f, ++i) {
        QWidget *w = createFieldControl(*f);
        grid->addWidget(label(labelOf(*f), w), i / 2, (i % 2) * 2);
        grid->addWidget(w, i / 2, (i % 2) * 2 + 1);
    }
    grid->setRowStretch(grid->rowCount(), 1);
    grid->setColumnStretch(grid->columnCount(), 1);
    return page;
}

QWidget *TConfigForm::buildAccessPage()
{
    auto *page = named(new QWidget, "AccessPage");
    auto *box = new QGroupBox(QStringLiteral("Access Codes"));
    auto *grid = new QGridLayout(box);
    grid->addWidget(label(QStringLiteral("Front panel access ")), 1, 0);
    grid->addWidget(label(QStringLiteral("Comms access")), 3, 0);
    placeFields(Place::AccessFront, grid, 0);
    placeFields(Place::AccessComms, grid, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addStretch(1);
    return page;
}

QWidget *TConfigForm::buildClearLogsPage()
{
    auto *page = named(new QWidget, "ClearLogsPage");
    Memo1 = readOnlyMemo(
        "Memo1",
        {"Pressing the \"Clears logs\" button will start the process of clearing all data logs. During this "
         "process the ",
         "board will reboot to enable the clearing of data flash memory pages.",
         "This process will take several minutes to complete. Both Yellow and Red LED lights will flicker during "
         "this ",
         "time.",
         "Please wait for this process to complete at which time a message will appear informing You the process ",
         "has completed."});
    Memo2 = readOnlyMemo(
        "Memo2",
        {"Pressing the \"Backup Logs\" button will start the process of backing up all data logs to the sdcard.",
         "During this process both Yellow and Red LED lights will flicker. Please wait for this process to "
         "complete ",
         "before continuing."});
    ClearDataLogsBtn = button("ClearDataLogsBtn", "Clear Logs");
    BackupDataLogsBtn = button("BackupDataLogsBtn", "Backup Logs");
    // Each memo above its button (the memos take the page's width).
    auto *layout = new QVBoxLayout(page);
    for (auto [memo, action] : {std::pair{Memo1, ClearDataLogsBtn}, std::pair{Memo2, BackupDataLogsBtn}}) {
        layout->addWidget(memo);
        layout->addSpacing(kButtonGap);
        layout->addWidget(action, 0, Qt::AlignLeft);
        layout->addSpacing(2 * kButtonGap);
    }
    layout->addStretch(1);
    return page;
}

QWidget *TConfigForm::buildResetTotalsPage()
{
    auto *page = named(new QWidget, "ResetTotalsPage");
    ResetTotalsMemo = readOnlyMemo("ResetTotalsMemo", {});
    ClearTotalsBtn = button("ClearTotalsBtn", "Zero Totalisers");
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(ResetTotalsMemo, 1);
    layout->addSpacing(kButtonGap);
    layout->addWidget(ClearTotalsBtn, 0, Qt::AlignLeft);
    return page;
}

QWidget *TConfigForm::buildZ640Page()
{
    auto *page = named(new QWidget, "Z640Page");
    auto *grid = new QGridLayout(page);
    grid->addWidget(label(QStringLiteral("Enter Z640 meter information")), 0, 0, 1, 2);

    // Labelled edits: their labels are 118 pixels wide and the edits size themselves.
    auto labelled = [&](QLineEdit *e, const char *caption, int row) {
        QLabel *l = label(QString::fromLatin1(caption), e);
        l->setMinimumWidth(118); // grows when the font needs more
        e->setMinimumWidth(0);
        e->setMaximumWidth(QWIDGETSIZE_MAX);
        e->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        grid->addWidget(l, row, 0);
        grid->addWidget(e, row, 1);
        return e;
    };
    Z640ConverionMeterID = createEdit(QStringLiteral("Z640ConverionMeterID"),
                                      QStringLiteral("Meter ID valid range from 0 to 999999"), Filter::Unsigned);
    Z640ConverionMeterID->setMaxLength(6);
    Z640ConverionFlowTubeZero = createEdit(QStringLiteral("Z640ConverionFlowTubeZero"),
                                           QStringLiteral("Please select a Nominal Bore"), Filter::Decimal);
    Z640ConverionFlowTubeZero->setAlignment(Qt::AlignRight);
    Z640ConverionFlowTubeFactor = createEdit(QStringLiteral("Z640ConverionFlowTubeFactor"),
                                             QStringLiteral("Please select a Nominal Bore"), Filter::Decimal);
    Z640ConverionFlowTubeFactor->setAlignment(Qt::AlignRight);
    Z640ConversionSaveBtn = button("Z640ConversionSaveBtn", "Perform conversion");
    Z640ConversionCancelBtn = button("Z640ConversionCancelBtn", "Exit");
    connect(Z640ConversionCancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    NotesMemo = named(new QPlainTextEdit, "NotesMemo");
    NotesMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    NominalBoreCB = named(new QComboBox, "NominalBoreCB");
    NominalBoreCB->setEditable(true);
    NominalBoreCB->addItems({"50", "80", "100", "150", "200", "225", "250", "300", "350", "375", "400", "420",
                             "445", "450", "470", "485", "500", "600"});
    NominalBoreCB->setCurrentIndex(-1);
    TechnicianName = createEdit(QStringLiteral("TechnicianName"), {}, Filter::None);
    SiteName = createEdit(QStringLiteral("SiteName"), {}, Filter::None);
    ValidatorLicenseNumber = createEdit(QStringLiteral("ValidatorLicenseNumber"), {}, Filter::None);
    ValidatorLicenseNumber->setText(QStringLiteral("DAV"));
    ValidatorLicenseNumber->setMaxLength(8);

    labelled(Z640ConverionMeterID, "Meter ID:", 1);
    grid->addWidget(label(QStringLiteral("Nominal Bore (mm):"), NominalBoreCB), 2, 0);
    grid->addWidget(NominalBoreCB, 2, 1);
    labelled(Z640ConverionFlowTubeFactor, "Tube Factor:", 3);
    labelled(Z640ConverionFlowTubeZero, "Tube Zero:", 4);
    labelled(TechnicianName, "Technician Name:", 5);
    labelled(SiteName, "Site Name:", 6);
    labelled(ValidatorLicenseNumber, "ValidatorLicenseNumber:", 7);
    grid->addWidget(label(QStringLiteral(" Notes:"), NotesMemo), 0, 2);
    grid->addWidget(NotesMemo, 1, 2, 7, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Z640ConversionSaveBtn);
    buttons->addWidget(Z640ConversionCancelBtn);
    grid->addLayout(buttons, 8, 0, 1, 3);
    grid->setRowStretch(9, 1);
    grid->setColumnStretch(2, 1);

    // Tab order: meter ID, bore, tube factor, tube zero, technician, site, licence, notes, buttons.
    QWidget *order[] = {Z640ConverionMeterID, NominalBoreCB, Z640ConverionFlowTubeFactor,
                        Z640ConverionFlowTubeZero, TechnicianName, SiteName, ValidatorLicenseNumber, NotesMemo,
                        Z640ConversionSaveBtn, Z640ConversionCancelBtn};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    return page;
}

QWidget *TConfigForm::buildDetectorPage()
{
    auto *page = named(new QWidget, "DetectorPage");
    DetectorGB = named(new QGroupBox(QStringLiteral("Detector type")), "DetectorGB");
    new QVBoxLayout(DetectorGB);
    detectorItems_ = new QButtonGroup(this);
    Platform::tabToCheckedRadio(*detectorItems_);
    addDetectorItem(QStringLiteral("Z960"));
    addDetectorItem(QStringLiteral("Z640 Emulation"));
    Button1 = button("Button1", "Exit");
    DetectorSaveBtn = button("DetectorSaveBtn", "Save");
    connect(Button1, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(DetectorGB);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(DetectorSaveBtn);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return page;
}

void TConfigForm::addDetectorItem(const QString &text)
{
    auto *item = new QRadioButton(text);
    item->setObjectName(QStringLiteral("DetectorItem%1").arg(detectorItems_->buttons().size()));
    detectorItems_->addButton(item, detectorItems_->buttons().size());
    DetectorGB->layout()->addWidget(item);
}

int TConfigForm::detectorItemIndex() const { return detectorItems_->checkedId(); }

QWidget *TConfigForm::fieldControl(const QString &name) const { return controls_.value(name); }

void TConfigForm::enablePageButtons(short accessLevel)
{
    if (accessLevel < 0 || accessLevel > 3)
        return;
    const bool configuration = accessLevel >= 2;
    const bool calibration = accessLevel == 3;
    ConfigurationSB->setEnabled(configuration);
    for (QToolButton *b : {CalibrationSB, BasicCalibrationSB, AccessSB, ClearLogsSB})
        b->setEnabled(calibration);
    for (QToolButton *b : {ResetTotalisersSB, Z640ConversionSB, DetectorSB})
        b->setEnabled(configuration);
}

// ---------------------------------------------------------------------------
// Loading

void TConfigForm::LoadConfigurationControls() { loadFields(Image::Config); }

void TConfigForm::LoadCalibrationControls()
{
    loadFields(Image::Cal);
    loadDetectorType();
}

void TConfigForm::LoadBasicCalibrationControls() { loadFields(Image::BasicCal); }

void TConfigForm::loadFields(Image image)
{
    for (const FieldTable table : {configurationFields(), calibrationFields(), basicCalibrationFields(),
                                   accessFields()})
        for (const FieldDesc *f = table.begin; f != table.end(); ++f)
            if (f->image == image)
                loadField(*f);
}

// Shows a stored value and marks it as a typed one would be marked; stores nothing.
void TConfigForm::loadField(const FieldDesc &f)
{
    QWidget *w = controls_.value(QString::fromLatin1(f.name));
    const QSignalBlocker block(w);
    loading_ = true;
    switch (f.kind) {
    case Kind::Decimal:
    case Kind::TubeZero:
    case Kind::FreeDecimal: static_cast<QLineEdit *>(w)->setText(formatFloat(floatOf(f))); break;
    case Kind::Unsigned:
    case Kind::AccessCode: static_cast<QLineEdit *>(w)->setText(formatUnsigned(uint32_t(numberOf(f)))); break;
    case Kind::Signed: static_cast<QLineEdit *>(w)->setText(formatSigned(int16_t(numberOf(f)))); break;
    case Kind::Combo: {
        // A stored value without an item shows no selection.
        auto *c = static_cast<QComboBox *>(w);
        const double value = numberOf(f);
        c->setCurrentIndex(value >= 0 && value < c->count() ? int(value) : -1);
        break;
    }
    case Kind::Check:
    case Kind::FlagBit: static_cast<QCheckBox *>(w)->setChecked(numberOf(f) != 0); break;
    case Kind::TimePicker:
    case Kind::DatePicker: {
        const auto record = onImage(f.image, [&](auto &im) { return im.template get<Z960Data::Timestamp>(f.data); });
        static_cast<QDateTimeEdit *>(w)->setDateTime(toPickerDateTime(Z960Data::encodeTDateTime(record)));
        break;
    }
    }
    if (isEdit(f.kind))
        editChanged(static_cast<QLineEdit *>(w), Origin::Load);
    loading_ = false;
}

void TConfigForm::loadDetectorType()
{
    const std::optional<int> item = Z960Data::detectorItem(images_.cal->detectorType());
    if (!item) {
        addDetectorItem(QString::fromLatin1(Z960Data::kInvalidDetectorItem));
        invalidDetectorType = true;
    }
    detectorItems_->button(item.value_or(2))->setChecked(true);
}

// ---------------------------------------------------------------------------
// Range checks and change handlers

bool TConfigForm::CheckIntRange(QWidget *edit, int value, int min, int max)
{
    const bool ok = min <= value && value <= max;
    MarkEdit(edit, !ok);
    return ok;
}

bool TConfigForm::CheckFloatRange(QWidget *edit, float value, float min, float max)
{
    const bool ok = min <= value && value <= max; // false for NaN
    MarkEdit(edit, !ok);
    return ok;
}

float TConfigForm::floatOf(const FieldDesc &f) const
{
    return onImage(f.image, [&](auto &im) { return im.template get<float>(f.data); });
}

double TConfigForm::numberOf(const FieldDesc &f) const
{
    return onImage(f.image, [&](auto &im) { return im.number(f.data); });
}

void TConfigForm::storeFloat(const FieldDesc &f, float value)
{
    onImage(f.image, [&](auto &im) { im.template set<float>(f.data, value); });
}

// Integers go in at the field's width: the low 16 bits of a 16-bit field.
void TConfigForm::storeInteger(const FieldDesc &f, int32_t value)
{
    onImage(f.image, [&](auto &im) {
        switch (f.data.type) {
        case Z960Data::ValueType::UInt32: im.template set<uint32_t>(f.data, uint32_t(value)); break;
        case Z960Data::ValueType::Int16: im.template set<int16_t>(f.data, int16_t(value)); break;
        default: im.template set<uint16_t>(f.data, uint16_t(value)); break;
        }
    });
}

const FieldDesc *TConfigForm::fieldOf(QObject *sender) const
{
    return sender ? fields_.value(sender->objectName()) : nullptr;
}

void TConfigForm::flowVolumeSpecFactChange(QObject *Sender)
{
    if (auto *e = qobject_cast<QLineEdit *>(Sender))
        editChanged(e, Origin::Edit);
}

void TConfigForm::pipeDiamChange(QObject *Sender) { flowVolumeSpecFactChange(Sender); }
void TConfigForm::DO_Frequency1Change(QObject *Sender) { flowVolumeSpecFactChange(Sender); }
void TConfigForm::pwdU0Change(QObject *Sender) { flowVolumeSpecFactChange(Sender); }

void TConfigForm::editChanged(QLineEdit *edit, Origin origin)
{
    const FieldDesc *f = fieldOf(edit);
    if (!f || edit->text().isEmpty())
        return;
    switch (f->kind) {
    case Kind::Decimal:
    case Kind::TubeZero:
    case Kind::FreeDecimal: checkDecimal(*f, edit, origin); break;
    case Kind::Unsigned:
    case Kind::Signed: checkInteger(*f, edit, origin); break;
    case Kind::AccessCode: checkAccessCode(*f, edit, origin); break;
    default: break;
    }
}

// Decimal edits: a lone sign waits for digits; a text that is no number, or
// a value beyond the float range, is marked and not stored.
void TConfigForm::checkDecimal(const FieldDesc &f, QLineEdit *edit, Origin origin)
{
    const QString text = edit->text();
    if (text == QLatin1String("-") || text == QLatin1String("+"))
        return;
    const std::optional<float> value = parseFloat32(text);
    bool ok = false;
    if (!value) {
        MarkEdit(edit, true);
    } else if (f.kind == Kind::FreeDecimal) {
        MarkEdit(edit, false);
        ok = true;
    } else if (f.kind == Kind::TubeZero) {
        // The whole part is checked; the value is stored as typed.
        const double whole = std::trunc(double(*value));
        if (std::fabs(whole) < 2147483648.0) {
            ok = CheckIntRange(edit, int(whole), int(f.min), int(f.max));
        } else {
            MarkEdit(edit, true);
        }
    } else {
        ok = CheckFloatRange(edit, *value, float(f.min), float(f.max));
    }
    if (ok && origin == Origin::Edit)
        storeFloat(f, *value);
}

void TConfigForm::checkInteger(const FieldDesc &f, QLineEdit *edit, Origin origin)
{
    const QString text = edit->text();
    if (f.kind == Kind::Signed && (text == QLatin1String("-") || text == QLatin1String("+")))
        return;
    const std::optional<int32_t> value = parseInt32(text);
    if (!value) {
        MarkEdit(edit, true);
        return;
    }
    if (!CheckIntRange(edit, *value, int(f.min), int(f.max)) || origin == Origin::Load)
        return;
    storeInteger(f, *value);
}

void TConfigForm::checkAccessCode(const FieldDesc &f, QLineEdit *edit, Origin origin)
{
    const std::optional<int32_t> value = parseInt32(edit->text());
    if (!value) {
        MarkEdit(edit, true);
        return;
    }
    if (*value > 9999 || *value == 0) {
        Platform::showMessage(QString::fromLatin1(kAccessCodeMessage), this);
        return;
    }
    if (CheckIntRange(edit, *value, int(f.min), int(f.max)) && origin == Origin::Edit)
        storeInteger(f, *value);
}

// Combo boxes store the index of the shown item; no item shown stores nothing.
void TConfigForm::flowVolumeUnitChange(QObject *Sender)
{
    const FieldDesc *f = fieldOf(Sender);
    auto *c = qobject_cast<QComboBox *>(Sender);
    if (loading_ || !f || !c || f->kind != Kind::Combo || c->currentIndex() < 0)
        return;
    storeInteger(*f, c->currentIndex());
}

void TConfigForm::emptyPipeDetectClick(QObject *Sender)
{
    const FieldDesc *f = fieldOf(Sender);
    auto *c = qobject_cast<QCheckBox *>(Sender);
    if (loading_ || !f || !c)
        return;
    // A flag bit is set or cleared alone; the other bits keep their values.
    if (f->kind == Kind::FlagBit)
        onImage(f->image, [&](auto &im) { im.setNumber(f->data, c->isChecked() ? 1.0 : 0.0); });
    else if (f->kind == Kind::Check)
        storeInteger(*f, c->isChecked() ? 1 : 0);
}

void TConfigForm::offPeakStartChange(QObject *Sender)
{
    const FieldDesc *f = fieldOf(Sender);
    auto *p = qobject_cast<QDateTimeEdit *>(Sender);
    if (loading_ || !f || !p)
        return;
    // Bytes 0..5 of the record take the picker's date and time; 6..9 stay.
    onImage(f->image, [&](auto &im) {
        auto record = im.template get<Z960Data::Timestamp>(f->data);
        Z960Data::decodeTDateTime(fromPickerDateTime(p->dateTime()), &record);
        im.set(f->data, record);
    });
}

// ---------------------------------------------------------------------------
// Key filters

bool TConfigForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ValidatorLicenseNumber && event->type() == QEvent::KeyRelease) {
        int key = static_cast<QKeyEvent *>(event)->key();
        ValidatorLicenseNumberKeyUp(watched, key);
    }
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Only character keys reach the filters; navigation, deletion and
        // shortcuts (copy, paste, undo) pass.
        const bool shortcut = (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
                              && key->key() != Qt::Key_Backspace;
        const bool character = !text.isEmpty() && !shortcut && key->key() != Qt::Key_Tab
                               && key->key() != Qt::Key_Backtab && key->key() != Qt::Key_Escape
                               && key->key() != Qt::Key_Delete;
        if (character) {
            const ushort u = text.at(0).unicode();
            char c = u < 0x80 ? char(u) : char(0x7F); // no non-ASCII key is ever accepted
            if (text.size() > 1)
                c = 0x7F;
            const char typed = c;
            if (watched == ValidatorLicenseNumber)
                ValidatorLicenseNumberKeyPress(watched, c);
            else
                filterKey(watched, c);
            if (c == 0)
                return true;
            if (c != typed) {
                // The filter put another character in the key's place (a
                // decimal comma becomes "."): the edit is given that one.
                QKeyEvent replacement(QEvent::KeyPress, QChar::fromLatin1(c).toUpper().unicode(),
                                      key->modifiers(), QString(QChar::fromLatin1(c)));
                QCoreApplication::sendEvent(watched, &replacement);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Runs the edit's key filter; false when the key is refused.
bool TConfigForm::filterKey(QObject *watched, char &key)
{
    switch (Filter(watched->property("keyFilter").toInt())) {
    case Filter::Decimal: coilZeroKeyPress(watched, key); break;
    case Filter::Unsigned: coilCurrentKeyPress(watched, key); break;
    case Filter::Signed: DO_Frequency1KeyPress(watched, key); break;
    case Filter::None: break;
    }
    return key != 0;
}

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr char kBackspace = 8;
constexpr char kFormFeed = 12;
QString textOf(QObject *sender)
{
    auto *e = qobject_cast<QLineEdit *>(sender);
    return e ? e->text() : QString();
}
} // namespace

void TConfigForm::coilZeroKeyPress(QObject *Sender, char &Key)
{
    if (Sender == Z640ConverionFlowTubeFactor && NominalBoreCB->currentText().isEmpty()) {
        Key = 0;
        Platform::showMessage(QStringLiteral("Please select a value for Nominal Bore first"), this);
        return;
    }
    if (Key == ',')
        Key = '.'; // a German keyboard's decimal key types ","
    const QString text = textOf(Sender);
    const bool accepted = Key == kBackspace || Key == kFormFeed || isDigit(Key)
                          || ((Key == '+' || Key == '-') && text.isEmpty())
                          || (Key == '.' && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char(',')));
    if (!accepted)
        Key = 0;
}

void TConfigForm::coilCurrentKeyPress(QObject *Sender, char &Key)
{
    if (Key == kBackspace)
        return;
    if (!isDigit(Key) && Key != kFormFeed) {
        Key = 0;
        return;
    }
    // Access codes hold at most four digits.
    if (Sender->objectName().startsWith(QLatin1String("pwd")) && textOf(Sender).size() >= 4)
        Key = 0;
}

void TConfigForm::DO_Frequency1KeyPress(QObject *Sender, char &Key)
{
    const bool accepted = Key == kBackspace || Key == kFormFeed || isDigit(Key)
                          || ((Key == '+' || Key == '-') && textOf(Sender).isEmpty());
    if (!accepted)
        Key = 0;
}

// ---------------------------------------------------------------------------
// Validation, pages, save and cancel

bool TConfigForm::ValidateAll()
{
    for (auto it = edits_.rbegin(); it != edits_.rend(); ++it) {
        if (isMarkedRed(*it)) {
            Platform::showMessage(QStringLiteral("Error, ") + (*it)->toolTip(), this);
            return false;
        }
    }
    return true;
}

bool TConfigForm::CheckAllFilled()
{
    for (auto it = edits_.rbegin(); it != edits_.rend(); ++it) {
        if ((*it)->text().isEmpty()) {
            Platform::showMessage(QStringLiteral("Error, ") + (*it)->toolTip(), this);
            return false;
        }
    }
    return true;
}

bool TConfigForm::ConfigPageControlChanging() { return ValidateAll(); }

void TConfigForm::setSaveCancelVisible(bool visible)
{
    SaveBtn->setVisible(visible);
    CancelBtn->setVisible(visible);
}

void TConfigForm::showPage(QWidget *page, QAbstractButton *button)
{
    PageControl->setCurrentWidget(page);
    activeButton_ = button;
}

void TConfigForm::InformationSBClick(QObject *Sender)
{
    if (actionRunning_ || !ValidateAll()) {
        // Stay on the current page: its button stays down.
        if (activeButton_)
            activeButton_->setChecked(true);
        return;
    }
    const QString name = Sender ? Sender->objectName() : QString();
    auto *button = qobject_cast<QAbstractButton *>(Sender);
    struct Route {
        QToolButton *button;
        QWidget *page;
    };
    const Route routes[] = {
        {ConfigurationSB, ConfigurationPage},
        {CalibrationSB, CalibrationPage},
        {BasicCalibrationSB, BasicCalibrationPage},
        {AccessSB, AccessPage},
    };
    for (const Route &r : routes) {
        if (name == r.button->objectName()) {
            showPage(r.page, button);
            setSaveCancelVisible(true);
            return;
        }
    }
    if (name == ClearLogsSB->objectName()) {
        showPage(ClearLogsPage, button);
    } else if (name == ResetTotalisersSB->objectName()) {
        showPage(ResetTotalsPage, button);
        ResetTotalsMemo->clear();
        ResetTotalsMemo->appendPlainText(QString::fromLatin1(kResetTotalsLine));
    } else if (name == Z640ConversionSB->objectName()) {
        showPage(Blank, button);
        if (Platform::messageDlg(QString::fromLatin1(kZ640Warning), Platform::MsgIcon::Information,
                                 Platform::MsgButtons::OkCancel, this)
            == Platform::MsgResult::Ok) {
            setSaveCancelVisible(false);
            PageControl->setCurrentWidget(Z640Page);
        }
    } else if (name == DetectorSB->objectName()) {
        showPage(DetectorPage, button);
        setSaveCancelVisible(false);
    }
    if (activeButton_)
        activeButton_->setChecked(true);
}

void TConfigForm::SaveBtnClick()
{
    if (!actionRunning_ && ValidateAll())
        done(mrOk);
}

void TConfigForm::CancelBtnClick()
{
    if (!actionRunning_)
        done(mrCancel);
}

// Escape and the window's close button end the dialog as Cancel does (and,
// like Cancel, are refused while an action on the meter runs).
void TConfigForm::reject() { CancelBtnClick(); }

void TConfigForm::FormShow()
{
    if (!invalidDetectorType)
        return;
    InformationSBClick(DetectorSB);
    Platform::showMessage(QString::fromLatin1(Z960Data::kInvalidDetectorWarning), this);
}

void TConfigForm::setVisible(bool visible)
{
    // Placed while still hidden, so the main window is not dragged along
    // before the dialog has its frame; centred frame on frame, the main
    // window, centred beneath, then stays where it is.
    if (visible && !isVisible() && parentWidget())
        Platform::centreOnFrame(*this, *parentWidget()->window());
    QDialog::setVisible(visible);
}

void TConfigForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

// ---------------------------------------------------------------------------
// Position coupling

void TConfigForm::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    CentreMainForm();
}

void TConfigForm::CentreMainForm()
{
    if (!isVisible() || !mainForm || !Platform::frameKnown(*this))
        return;
    const QRect dialog = frameGeometry();
    const QRect main = mainForm->frameGeometry();
    const int top = dialog.top() + dialog.height() / 2 - main.height() / 2;
    const int left = dialog.left() + dialog.width() / 2 - main.width() / 2;
    if (top != main.top() || left != main.left()) {
        mainForm->move(left, top);
        mainForm->update();
    }
}
