#include "statusmessages.h"

#include "eventhook.h"

#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QStatusBar>

namespace {

// Enough for a long session; the oldest go first.
constexpr int maximumLogLines = 500;

} // namespace

StatusMessages::StatusMessages(QStatusBar *statusBar, QLabel *dataSetLabel)
    : QObject(statusBar), bar(statusBar), label(dataSetLabel)
{
    // A label asks for its whole text's width: a long line would widen the
    // window past the screen (and that size would be saved). It gets at most
    // two fifths of the bar, the rest is the messages'.
    // Its text never sets the bar's (and so the window's) minimum width: the
    // label takes what the bar gives, up to the two fifths.
    label->setSizePolicy(QSizePolicy::Ignored, label->sizePolicy().verticalPolicy());
    connect(bar, &QStatusBar::messageChanged, this, &StatusMessages::messageChanged);
    new EventHook(bar, [this](QEvent *event) {
        if (event->type() == QEvent::Resize)
            showLine();
        return false;
    });
}

void StatusMessages::setDataSetLine(const QString &text)
{
    line = text;
    showLine();
}

QString StatusMessages::elided(const QLabel &shown, const QString &text, int width)
{
    return shown.fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(width, 0));
}

void StatusMessages::showLine()
{
    // While a message says the same (the load's own line), the label is
    // empty: the bar tells it once.
    const QString message = bar->currentMessage();
    const bool repeated = !line.isEmpty() && !message.isEmpty() && message.startsWith(line);
    const QString shown = repeated ? QString() : line;
    const int width = bar->width() * 2 / 5;
    label->setMaximumWidth(width);
    label->setToolTip(shown);
    label->setText(elided(*label, shown, width - 2 * label->margin() - 4));
}

void StatusMessages::messageChanged(const QString &message)
{
    bar->setToolTip(message);
    if (!message.isEmpty()) {
        messages.append(QDateTime::currentDateTime().toString("HH:mm:ss  ") + message);
        while (messages.size() > maximumLogLines)
            messages.removeFirst();
    }
    showLine();
}
