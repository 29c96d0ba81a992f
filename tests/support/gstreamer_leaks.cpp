// LeakSanitizer asks the program for its defaults before it reads LSAN_OPTIONS: a test binary
// that plays media links this file so the allocations GStreamer keeps for the life of the
// process stay out of its report (the file named here lists which).
extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0:suppressions=" BRENLOFT_GSTREAMER_LEAKS;
}
