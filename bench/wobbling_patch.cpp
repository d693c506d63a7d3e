// Prints the plugin benchmarks' wobbling patch as a patch file, so the
// whole-process benchmark renders the very voice they play.
#include <iostream>

#include "bench/plugin_bench_support.h"
#include "instrument/patch_format.h"

int main() {
  std::cout << ondelith::formatPatch(ondelith::benchsupport::wobblingPatch());
  return 0;
}
