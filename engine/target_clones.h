#pragma once
// Functions whose loops gain from wider vectors are built for several
// targets and chosen as the program starts. Builds under tools that do not
// follow the dispatch (the sanitizers) turn it off.

#ifdef ONDELITH_NO_TARGET_CLONES
#define ONDELITH_CLONES
#else
#define ONDELITH_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
