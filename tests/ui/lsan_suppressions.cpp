// Fontconfig, Pango, HarfBuzz and GLib keep process-wide caches (font lists,
// shaping plans, the type system) that they never free; the leak checker is
// told to look past them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libpango-1.0.so\n"
         "leak:libpangoft2-1.0.so\n"
         "leak:libpangocairo-1.0.so\n"
         "leak:libharfbuzz.so\n"
         "leak:libfreetype.so\n"
         "leak:libcairo.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n";
}
