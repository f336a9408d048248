#include "colorlabel.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPalette>

ColorLabel::ColorLabel(QWidget *parent) : QLabel(parent)
{
    setFrameShape(QFrame::StyledPanel);
    colorPicker = [](const QColor &initial, QWidget *dialogParent) {
        return QColorDialog::getColor(initial, dialogParent);
    };
}

void ColorLabel::setColor(const QColor &color)
{
    if (!color.isValid())
        return;
    setText(color.name());
    setPalette(QPalette(color));
    setAutoFillBackground(true);
    labelColor = color;
}

void ColorLabel::setColorPicker(ColorPicker picker)
{
    colorPicker = std::move(picker);
}

void ColorLabel::setColor()
{
    // The dialog always opens on green, whatever the swatch shows.
    setColor(colorPicker(QColor(Qt::green), this));
}

void ColorLabel::mousePressEvent(QMouseEvent *event)
{
    setColor();
    event->accept();
    emit editingFinished();
}
