// A library that carries resources and nothing else of interest.
extern "C" __attribute__((visibility("default"))) int PresselRsrcProbe() { return 7; }
