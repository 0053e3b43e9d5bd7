#include "serial/SerConfigDialog.h"

#include "platform/FormControls.h"
#include "platform/PortMap.h"
#include "platform/Prompter.h"
#include "platform/WindowFrame.h"
#include "serial/SerComm.h"
#include "serial/SerPortList.h"
#include "serial/SerSettings.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <climits>
#include <memory>
#include <stdexcept>

// ------------------------------------------------------------ radio group --

TSerRadioGroup::TSerRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(caption, parent), FGroup(new QButtonGroup(this))
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 2, 4, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    // Filled column by column, as many rows as the widest column needs.
    const int count = int(items.size());
    const int perColumn = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        FGroup->addButton(button, i);
        FButtons.push_back(button);
        grid->addWidget(button, i % perColumn, i / perColumn);
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c, 1);
    Platform::tabToCheckedRadio(*FGroup);
}

int TSerRadioGroup::ItemIndex() const
{
    return FGroup->checkedId();
}

void TSerRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        FButtons[size_t(index)]->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its checked button directly.
    FGroup->setExclusive(false);
    for (QRadioButton *b : FButtons)
        b->setChecked(false);
    FGroup->setExclusive(true);
}

// ------------------------------------------------------------------ form ---

namespace {

const QStringList kStopbitTexts{QStringLiteral("1"), QStringLiteral("1,5"), QStringLiteral("2")};
const QStringList kParityTexts{QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                               QStringLiteral("Mark"), QStringLiteral("Space")};
const QStringList kDatabitTexts{QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
                                QStringLiteral("8")};
// By TSerFlowChoice.
const QStringList kFlowTexts{QStringLiteral("None"), QStringLiteral("DTR/RTS"), QStringLiteral("Xon/Xoff")};

constexpr int kComboHeight = 21;

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *label(const QString &text, int left, int top, const char *name, QWidget *parent)
{
    auto *l = named(new QLabel(text, parent), name);
    l->move(left, top);
    l->adjustSize();
    return l;
}

QComboBox *dropDownList(int left, int top, int width, const char *name, QWidget *parent)
{
    auto *c = named(new QComboBox(parent), name);
    c->setEditable(false);
    c->setGeometry(left, top, width, kComboHeight);
    return c;
}

TSerRadioGroup *radioGroup(const QString &caption, const QStringList &items, int columns, const QRect &place,
                           const char *name, QWidget *parent)
{
    auto *g = named(new TSerRadioGroup(caption, items, columns, parent), name);
    g->setGeometry(place);
    return g;
}

QPushButton *button(const QString &caption, int left, int top, const char *name, QWidget *parent)
{
    auto *b = named(new QPushButton(caption, parent), name);
    b->setGeometry(left, top, 75, 25);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TSerConfigForm::TSerConfigForm(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SerConfigForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::SystemMenu);
    setWindowTitle(QStringLiteral("COM port configuration"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(405, 269);

    Label1 = label(QStringLiteral("COM port:"), 8, 16, "Label1", this);
    COMPORTS = dropDownList(80, 14, 145, "COMPORTS", this);
    Label2 = label(QStringLiteral("Baud rate:"), 8, 48, "Label2", this);
    BAUDRATES = dropDownList(80, 46, 145, "BAUDRATES", this);
    USERBAUDRATE = named(new QSpinBox(this), "USERBAUDRATE");
    USERBAUDRATE->setGeometry(238, 46, 121, 22);
    USERBAUDRATE->setRange(INT_MIN, INT_MAX); // the field itself sets no limit
    STOPBITS = radioGroup(QStringLiteral("Stop bits"), kStopbitTexts, 3, {8, 75, 190, 46}, "STOPBITS", this);
    PARITYSETTING =
        radioGroup(QStringLiteral("Parity"), kParityTexts, 2, {204, 75, 190, 97}, "PARITYSETTING", this);
    DATABITS = radioGroup(QStringLiteral("Data bits"), kDatabitTexts, 5, {8, 127, 190, 46}, "DATABITS", this);
    FLOWSETTING =
        radioGroup(QStringLiteral("Flow control"), kFlowTexts, 3, {8, 179, 386, 46}, "FLOWSETTING", this);
    Button1 = button(QStringLiteral("OK"), 238, 235, "Button1", this);
    Button1->setDefault(true);
    Button2 = button(QStringLiteral("Cancel"), 320, 235, "Button2", this);
    SerComm1 = named(new TSerComm(this), "SerComm1");

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject); // Escape rejects as well
    connect(BAUDRATES, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { BAUDRATESChange(); });
    SetTabOrder();
    COMPORTS->setFocus();
}

void TSerConfigForm::BAUDRATESChange()
{
    USERBAUDRATE->setVisible(BAUDRATES->currentIndex() == brUser);
}

void TSerConfigForm::SetTabOrder()
{
    std::vector<QWidget *> order{COMPORTS, BAUDRATES, Button1, Button2};
    for (TSerRadioGroup *g : {PARITYSETTING, STOPBITS, DATABITS, FLOWSETTING}) {
        for (int i = 0; i < g->Count(); ++i)
            order.push_back(g->Button(i));
    }
    order.push_back(USERBAUDRATE);
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// ---------------------------------------------------------------- dialog ---

TSerConfigDialog::TSerConfigDialog(QObject *AOwner) : TSerComponent(AOwner) {}

int TSerConfigDialog::Execute()
{
    if (FComm.isNull())
        throw std::runtime_error("No TSerComm instance assigned.");
    // The form is freed on every way out, an exception from StoreForm included.
    auto form = std::make_unique<TSerConfigForm>();
    LoadForm(*form);
    const bool ok = Platform::prompter().runDialog(*form) == QDialog::Accepted;
    if (ok && !FComm.isNull())
        StoreForm(*form);
    return ok ? mrOk : mrCancel;
}

void TSerConfigDialog::LoadForm(TSerConfigForm &form) const
{
    TSerComm &comm = *FComm;
    QStringList ports;
    GetComPortNames(ports);
    form.COMPORTS->addItems(ports);
    const int current = form.COMPORTS->findText(QStringLiteral("COM%1").arg(comm.PortNum()), Qt::MatchExactly);
    form.COMPORTS->setCurrentIndex(ports.isEmpty() ? -1 : std::max(current, 0));

    form.BAUDRATES->clear();
    for (const char *text : SerTables::BaudRateTexts)
        form.BAUDRATES->addItem(QString::fromLatin1(text));
    form.BAUDRATES->setCurrentIndex(comm.Baudrate());

    form.STOPBITS->SetItemIndex(comm.Stopbits());
    form.PARITYSETTING->SetItemIndex(comm.Parity());
    form.DATABITS->SetItemIndex(comm.Databits());
    form.USERBAUDRATE->setValue(comm.UserBaudrate());
    form.USERBAUDRATE->setVisible(comm.Baudrate() == brUser);
    form.FLOWSETTING->SetItemIndex(SerFlowChoice(comm.FlowControl()));
}

void TSerConfigDialog::StoreForm(const TSerConfigForm &form) const
{
    TSerComm &comm = *FComm;
    // No port chosen (an empty list) or an entry that names no port number
    // leaves the port as it was.
    if (const auto number = Platform::parseComName(form.COMPORTS->currentText().toStdString()))
        comm.SetPortNum(*number);
    const int rate = form.BAUDRATES->currentIndex();
    if (rate >= 0)
        comm.SetBaudrate(TSerBaudrate(rate));
    if (form.STOPBITS->ItemIndex() >= 0)
        comm.SetStopbits(TSerStopbits(form.STOPBITS->ItemIndex()));
    if (form.DATABITS->ItemIndex() >= 0)
        comm.SetDatabits(TSerDatabits(form.DATABITS->ItemIndex()));
    if (form.PARITYSETTING->ItemIndex() >= 0)
        comm.SetParity(TSerParity(form.PARITYSETTING->ItemIndex()));
    // The field's value counts only for "user": taking it over for a rate
    // from the list would switch the component back to the user rate.
    if (rate == brUser)
        comm.SetUserBaudrate(form.USERBAUDRATE->value());
    if (form.FLOWSETTING->ItemIndex() >= 0)
        SerApplyFlowChoice(comm.FlowControl(), TSerFlowChoice(form.FLOWSETTING->ItemIndex()));
}
