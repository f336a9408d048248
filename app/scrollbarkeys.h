#pragma once

#include <QObject>
#include <QPointer>

class QScrollBar;

// An event filter that turns the arrow and page keys a widget receives into
// steps of a scroll bar, so that a view without keys of its own moves
// through its slices the way its scroll bar does (and the scroll bar's own
// signals run). Up/Right step forward, Down/Left back, Page Up/Page Down a
// page. The scroll bar is observed, not owned.
class ScrollBarKeys : public QObject
{
public:
    ScrollBarKeys(QScrollBar *scrollBar, QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QScrollBar> scrollBar;
};
