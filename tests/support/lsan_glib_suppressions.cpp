// GLib, GStreamer and fontconfig keep process-wide tables (type system, plugin
// registry, thread pools, font configuration) that they never free; the leak checker
// is told to look past them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\n"
           "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n";
}
