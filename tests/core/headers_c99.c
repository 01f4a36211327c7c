/* tests/core/headers_c99.c - the public headers compile alone as strict C99 and keep their layout. */
#include "kelbase.h"
#include "keldc.h"
#include "kelch.h"

#include <stddef.h>

#define KEL_C_ASSERT(name, cond) typedef char name[(cond) ? 1 : -1]

KEL_C_ASSERT(version_size, sizeof(LibraryVersion) == 48);
KEL_C_ASSERT(version_name_offset, offsetof(LibraryVersion, name) == 24);
KEL_C_ASSERT(status_size, sizeof(KelStatus) == 4);

int main(void) {
    const LibraryVersion* v = keldcGetLibVersion();
    return (v->major == 2018 && kelchGetLibVersion()->build == 56444) ? 0 : 1;
}
