// A tiny library for the loader tests to load.
extern "C" __attribute__((visibility("default"))) int ProbeAnswer(int x) { return x * 2 + 1; }
