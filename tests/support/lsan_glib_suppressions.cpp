// GLib, GStreamer, the font and text libraries and the X11 libraries keep process-wide
// tables (type system, plugin registry, thread pools, font lists, shaping plans) that
// they never free; the leak checker is told to look past them. So do the
// libraries that GStreamer's plugins pull in when the registry loads them
// (the SRT library allocates a process-wide table as it loads).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\n"
           "leak:libsrt-gnutls.so\n"
           "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n"
           "leak:libcairo.so\n"
           "leak:libX11.so\n"
           "leak:libXext.so\n"
           "leak:libXcursor.so\n"
           "leak:libXi.so\n"
           "leak:libXrandr.so\n"
           "leak:libxkbcommon.so\n"
           "leak:libwayland-client.so\n"
           "leak:libdecor-0.so\n"
           "leak:libSDL2-2.0.so\n"
           "leak:libdbus-1.so\n";
}

// Which suppressions matched is not a finding: it stays off standard error,
// which the program's tests read line by line.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
