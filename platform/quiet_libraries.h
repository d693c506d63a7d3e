#pragma once
// The sound libraries talk on stderr whenever they probe a card or a server
// that is not there; a desktop program has no reader for that, and the
// failures themselves are handled where they happen.

namespace ondelith {

// Quiets ALSA's and JACK's error and information messages for the process.
// Idempotent; any thread, before the libraries are used.
void quietSoundLibraries();

}  // namespace ondelith
