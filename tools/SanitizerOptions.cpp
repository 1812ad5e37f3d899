// Built into every program of a sanitized build (`make check`): the options its sanitizers
// start with, wherever and however it is run.

extern "C" {

const char* __asan_default_options() {
  return "detect_leaks=1:detect_stack_use_after_return=1";
}

const char* __lsan_default_options() {
  return "print_suppressions=0";
}

// The lines of tests/sanitizer.supp, without their comments.
const char* __lsan_default_suppressions() {
  return VENDREL_LSAN_SUPPRESSIONS;
}

const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1";
}
}
