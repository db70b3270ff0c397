#include "platform/cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kv::platform {

int ProcessorFamily() {
#if defined(__i386__) || defined(__x86_64__)
  // __get_cpuid tests the identification flag itself on 32-bit processors.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return static_cast<int>((eax >> 8) & 0xF);
#endif
  return 4;
}

}  // namespace kv::platform
