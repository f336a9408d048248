#pragma once

#include <QColor>
#include <QLabel>

#include <functional>

// A colour swatch: a framed label that shows a colour as its background and its
// name ("#rrggbb") as text, and lets the user pick another colour with a mouse
// press on it.
class ColorLabel : public QLabel
{
    Q_OBJECT

public:
    // Asks the user for a colour; returns an invalid colour on cancel.
    using ColorPicker = std::function<QColor(const QColor &initial, QWidget *parent)>;

    explicit ColorLabel(QWidget *parent);

    QColor color() const { return labelColor; }

    // Shows and stores a valid colour; an invalid one changes nothing.
    void setColor(const QColor &color);

    // Replaces the colour dialog (tests install a scripted picker).
    void setColorPicker(ColorPicker picker);

signals:
    // After every press on the label, once the dialog has closed, also when the
    // user cancelled it.
    void editingFinished();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private slots:
    void setColor();

private:
    QColor labelColor; // invalid until the first valid colour is set
    ColorPicker colorPicker;
};
