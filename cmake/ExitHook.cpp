// SPDX-License-Identifier: Apache-2.0
// Linked, with -Wl,--wrap=_Exit, into the programs of the AddressSanitizer and
// coverage builds only. The programs end through _Exit, which skips what those
// builds do at exit: the leak check, and writing out gcov's counters. Here that
// is done first, and then the process ends as asked. A leak ends the process
// with LeakSanitizer's report and its exit status instead.

// The names below are fixed by the linker's --wrap and by the runtimes.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {

[[noreturn]] void __real__Exit(int status);

#if defined(VXM_EXIT_LEAK_CHECK)
void __lsan_do_leak_check();
#endif
#if defined(VXM_EXIT_COVERAGE_DUMP)
void __gcov_dump();
#endif

[[noreturn]] void __wrap__Exit(int status) {
#if defined(VXM_EXIT_LEAK_CHECK)
    __lsan_do_leak_check();
#endif
#if defined(VXM_EXIT_COVERAGE_DUMP)
    __gcov_dump();
#endif
    __real__Exit(status);
}

}  // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
