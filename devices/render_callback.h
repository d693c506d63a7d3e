#pragma once
// The engine behind a PortAudio output stream.

#include <portaudio.h>

namespace ondelith {

// PortAudio's stream callback; userData is the Engine. It fills the mono
// float32 buffer and always continues: stopping is the audio output's business.
int renderCallback(const void* input, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                   void* userData);

}  // namespace ondelith
