#include "orientationoverlay.h"

#include <QEvent>
#include <QFont>
#include <QPainter>

#include <utility>

namespace {

// Pixels between a letter and its edge.
constexpr int edgeMargin = 6;

} // namespace

OrientationOverlay::OrientationOverlay(QWidget *covered) : QWidget(covered)
{
    setObjectName("orientationOverlay");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(covered->rect());
    covered->installEventFilter(this);
}

void OrientationOverlay::setLetters(const OrientationLetters &letters)
{
    if (letters == shown)
        return;
    shown = letters;
    update();
}

bool OrientationOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void OrientationOverlay::paintEvent(QPaintEvent *)
{
    if (shown.isEmpty())
        return;
    QPainter painter(this);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    const QRect area = rect().adjusted(edgeMargin, edgeMargin, -edgeMargin, -edgeMargin);
    const std::pair<const QString *, int> placed[] = {
        {&shown.left, Qt::AlignLeft | Qt::AlignVCenter},
        {&shown.right, Qt::AlignRight | Qt::AlignVCenter},
        {&shown.top, Qt::AlignTop | Qt::AlignHCenter},
        {&shown.bottom, Qt::AlignBottom | Qt::AlignHCenter}};
    // A dark shadow keeps the letters legible over bright tissue as well as
    // over the black background.
    for (const auto &[text, alignment] : placed) {
        painter.setPen(Qt::black);
        painter.drawText(area.translated(1, 1), alignment, *text);
        painter.setPen(QColor(255, 220, 90));
        painter.drawText(area, alignment, *text);
    }
}
