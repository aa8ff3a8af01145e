#pragma once
// The check every front end's integration gets before it starts: the times
// it will pass through stay finite and are advanced by its steps.

namespace odefit {

// Throws InvalidArgument, saying why, unless every time from tFirst to tLast
// is finite and advanced by a step of h and by a sampling interval of dt.
void CheckTimes(double tFirst, double tLast, double dt, double h);

}  // namespace odefit
