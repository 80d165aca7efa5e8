// Fontconfig keeps a cache allocated for the life of the process; the leak checker reports it at
// exit once Qt has loaded fonts. Nothing of ours is hidden by this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
