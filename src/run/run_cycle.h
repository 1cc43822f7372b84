// One selection-and-send cycle of the ordinary run.
#pragma once

namespace postrix {

class Settings;
class Utilities;

// Selects what is due and sends it, front to back, in the order selected
// (dashboards last); then writes "Finished." to the run log. A favourite
// that fails is logged by its own send and the next one goes on.
void runCycle(Settings& settings, Utilities& utilities);

}  // namespace postrix
