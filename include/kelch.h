/* include/kelch.h - the functions of libkelchn8, the string-processing library.
 *
 * Byte-string search, comparison, hashing and editing, UTF-8/UTF-16 conversion and a backtracking regular-expression
 * engine for UTF-8 text. The library opens no files, allocates no memory and keeps no mutable global state; all
 * functions are thread-safe as long as concurrent calls share no output buffer and no state block.
 * Declarations are grouped by family in export order. This header compiles as C99 and as C++.
 */
#ifndef KEL_KELCH_H
#define KEL_KELCH_H

#include "kelbase.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ============================================================================================================
 * Version
 * ============================================================================================================ */

/**
 * kelchGetLibVersion - identity of libkelchn8.
 *
 * @return pointer to the library's constant version record (major 2018, build 56444, targetCpu "n8",
 *         name "kelCH Quor (n8)"); the same pointer on every call. Never fails. Do not write through it or free it.
 */
const LibraryVersion* kelchGetLibVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELCH_H */
