/* A library in the runtime's place that lacks its entry point. */
int velmoraFakeRuntimeMarker(void) { return 1; }
