// src/core/export_frame.h - turns a library's export list into entries, slots and implementation declarations.
//
// Every exported function exists three times: the exported entry `name`, a writable pointer slot `name_arraddr`
// initialised at link time to the implementation, and the hidden implementation `n8_name`. The entry is a single
// indirect jump through the slot, so arguments, stack and return address reach the implementation untouched and
// its result is the entry's result, whatever the signature. The implementation and the slot are declared with
// `decltype` of the public declaration, so the compiler rejects any implementation whose signature differs from
// the header's (a C-linkage function cannot be overloaded).
#pragma once

#define KEL_HIDDEN __attribute__((visibility("hidden")))

// Declares the implementation `n8_<name>` with exactly the public declaration's type.
#define KEL_DECLARE_IMPL(name) extern "C" KEL_HIDDEN decltype(::name) n8_##name;

// Defines the slot in initialised, writable data. Only the entry reads it (from assembly, hence `used`).
#define KEL_DEFINE_SLOT(name) \
    extern "C" {                \
    KEL_HIDDEN __attribute__((used)) decltype(&::name) name##_arraddr = &n8_##name; \
    }

// Defines the exported entry as a tail jump through the slot. The slot is hidden, so the RIP-relative load needs
// no GOT indirection; the symbol's binding to the outside world is decided by the linker version script.
#define KEL_DEFINE_ENTRY(name)                  \
    __asm__(".text\n\t"                         \
            ".globl " #name "\n\t"              \
            ".type " #name ", @function\n\t"    \
            ".p2align 4\n" #name ":\n\t"        \
            "jmp *" #name "_arraddr(%rip)\n\t"  \
            ".size " #name ", . - " #name "\n\t");
