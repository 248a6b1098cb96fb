// The stack protector's guard value and failure handler for the mingw-w64
// build, in place of libssp's.
//
// libssp seeds its guard in a static constructor with CryptAcquireContext and
// CryptGenRandom. That loads a cryptographic provider, and the DLLs it pulls
// in, before wmain has restricted DLL loading to System32: a crypt32.dll
// planted beside the exe was loaded that way under Wine. This seed loads
// nothing. Like the Visual C++ runtime's security cookie, it mixes the time,
// the performance counter, the process and thread ids and addresses that
// ASLR moves, all of which kernel32 (already mapped) provides.
//
// This file is compiled without the stack protector: the guard changes while
// the seeding runs. It runs among the static initializers, when no function
// that checks the guard is on the stack.
#include <windows.h>

#include <cstdint>

extern "C" {
// The names and types the compiler's -fstack-protector code refers to.
uintptr_t __stack_chk_guard = 0;
[[noreturn]] void __stack_chk_fail();
}

namespace {

uint64_t Mix(uint64_t x) {
  // SplitMix64's finalizer: every input bit reaches every output bit.
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

bool SeedStackGuard() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  uint64_t seed = Mix((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
  seed = Mix(seed ^ static_cast<uint64_t>(counter.QuadPart));
  seed = Mix(seed ^ ((uint64_t{::GetCurrentProcessId()} << 32) |
                     ::GetCurrentThreadId()));
  seed = Mix(seed ^ reinterpret_cast<uintptr_t>(&now));
  seed = Mix(seed ^ reinterpret_cast<uintptr_t>(&__stack_chk_guard));
  // Never the all-zero value the guard starts with.
  __stack_chk_guard = static_cast<uintptr_t>(seed | 1);
  return true;
}

[[maybe_unused]] const bool kStackGuardSeeded = SeedStackGuard();

}  // namespace

void __stack_chk_fail() {
  // The stack is not to be trusted: no unwinding, no message, no dialog
  // that could hold an installer up. STATUS_STACK_BUFFER_OVERRUN is the
  // code Windows gives a process whose security cookie check failed.
  ::TerminateProcess(::GetCurrentProcess(), 0xC0000409u);
  for (;;) {
  }
}
