#include "transferfunctionhistory.h"

#include <QLineF>

void TransferFunctionHistory::reset(const TransferFunction &function)
{
    states.assign(1, function);
    current = 0;
}

bool TransferFunctionHistory::record(const TransferFunction &function)
{
    if (!states.empty() && sameFunction(states[current], function))
        return false;
    if (!states.empty())
        states.erase(states.begin() + std::ptrdiff_t(current) + 1, states.end());
    states.push_back(function);
    while (states.size() > std::size_t(maximumSteps) + 1)
        states.pop_front();
    current = states.size() - 1;
    return true;
}

std::optional<TransferFunction> TransferFunctionHistory::undo()
{
    if (!canUndo())
        return std::nullopt;
    return states[--current];
}

std::optional<TransferFunction> TransferFunctionHistory::redo()
{
    if (!canRedo())
        return std::nullopt;
    return states[++current];
}

bool sameFunction(const TransferFunction &a, const TransferFunction &b)
{
    for (std::size_t c = 0; c < a.channels.size(); ++c) {
        const ChannelPoints &p = a.channels[c];
        const ChannelPoints &q = b.channels[c];
        if (p.locks != q.locks || p.points.size() != q.points.size())
            return false;
        for (int i = 0; i < p.points.size(); ++i)
            if (QLineF(p.points[i], q.points[i]).length() > 1e-9)
                return false;
    }
    return true;
}
