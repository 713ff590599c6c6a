// SPDX-License-Identifier: GPL-3.0-or-later
// The system font-configuration library keeps a small cache from the first text render for
// the whole process and never frees it; the leak checker of sanitizer builds would report it
// at exit. Only that library is exempted.

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
