#pragma once

#include "transferfunction.h"

#include <deque>
#include <optional>

// The functions a user went through, for undo and redo: a list of states with
// a current one. Recording a state that equals the current one (within
// sameFunction()) does nothing, so a resize of the strips or a repeated
// update does not add steps; recording after an undo drops the states that
// could have been redone. At most maximumSteps undo steps are kept; the
// oldest go first.
class TransferFunctionHistory
{
public:
    static constexpr int maximumSteps = 100;

    // Forgets everything; function becomes the only (current) state.
    void reset(const TransferFunction &function);

    // Makes function the current state unless it is the current one already.
    // Returns whether it was recorded.
    bool record(const TransferFunction &function);

    bool canUndo() const { return current > 0; }
    bool canRedo() const { return current + 1 < states.size(); }

    // Steps back or forward and returns the state now current; none (and no
    // step) when there is nothing to undo or redo.
    std::optional<TransferFunction> undo();
    std::optional<TransferFunction> redo();

    bool isEmpty() const { return states.empty(); }

private:
    std::deque<TransferFunction> states;
    std::size_t current = 0;
};

// Whether two functions have the same locks and points up to 1e-9 in the
// normalised coordinates: what the strips give back after a resize or a
// round trip through their pixels counts as the same function.
bool sameFunction(const TransferFunction &a, const TransferFunction &b);
