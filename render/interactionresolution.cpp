#include "interactionresolution.h"

int InteractionResolution::divisorFor(double fullFrameMilliseconds, int currentDivisor,
                                      double budgetMilliseconds)
{
    for (int divisor = 1; divisor < largestDivisor; divisor *= 2) {
        const double estimate = fullFrameMilliseconds / (divisor * divisor);
        const double allowed =
            divisor < currentDivisor ? 0.75 * budgetMilliseconds : budgetMilliseconds;
        if (estimate <= allowed && budgetMilliseconds > 0.0)
            return divisor;
    }
    return largestDivisor;
}
