// What every framed window asks of the window manager, read back from the
// X server: its border icons and functions (_MOTIF_WM_HINTS) and its fixed
// size (WM_NORMAL_HINTS). The properties are the windows' own, so the checks
// hold with or without a window manager running.
#include "config/ConfigFormFixture.h"
#include "console/ConsoleFixture.h"
#include "console/TAboutBox.h"
#include "console/TDlProgForm.h"
#include "console/TOptionsForm.h"
#include "console/TStringQuery.h"
#include "console/TZ960InterfaceForm.h"
#include "report/TMessageForm.h"
#include "report/TTechMemoForm.h"
#include "serial/SerComm.h"
#include "serial/SerConfigDialog.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QToolButton>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <optional>
#include <vector>

// Sizes in messages as "width x height".
void PrintTo(const QSize &size, std::ostream *os) { *os << size.width() << "x" << size.height(); }

namespace {

// Motif hint bits.
constexpr uint32_t kHasFunctions = 1, kHasDecorations = 2;
constexpr uint32_t kFuncAll = 1, kFuncResize = 2, kFuncMinimise = 8, kFuncMaximise = 16, kFuncClose = 32;
constexpr uint32_t kDecorAll = 1, kDecorResizeHandle = 4, kDecorTitle = 8, kDecorMenu = 16, kDecorMinimise = 32,
                   kDecorMaximise = 64;
// WM_SIZE_HINTS flags.
constexpr uint32_t kMinSize = 16, kMaxSize = 32;

xcb_connection_t *connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection(), xcb_intern_atom(connection(), 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

// The 32-bit values of a window property; nothing when it is not set.
std::optional<std::vector<uint32_t>> property(const QWidget &window, xcb_atom_t name)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection(), xcb_get_property(connection(), 0, xcb_window_t(window.winId()), name, XCB_GET_PROPERTY_TYPE_ANY, 0, 32),
        nullptr);
    if (!reply)
        return std::nullopt;
    std::optional<std::vector<uint32_t>> values;
    if (reply->format == 32 && reply->type != XCB_ATOM_NONE) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        values.emplace(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

struct Frame {
    uint32_t flags = 0, functions = 0, decorations = 0; // Motif hints
    bool hasMinSize = false, hasMaxSize = false;
    QSize minSize, maxSize;
};

Frame frameOf(const QWidget &window)
{
    Frame f;
    if (const auto motif = property(window, atom("_MOTIF_WM_HINTS")); motif && motif->size() >= 3) {
        f.flags = (*motif)[0];
        f.functions = (*motif)[1];
        f.decorations = (*motif)[2];
    }
    // flags, x, y, width, height, min width, min height, max width, max height, ...
    if (const auto size = property(window, XCB_ATOM_WM_NORMAL_HINTS); size && size->size() >= 9) {
        f.hasMinSize = (*size)[0] & kMinSize;
        f.hasMaxSize = (*size)[0] & kMaxSize;
        f.minSize = QSize(int((*size)[5]), int((*size)[6]));
        f.maxSize = QSize(int((*size)[7]), int((*size)[8]));
    }
    return f;
}

enum class Icons { None, Close, CloseAndMinimise };

// A fixed single border: movable only, no maximise box, no resize handle,
// the border icons as given, and the size limits at the window's own size.
void expectFixedFrame(const QWidget &window, Icons icons, const char *what)
{
    SCOPED_TRACE(what);
    const Frame f = frameOf(window);
    ASSERT_TRUE(f.flags & kHasFunctions) << "the window manager may resize and close it";
    EXPECT_FALSE(f.functions & (kFuncAll | kFuncResize | kFuncMaximise)) << std::hex << f.functions;
    EXPECT_TRUE(f.hasMinSize && f.hasMaxSize && f.minSize == f.maxSize && f.maxSize == window.size())
        << "min " << f.minSize.width() << "x" << f.minSize.height() << ", max " << f.maxSize.width() << "x"
        << f.maxSize.height();
    ASSERT_TRUE(f.flags & kHasDecorations) << "the window manager draws its default icons";
    EXPECT_TRUE(f.decorations & kDecorTitle) << "no title bar";
    EXPECT_FALSE(f.decorations & (kDecorAll | kDecorResizeHandle | kDecorMaximise)) << std::hex << f.decorations;

    const bool close = icons != Icons::None;
    const bool minimise = icons == Icons::CloseAndMinimise;
    EXPECT_EQ(bool(f.functions & kFuncClose), close) << "close";
    EXPECT_EQ(bool(f.decorations & kDecorMenu), close) << "system menu";
    EXPECT_EQ(bool(f.functions & kFuncMinimise), minimise) << "minimise";
    EXPECT_EQ(bool(f.decorations & kDecorMinimise), minimise) << "minimise box";
}

class WindowFrames : public TestSupport::ConsoleTest {
protected:
    void SetUp() override
    {
        ConsoleTest::SetUp();
        ASSERT_NE(connection(), nullptr) << "not on an X server";
    }
};

TEST_F(WindowFrames, DialogsWithoutBorderIconsHaveNoCloseBox)
{
    const struct {
        const char *what;
        std::function<std::unique_ptr<QWidget>()> make;
    } dialogs[] = {
        {"progress dialog", [] { return std::make_unique<TDlProgForm>(nullptr, false); }},
        {"access-code query", [] { return std::make_unique<TStringQuery>(nullptr); }},
        {"memo dialog", [] { return std::make_unique<TTechMemoForm>(nullptr); }},
        {"options dialog", [] { return std::make_unique<TOptionsForm>(nullptr); }},
        {"about box", [] { return std::make_unique<TAboutBox>(nullptr); }},
        {"message box", [] { return std::make_unique<TMessageForm>(nullptr, "Please add some notes"); }},
    };
    for (const auto &d : dialogs) {
        const std::unique_ptr<QWidget> dialog = d.make();
        dialog->show();
        expectFixedFrame(*dialog, Icons::None, d.what);
    }
}

TEST_F(WindowFrames, PortDialogHasItsCloseBoxOnly)
{
    TSerConfigForm form;
    form.show();
    expectFixedFrame(form, Icons::Close, "port dialog");
}

TEST_F(WindowFrames, MainWindowAndSetupDialogHaveSystemMenuAndMinimiseBox)
{
    TZ960InterfaceForm main(nullptr, nullptr, "Com1", 1);
    main.show();
    expectFixedFrame(main, Icons::CloseAndMinimise, "main window");
    main.hide();

    ConfigTest::Dialog setup;
    setup.form->show();
    expectFixedFrame(*setup.form, Icons::CloseAndMinimise, "setup dialog");
}

// The upgrade and detector pages hide Save and Cancel; the frame stays.
TEST_F(WindowFrames, SetupDialogKeepsItsFrameOnEveryPage)
{
    ConfigTest::Dialog setup;
    TConfigForm &form = *setup.form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QSize client = form.size();
    const QSize frame = form.frameGeometry().size();

    for (QToolButton *page : {form.ConfigurationSB, form.CalibrationSB, form.BasicCalibrationSB, form.AccessSB,
                              form.ClearLogsSB, form.ResetTotalisersSB, form.Z640ConversionSB, form.DetectorSB,
                              form.ConfigurationSB}) {
        SCOPED_TRACE(page->objectName().toStdString());
        page->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(form.size(), client);
        EXPECT_EQ(form.frameGeometry().size(), frame);
        const Frame f = frameOf(form);
        EXPECT_EQ(f.minSize, client);
        EXPECT_EQ(f.maxSize, client);
        if (page == form.DetectorSB) {
            EXPECT_FALSE(form.SaveBtn->isVisible() || form.CancelBtn->isVisible()) << "the page shows Save and Cancel";
        }
    }
}

} // namespace
