#pragma once

#include <QWidget>

class VolumeRenderer;

// A transparent child laid over the renderer that draws on its frame
// (the cursor, the measurements): it never enters the framebuffer, so saved
// images and grabbed frames stay as they are; it follows the renderer's size
// and repaints after each of its paints (the frame may have turned, zoomed
// or panned) while it has something to draw. Lets every mouse event
// through.
class RendererOverlay : public QWidget
{
public:
    RendererOverlay(VolumeRenderer *renderer, const char *objectName);

protected:
    // Whether there is anything to draw: the overlay repaints with the
    // renderer only then.
    virtual bool hasContent() const = 0;
    bool eventFilter(QObject *watched, QEvent *event) override;

    VolumeRenderer *renderer;
};
