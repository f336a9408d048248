#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// Where a slice view puts its image: zoom 1 fits the slice's physical extent
// into the widget, proportions kept and centred; pan moves it by widget
// pixels. Widget positions are in the widget's pixels, the physical size in
// mm.
struct SliceViewport
{
    static constexpr double minimumZoom = 0.25;
    static constexpr double maximumZoom = 64.0;

    double zoom = 1.0;
    QPointF pan;

    // The rectangle the whole slice image covers in the widget; empty when
    // either size is empty.
    QRectF imageRect(const QSizeF &widget, const QSizeF &physical) const;

    // The viewport zoomed by factor (the zoom kept in minimumZoom..maximumZoom)
    // so that the widget position anchor shows the same point of the slice
    // before and after.
    SliceViewport zoomedAbout(double factor, const QPointF &anchor, const QSizeF &widget,
                              const QSizeF &physical) const;

    bool operator==(const SliceViewport &other) const
    {
        return zoom == other.zoom && pan == other.pan;
    }
};
