// Sees every character typed into a widget before the widget does, so a
// field can refuse characters without a validator (which would also hide a
// field's error colouring). Backspace arrives as 8 and Enter as 13; keys
// that type no character (arrows, Delete, function keys) are not shown to the
// handler and reach the widget unchanged. The handler returns false to
// discard the character.
#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

namespace Platform {

class KeyPressFilter : public QObject {
public:
    using Handler = std::function<bool(QChar key)>;

    // Installs a filter owned by the widget.
    static KeyPressFilter *install(QWidget *widget, Handler handler);

    // The character a key event types, or nothing (QChar(0)) for keys that type none.
    static QChar typedCharacter(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KeyPressFilter(QWidget *widget, Handler handler);
    Handler m_handler;
};

} // namespace Platform
