#include "eventhook.h"

EventHook::EventHook(QObject *watched, Handler eventHandler)
    : QObject(watched), handler(std::move(eventHandler))
{
    watched->installEventFilter(this);
}

bool EventHook::eventFilter(QObject *, QEvent *event)
{
    return handler(event);
}
