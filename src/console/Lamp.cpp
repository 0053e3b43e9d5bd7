#include "console/Lamp.h"

#include <QPainter>

TLamp::TLamp(QWidget *parent) : QWidget(parent), brush_(0, 128, 0) {}

void TLamp::setBrushColor(const QColor &color)
{
    if (brush_ == color)
        return;
    brush_ = color;
    update();
}

void TLamp::showColor(const QColor &color)
{
    if (brush_ == color)
        return;
    brush_ = color;
    repaint();
}

void TLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brush_);
    const int d = qMin(width(), height()) - 2;
    painter.drawEllipse((width() - d) / 2, (height() - d) / 2, d, d);
}
