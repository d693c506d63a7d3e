#include "platform/quiet_libraries.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace ondelith {

namespace {
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}
}  // namespace

void quietSoundLibraries() {
  snd_lib_error_set_handler(quietAlsa);
  jack_set_error_function(quietJack);
  jack_set_info_function(quietJack);
}

}  // namespace ondelith
