#include "platform/KeyPressFilter.h"

#include <QKeyEvent>
#include <QWidget>

namespace Platform {

KeyPressFilter::KeyPressFilter(QWidget *widget, Handler handler)
    : QObject(widget), m_handler(std::move(handler))
{
}

KeyPressFilter *KeyPressFilter::install(QWidget *widget, Handler handler)
{
    auto *filter = new KeyPressFilter(widget, std::move(handler));
    widget->installEventFilter(filter);
    return filter;
}

QChar KeyPressFilter::typedCharacter(const QKeyEvent &event)
{
    switch (event.key()) {
    case Qt::Key_Backspace: return QChar(8);
    case Qt::Key_Return:
    case Qt::Key_Enter: return QChar(13);
    case Qt::Key_Delete: return QChar(0);
    default: break;
    }
    const QString text = event.text();
    if (text.isEmpty() || text[0] == QChar(0x7f))
        return QChar(0);
    return text[0];
}

bool KeyPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && m_handler) {
        const QChar key = typedCharacter(*static_cast<QKeyEvent *>(event));
        if (!key.isNull() && !m_handler(key))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Platform
