// A small round lamp (the receive and send activity lamps of the main window).
#pragma once

#include <QColor>
#include <QWidget>

class TLamp : public QWidget {
    Q_OBJECT
public:
    explicit TLamp(QWidget *parent = nullptr);

    QColor brushColor() const { return brush_; }
    void setBrushColor(const QColor &color);
    // Sets the colour and repaints at once; the colour already shown draws nothing.
    void showColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor brush_;
};
