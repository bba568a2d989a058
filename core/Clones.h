// Functions compiled for several instruction sets; the loader picks the widest one the
// processor runs, so one binary serves every x86-64 machine.
//
// The loader runs the resolver of a target_clones function before ThreadSanitizer is set
// up, and the sanitizer's instrumentation of it crashes the program: a TSan build gets
// one plain version.
#pragma once

#ifdef TANDEM_TSAN
#define TANDEM_CLONES(...)
#else
#define TANDEM_CLONES(...) __attribute__((target_clones(__VA_ARGS__, "default")))
#endif
