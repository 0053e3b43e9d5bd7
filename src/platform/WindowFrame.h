// The frames of the program's windows: which border icons the window
// manager is asked to draw, and where a window opens.
//
// Every framed window here has a single fixed border: a title bar, no
// resizing and no maximise box. Its style names the border icons it has.
// Qt's window flags cannot say "title bar without any icon" or "not
// resizable" to an X11 window manager exactly (they always allow resizing,
// and drop the decorations that name the title), so on X11 the Motif hints
// are written again, exactly, each time the window is shown. Window managers
// that follow the hints draw the frame as asked; some (openbox) draw their
// own set of icons on every titled window and only refuse what the hints and
// the fixed size forbid.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>

class QWidget;

namespace Platform {

enum class FrameStyle {
    NoIcons,          // title only: no system menu, close, minimise or maximise box
    SystemMenu,       // system menu and its close box
    SystemMenuMinimise, // system menu, close box and minimise box
};

// The Motif window-manager hints (the _MOTIF_WM_HINTS property's first three
// values) and their bits.
struct MotifHints {
    uint32_t flags = 0;
    uint32_t functions = 0;
    uint32_t decorations = 0;

    static constexpr uint32_t HasFunctions = 1, HasDecorations = 2;
    static constexpr uint32_t FuncAll = 1, FuncResize = 2, FuncMove = 4, FuncMinimise = 8, FuncMaximise = 16,
                              FuncClose = 32;
    static constexpr uint32_t DecorAll = 1, DecorBorder = 2, DecorResizeHandle = 4, DecorTitle = 8, DecorMenu = 16,
                              DecorMinimise = 32, DecorMaximise = 64;
};

MotifHints motifHintsFor(FrameStyle style);

// Gives a top-level window the frame of `style`: the matching window flags
// (the window type and "stay on top" are kept) and, on X11, the exact hints
// whenever it is shown. Call it before the window is first shown; its fixed
// size is the caller's (setFixedSize or a fixed-size layout).
void setFrameStyle(QWidget &window, FrameStyle style);

// Places a top-level window so that its frame is centred on the available
// area of its screen. Before the window manager has framed the window, the
// frame of another framed window of the program stands in for its own.
void centreOnScreen(QWidget &window);

// Places a top-level window so that its frame is centred on `owner`'s frame,
// with the same stand-in for a frame not drawn yet. Halves are truncated as
// in centredFrameOrigin, so that centring the owner back on the window puts
// the owner exactly where it was.
void centreOnFrame(QWidget &window, const QWidget &owner);

// False while the window manager has framed other windows of the program but
// not yet this one: until then its frame's place is not known, and a window
// centred beneath it by that place would be put off by the frame's height.
bool frameKnown(const QWidget &window);

// Where a frame of `frameSize` goes to be centred on `area`: area's left
// (top) + half its width (height) - half the frame's, halves truncated.
QPoint centredFrameOrigin(const QSize &frameSize, const QRect &area);

} // namespace Platform
