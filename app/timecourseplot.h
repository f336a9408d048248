#pragma once

#include <QWidget>

#include <vector>

// A small plot of one voxel's file values over the volumes of a series, with
// the shown volume marked: how MR and PET readers judge a time course at a
// glance. Values that are not finite leave a gap.
class TimeCoursePlot : public QWidget
{
    Q_OBJECT

public:
    explicit TimeCoursePlot(QWidget *parent = nullptr);

    void setCourse(std::vector<double> values, int current);
    const std::vector<double> &course() const { return values; }
    int current() const { return shown; }

    QSize sizeHint() const override { return QSize(180, 44); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<double> values;
    int shown = 0;
};
