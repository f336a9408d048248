#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLabel;
class QStatusBar;

// The status bar's texts, told once and never at the window's cost: the data
// set's line in a permanent label that gives up width rather than widening
// the window (elided, the whole line in its tooltip) and steps aside while a
// message says the same; the whole of every message in the bar's tooltip and
// in a log the user can open ("Meldungen").
class StatusMessages : public QObject
{
    Q_OBJECT

public:
    // label is the data set's line; both belong to the window.
    StatusMessages(QStatusBar *bar, QLabel *dataSetLabel);

    void setDataSetLine(const QString &line);
    QString dataSetLine() const { return line; }
    // Every message shown so far, oldest first, each with its time.
    const QStringList &log() const { return messages; }

    // The text elided in its middle to width pixels of the label's font;
    // whole when it fits.
    static QString elided(const QLabel &label, const QString &text, int width);

private:
    void showLine();
    void messageChanged(const QString &message);

    QStatusBar *bar;
    QLabel *label;
    QString line;
    QStringList messages;
};
