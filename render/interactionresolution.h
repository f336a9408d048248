#pragma once

// How finely frames are drawn while the user drags (turns, pans, zooms or edits
// the transfer function): a frame that would take longer than the budget at
// full resolution is drawn with its width and height divided by 2 or 4 and
// scaled up, so that the picture follows the mouse; a full frame follows once
// the user has stopped for settleMilliseconds. Saving, batch frames and
// benchmarks always draw at full resolution.
struct InteractionResolution
{
    static constexpr double frameBudgetMilliseconds = 40.0;
    static constexpr int settleMilliseconds = 200;
    static constexpr int largestDivisor = 4;

    // The divisor (1, 2 or 4) for the next frame of a drag, from the time a
    // full-resolution frame is estimated to take (the last frame's time times
    // its divisor squared: the cost follows the pixel count) and the divisor in
    // use. The finest divisor whose frame fits the budget, or 4; a finer one
    // than the current only when it fits with a quarter to spare, so that
    // frames near the budget do not switch back and forth. A budget of 0 or
    // less always gives 4.
    static int divisorFor(double fullFrameMilliseconds, int currentDivisor,
                          double budgetMilliseconds = frameBudgetMilliseconds);
};
