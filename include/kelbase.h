/* include/kelbase.h - status codes, element types and the version record shared by both kel libraries.
 *
 * Every kel function returns a KelStatus: 0 is success, negative values are errors (nothing, or only what the
 * function's documentation names, has been written), positive values are warnings whose result is still produced.
 * This header compiles as C99 and as C++.
 */
#ifndef KEL_KELBASE_H
#define KEL_KELBASE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ============================================================================================================
 * Element types. Function names carry them as suffixes: 8u, 16u, 32u, 16s, 32s, 32f, 64f, 16sc.
 * ============================================================================================================ */

typedef uint8_t Kel8u;
typedef uint16_t Kel16u;
typedef uint32_t Kel32u;
typedef int8_t Kel8s;
typedef int16_t Kel16s;
typedef int32_t Kel32s;
typedef uint64_t Kel64u;
typedef int64_t Kel64s;
typedef float Kel32f;
typedef double Kel64f;

/** A pair of signed 16-bit values (real, imaginary). */
typedef struct Kel16sc {
    Kel16s re;
    Kel16s im;
} Kel16sc;

/* ============================================================================================================
 * Status codes
 * ============================================================================================================ */

/** Result of every function that can fail: 0 success, < 0 error, > 0 warning. */
typedef int32_t KelStatus;

enum KelStatusCode {
    /** Warning: the work budget of the two-stage BWT sort ran out; no transform was produced. */
    kelStatusSortLimitReached = 47,
    /** Warning: the destination filled before the source was used up (call again with more room). */
    kelStatusDstFull = 33,
    /** Warning: the source ran out before the coded section or block ended (call again with more source). */
    kelStatusSrcExhausted = 32,
    /** Warning: a piece of a split string was longer than its destination buffer and was cut to its length. */
    kelStatusSplitPieceTruncated = 27,
    /** Warning: the source holds more pieces than destination buffers were given; those that fit were written. */
    kelStatusSplitMorePieces = 26,
    /** Warning: the match-record array was too small for all group records; the records that fit were written. */
    kelStatusRegExpGroupsTruncated = 12,
    /** Success. */
    kelStatusOk = 0,
    /** The Deflate fastest-path codes could not be kept within 15/9 bits; the codes are still written. */
    kelStatusCodeLengthLimit = -1,
    /** A consistency check failed (for example a table that must sum to a given size does not). */
    kelStatusError = -2,
    /** An argument value lies outside its allowed set or range (not a size). */
    kelStatusBadArgument = -5,
    /** A length or size argument is zero, negative or too small. */
    kelStatusBadSize = -6,
    /** An argument value lies outside its allowed range (regular-expression format selector). */
    kelStatusOutOfRange = -7,
    /** A required pointer argument is null. */
    kelStatusNullPointer = -8,
    /** Compressed data would run past the end of the source or the destination. */
    kelStatusStreamOverrun = -9,
    /** The requested mode is not supported. */
    kelStatusNotSupportedMode = -14,
    /** A string length (or match limit) argument is negative. */
    kelStatusBadLength = -15,
    /** Pattern error: malformed escape. */
    kelStatusRegExpBadEscape = -183,
    /** Pattern error in a character class. */
    kelStatusRegExpBadClass = -184,
    /** Pattern error: a back-reference or condition names a group that does not exist. */
    kelStatusRegExpBadReference = -185,
    /** Pattern error in parentheses. */
    kelStatusRegExpBadGroup = -186,
    /** Pattern error in a quantifier. */
    kelStatusRegExpBadQuantifier = -187,
    /** The match limit was exhausted during a search. */
    kelStatusRegExpMatchLimit = -188,
    /** The regular-expression state block was not prepared by its initialisation function. */
    kelStatusRegExpBadState = -189,
    /** Unknown letter in the option string of the pattern compiler. */
    kelStatusRegExpBadOption = -190,
    /** Compressed data or a code-length set is invalid. */
    kelStatusBadStream = -200,
    /** An LZO stream is malformed or runs past the source, the destination or the start of the output. */
    kelStatusLZOBrokenStream = -214
};

/* ============================================================================================================
 * Version record
 * ============================================================================================================ */

/** Identity of one library; one constant instance per library, returned by its GetLibVersion function. */
typedef struct LibraryVersion {
    Kel32s major;         /**< 2018 */
    Kel32s minor;         /**< 0 */
    Kel32s update;        /**< 0 */
    Kel32s build;         /**< 56444 */
    char targetCpu[4];    /**< "n8" followed by two zero bytes */
    const char* name;      /**< "kelDC Quor (n8)" or "kelCH Quor (n8)" */
    const char* version;   /**< "2018.0.0 (r56444)" */
    const char* buildDate; /**< "Jul 24 2017" */
} LibraryVersion;

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELBASE_H */
