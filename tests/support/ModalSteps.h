// Steps that run inside the event loop of whatever window is modal at the
// time: for driving dialogs that block their caller until they close.
//
//   when(&main, [] { return modalDialog<QMessageBox>() != nullptr; },
//        [] { modalDialog<QMessageBox>()->accept(); });
//   main.SomethingThatAsks(); // returns once the box has been answered
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace TestSupport {

// Runs `action` once `ready` holds, from the event loop that is running then
// (a modal dialog's own, for instance). The wait dies with `context`.
inline void when(QObject *context, std::function<bool()> ready, std::function<void()> action)
{
    auto *timer = new QTimer(context);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, context, [timer, ready = std::move(ready), action = std::move(action)] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

// The modal dialog on top when it is of this type and shown, else null.
template <typename Dialog>
Dialog *modalDialog()
{
    auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
    return dialog && dialog->isVisible() ? dialog : nullptr;
}

} // namespace TestSupport
