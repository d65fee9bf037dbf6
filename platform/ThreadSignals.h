#pragma once

namespace pelbrisk {

// Called first on each thread of the player and of the sound devices. Signals meant for the
// process (Ctrl+C, a stop or suspend from the shell, a terminal resize) then reach the program's
// own threads, which wait for them where they can act on them at once, and never a thread that
// sleeps in a wait of the sound's own: a thread checker holds a signal back until such a wait
// ends, which on a stalled input is never.
void KeepProcessSignalsAway();

} // namespace pelbrisk
