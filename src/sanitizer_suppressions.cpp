// Linked into the sanitizer build of the executable only. Samba's client
// libraries keep a talloc context for the life of the process on purpose;
// the leak checker must not call that a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n";
}
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}
