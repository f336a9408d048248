#pragma once

#include <QObject>

#include <functional>

class QEvent;

// Lets the window act on another object's events (its own close and drop
// events, the strips' hover and double clicks) without overriding that
// object's event functions. The handler returns true to stop the event.
class EventHook : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<bool(QEvent *event)>;

    // Watches watched (which also becomes the hook's parent) until either goes.
    EventHook(QObject *watched, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler handler;
};
