#pragma once

#include "patientorientation.h"

#include <QWidget>

class QEvent;
class QObject;
class QPaintEvent;

// The orientation letters drawn over the rendering: a transparent child that
// covers its parent (the renderer) and follows its size, so that the letters
// never enter the renderer's framebuffer (saved images and grabbed frames stay
// as they are). It lets every mouse event through to the renderer.
class OrientationOverlay : public QWidget
{
    Q_OBJECT

public:
    // A child of covered, laid over all of it.
    explicit OrientationOverlay(QWidget *covered);

    // The letters at the left, right, top and bottom edges; empty ones show
    // nothing. Repaints when they change.
    void setLetters(const OrientationLetters &letters);
    const OrientationLetters &letters() const { return shown; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    OrientationLetters shown;
};
