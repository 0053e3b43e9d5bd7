#include "platform/WindowFrame.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#include <cstdlib>
#include <cstring>
#endif

namespace Platform {

namespace {

using H = MotifHints;

Qt::WindowFlags flagsFor(FrameStyle style)
{
    const Qt::WindowFlags titleOnly =
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    switch (style) {
    case FrameStyle::NoIcons: break;
    case FrameStyle::SystemMenu: return titleOnly | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    case FrameStyle::SystemMenuMinimise:
        return titleOnly | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint;
    }
    return titleOnly;
}

#if QT_CONFIG(xcb)
xcb_atom_t motifHintsAtom(xcb_connection_t *connection)
{
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}
#endif

// Writes the hints onto the window's X11 window; nothing on other platforms.
void writeMotifHints(QWidget &window, const MotifHints &hints)
{
#if QT_CONFIG(xcb)
    // Only the xcb platform's windows are X11 windows (the offscreen one may
    // still answer for an X11 interface).
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window.internalWinId())
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_atom_t atom = motifHintsAtom(connection);
    if (atom == XCB_ATOM_NONE)
        return;
    const uint32_t data[5] = {hints.flags, hints.functions, hints.decorations, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window.internalWinId()), atom, atom, 32, 5,
                        data);
    xcb_flush(connection);
#else
    (void)window;
    (void)hints;
#endif
}

// Qt writes its own hints when it creates the native window; the window's
// show event comes after that and before the window is mapped, which is
// when the window manager reads them.
class FrameHintsWriter : public QObject {
public:
    FrameHintsWriter(QWidget &window, const MotifHints &hints) : QObject(&window), hints_(hints) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched == parent())
            writeMotifHints(*static_cast<QWidget *>(watched), hints_);
        return false;
    }

private:
    MotifHints hints_;
};

QMargins frameMarginsOf(const QWidget &window)
{
    const QRect inner = window.geometry();
    const QRect outer = window.frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// The window's frame margins, or those of another framed window of the
// program while the window manager has not framed this one yet.
QMargins frameMarginsOrStandIn(const QWidget &window)
{
    const QMargins own = frameMarginsOf(window);
    if (!own.isNull())
        return own;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other != &window && other->isVisible() && !frameMarginsOf(*other).isNull())
            return frameMarginsOf(*other);
    }
    return own;
}

void placeFrameCentredOn(QWidget &window, const QRect &area)
{
    // A window not shown yet takes the size of its layout only when shown.
    if (window.layout())
        window.layout()->activate();
    const QMargins margins = frameMarginsOrStandIn(window);
    const QPoint origin = centredFrameOrigin(window.size().grownBy(margins), area);
    window.setGeometry(QRect(origin + QPoint(margins.left(), margins.top()), window.size()));
}

} // namespace

MotifHints motifHintsFor(FrameStyle style)
{
    // Fixed borders: movable, never resizable or maximisable, no resize handle.
    MotifHints hints;
    hints.flags = H::HasFunctions | H::HasDecorations;
    hints.functions = H::FuncMove;
    hints.decorations = H::DecorBorder | H::DecorTitle;
    if (style != FrameStyle::NoIcons) {
        hints.functions |= H::FuncClose;
        hints.decorations |= H::DecorMenu;
    }
    if (style == FrameStyle::SystemMenuMinimise) {
        hints.functions |= H::FuncMinimise;
        hints.decorations |= H::DecorMinimise;
    }
    return hints;
}

void setFrameStyle(QWidget &window, FrameStyle style)
{
    const Qt::WindowFlags kept = window.windowFlags() & (Qt::WindowType_Mask | Qt::WindowStaysOnTopHint);
    window.setWindowFlags(kept | flagsFor(style));
    for (QObject *child : window.children()) {
        if (auto *old = dynamic_cast<FrameHintsWriter *>(child)) {
            window.removeEventFilter(old);
            delete old;
        }
    }
    window.installEventFilter(new FrameHintsWriter(window, motifHintsFor(style)));
}

bool frameKnown(const QWidget &window)
{
    return !frameMarginsOf(window).isNull() || frameMarginsOrStandIn(window).isNull();
}

QPoint centredFrameOrigin(const QSize &frameSize, const QRect &area)
{
    return {area.left() + area.width() / 2 - frameSize.width() / 2,
            area.top() + area.height() / 2 - frameSize.height() / 2};
}

void centreOnScreen(QWidget &window)
{
    const QScreen *screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen)
        placeFrameCentredOn(window, screen->availableGeometry());
}

void centreOnFrame(QWidget &window, const QWidget &owner)
{
    placeFrameCentredOn(window, owner.frameGeometry());
}

} // namespace Platform
