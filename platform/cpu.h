#pragma once
// What the processor tells about itself, for code that picks between two
// equivalent routines once at start.

namespace kv::platform {

// The family number of the processor's identification instruction (leaf 1,
// bits 8 to 11) on x86; 4 where there is no such instruction (other
// architectures, and x86 processors too old to have it), which stands for a
// processor that has a byte-swap instruction.
int ProcessorFamily();

}  // namespace kv::platform
