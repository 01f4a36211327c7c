/* tests/core/headers_c99.c - the public headers compile alone as strict C99 and keep their layout. */
#include "kelbase.h"
#include "keldc.h"
#include "kelch.h"
#include "kelstream.h"

#include <stddef.h>

#define KEL_C_ASSERT(name, cond) typedef char name[(cond) ? 1 : -1]

KEL_C_ASSERT(version_size, sizeof(LibraryVersion) == 48);
KEL_C_ASSERT(version_name_offset, offsetof(LibraryVersion, name) == 24);
KEL_C_ASSERT(status_size, sizeof(KelStatus) == 4);
/* C code passes these enums through int-sized fields and switch statements. */
KEL_C_ASSERT(stream_result_size, sizeof(KelStreamResult) == 4);
KEL_C_ASSERT(stream_format_size, sizeof(KelStreamFormat) == 4);

int main(void) {
    const LibraryVersion* v = keldcGetLibVersion();
    KelStreamOptions options;
    kelStreamDefaultOptions(&options);
    if (options.lz4BlockSizeId != 7 || options.contentSize != -1) return 1;
    return (v->major == 2018 && kelchGetLibVersion()->build == 56444) ? 0 : 1;
}
