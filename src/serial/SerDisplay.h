// A display control that a serial component tells of every event it
// dispatches. Concrete displays implement UpdateDisplay.
#pragma once

#include <QWidget>

class TSerDisplay : public QWidget {
    Q_OBJECT
public:
    explicit TSerDisplay(QWidget *parent = nullptr) : QWidget(parent) {}
    // Called on the dispatching thread with the component as AOwner.
    virtual void UpdateDisplay(QObject *AOwner) = 0;
};
