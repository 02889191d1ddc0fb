#pragma once

namespace scrivane::platform {

// Readies the heap for a conversion that may use many megabytes: one heap for
// every thread, grown at once by 16 MB of address space, kept rather than
// given back while the process runs, and backed by huge pages where the system
// lends them on request (blocks of a megabyte and more keep mappings of their
// own). A large conversion otherwise touches thousands of fresh small pages,
// each a trap into the kernel that costs several microseconds (ten under some
// hypervisors). Does nothing where the C library or the system
// cannot do this. To be called once, before other threads start.
void PrepareHeapForConversion();

}  // namespace scrivane::platform
