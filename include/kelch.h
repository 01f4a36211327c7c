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

/* ============================================================================================================
 * Search
 *
 * Find a pattern, a byte or any byte of a set in a byte string, forward (first occurrence) or backward (last
 * occurrence), on counted strings or on NUL-terminated ones (_Z). A missing match is a result, not an error:
 * *pIndex = -1 with kelStatusOk. Comparisons are exact (no case folding). The source is only read, never beyond
 * its length; no alignment is needed. On an error *pIndex is left unchanged.
 * ============================================================================================================ */

/**
 * kelsFind_8u - first occurrence of a byte pattern.
 *
 * @param[in]  pSrc    source bytes
 * @param[in]  srcLen  source length in bytes
 * @param[in]  pFind   pattern bytes
 * @param[in]  findLen pattern length in bytes
 * @param[out] pIndex  the smallest position p with pSrc[p .. p + findLen - 1] equal to the pattern; -1 when findLen
 *                     is 0 (an empty pattern is never found), when findLen > srcLen, or when there is none
 * @return kelStatusNullPointer if pSrc, pFind or pIndex is null; kelStatusBadLength if srcLen or findLen is
 *         negative; otherwise kelStatusOk.
 */
KelStatus kelsFind_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pFind, int findLen, int* pIndex);

/**
 * kelsFindRev_8u - last occurrence of a byte pattern.
 *
 * As kelsFind_8u, but *pIndex receives the largest matching position (occurrences may overlap: "aa" in "aaaa"
 * is found at 2); -1 in the same cases.
 */
KelStatus kelsFindRev_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pFind, int findLen, int* pIndex);

/**
 * kelsFind_Z_8u - first occurrence of a NUL-terminated pattern in a NUL-terminated string.
 *
 * Both lengths are counted up to the terminating NUL; then the call is kelsFind_8u on those lengths (an empty
 * pattern gives -1).
 *
 * @param[in]  pSrcZ  NUL-terminated source
 * @param[in]  pFindZ NUL-terminated pattern
 * @param[out] pIndex first position of the pattern, or -1
 * @return kelStatusNullPointer if pSrcZ, pFindZ or pIndex is null; otherwise kelStatusOk.
 */
KelStatus kelsFind_Z_8u(const Kel8u* pSrcZ, const Kel8u* pFindZ, int* pIndex);

/**
 * kelsFindC_8u - first position of a byte value.
 *
 * For a source of 1 to 16 bytes (here and in kelsFindRevC_8u, kelsFindC_Z_8u) the search reads the whole aligned
 * 16-byte blocks that hold the source, which may include bytes just before or after it; such a block never crosses
 * a page boundary, and its bytes outside the source never affect the result.
 *
 * @param[in]  pSrc    source bytes
 * @param[in]  len     source length in bytes
 * @param[in]  valFind the byte to find
 * @param[out] pIndex  the smallest position holding valFind; -1 for an empty source or none
 * @return kelStatusNullPointer if pSrc or pIndex is null; kelStatusBadLength if len is negative; otherwise
 *         kelStatusOk.
 */
KelStatus kelsFindC_8u(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex);

/**
 * kelsFindC_Z_8u - first position of a byte value in a NUL-terminated string.
 *
 * The length is counted up to the terminating NUL. Seeking the byte 0 yields that length (the position of the
 * terminator); any other byte is sought as by kelsFindC_8u within the counted length, so the terminator is never
 * found for it.
 *
 * @param[in]  pSrcZ   NUL-terminated source
 * @param[in]  valFind the byte to find
 * @param[out] pIndex  its first position, or -1
 * @return kelStatusNullPointer if pSrcZ or pIndex is null (also when valFind is 0); otherwise kelStatusOk.
 */
KelStatus kelsFindC_Z_8u(const Kel8u* pSrcZ, Kel8u valFind, int* pIndex);

/**
 * kelsFindRevC_8u - last position of a byte value.
 *
 * As kelsFindC_8u, but *pIndex receives the largest position holding valFind, or -1.
 */
KelStatus kelsFindRevC_8u(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex);

/**
 * kelsFindCAny_8u - first position of any byte of a set.
 *
 * @param[in]  pSrc     source bytes
 * @param[in]  len      source length in bytes
 * @param[in]  pAnyOf   the set, as bytes (repeated bytes change nothing)
 * @param[in]  lenAnyOf number of bytes in the set
 * @param[out] pIndex   the smallest position whose byte occurs in the set; -1 when the source or the set is
 *                      empty, or when there is none
 * @return kelStatusNullPointer if pSrc, pAnyOf or pIndex is null; kelStatusBadLength if len or lenAnyOf is
 *         negative; otherwise kelStatusOk.
 */
KelStatus kelsFindCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pAnyOf, int lenAnyOf, int* pIndex);

/**
 * kelsFindRevCAny_8u - last position of any byte of a set.
 *
 * As kelsFindCAny_8u, but *pIndex receives the largest such position, or -1.
 */
KelStatus kelsFindRevCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pAnyOf, int lenAnyOf, int* pIndex);

/* ============================================================================================================
 * Compare, equality, hashing
 *
 * Pure functions over counted strings. For each: a null pointer gives kelStatusNullPointer, then a negative length
 * kelStatusBadLength; nothing is written on an error. The hashes are fixed formulas (unsigned 32-bit arithmetic,
 * wrapping) whose values may be stored: they never change.
 * ============================================================================================================ */

/**
 * kelsCompare_8u - compare two byte strings of equal length.
 *
 * @param[in]  pSrc1   first string
 * @param[in]  pSrc2   second string
 * @param[in]  len     bytes to compare
 * @param[out] pResult pSrc1[i] - pSrc2[i] (as unsigned bytes, so -255 to 255) at the first position i where they
 *                     differ; 0 when all len bytes are equal, also for len 0
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadLength if len is negative; otherwise kelStatusOk.
 */
KelStatus kelsCompare_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult);

/**
 * kelsCompareIgnoreCaseLatin_8u - compare two byte strings with the Latin capitals A..Z read as a..z.
 *
 * As kelsCompare_8u on folded bytes: fold(x) = x + 32 for x from 65 to 90, else x (bytes from 128 up are compared
 * unchanged). *pResult = fold(pSrc1[i]) - fold(pSrc2[i]) at the first folded difference, else 0.
 */
KelStatus kelsCompareIgnoreCaseLatin_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult);

/**
 * kelsEqual_8u - whether two byte strings of equal length are identical.
 *
 * As kelsCompare_8u, but *pResult = 1 when all len bytes are equal (also for len 0), else 0.
 */
KelStatus kelsEqual_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult);

/**
 * kelsHash_8u32u - shift hash of a byte string: h = 0; for each byte x in order, h = (h << 1) ^ x.
 *
 * Only the last 32 bytes can influence the value.
 *
 * @param[in]  pSrc     string
 * @param[in]  len      length in bytes
 * @param[out] pHashVal the hash (0 for an empty string)
 * @return kelStatusNullPointer if pSrc or pHashVal is null; kelStatusBadLength if len is negative; otherwise
 *         kelStatusOk.
 */
KelStatus kelsHash_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal);

/**
 * kelsHash_16u32u - shift hash of a string of 16-bit elements: h = 0; for each element x, h = (h << 1) ^ x.
 *
 * As kelsHash_8u32u; len counts elements.
 */
KelStatus kelsHash_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal);

/**
 * kelsHashSJ2_8u32u - SJ2 hash of a byte string: h = 0; for each byte x in order, h = h * 31 + x
 * ("ab" gives 3105).
 *
 * As kelsHash_8u32u otherwise.
 */
KelStatus kelsHashSJ2_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal);

/**
 * kelsHashSJ2_16u32u - SJ2 hash of a string of 16-bit elements: h = 0; for each element x, h = h * 31 + x.
 *
 * As kelsHash_8u32u; len counts elements.
 */
KelStatus kelsHashSJ2_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal);

/**
 * kelsHashMSCS_8u32u - MSCS hash of a byte string: h = 5381; for each byte x in order, stopping before the first
 * zero byte within len, h = (h * 33) ^ x (an empty string gives 5381).
 *
 * As kelsHash_8u32u otherwise.
 */
KelStatus kelsHashMSCS_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal);

/**
 * kelsHashMSCS_16u32u - MSCS hash of a string of 16-bit elements: h = 5381; for each element x, stopping before
 * the first zero element within len, h = (h * 33) ^ x.
 *
 * As kelsHash_8u32u; len counts elements.
 */
KelStatus kelsHashMSCS_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal);

/* ============================================================================================================
 * Editing
 *
 * Concatenation, insertion, removal, byte replacement, splitting, trimming and Latin case mapping of counted byte
 * strings. Out-of-place forms write a destination that the caller sizes; in-place forms (_I) edit the string and
 * update its length through a pointer (the buffer must have room for any growth). Unless a function says
 * otherwise, a destination must not overlap its sources, checks run null pointers first, then lengths, and nothing
 * is written when a check fails. Case mapping touches only the ASCII letters.
 * ============================================================================================================ */

/**
 * kelsConcat_8u - write two strings back to back.
 *
 * @param[in]  pSrc1 first string
 * @param[in]  len1  its length in bytes
 * @param[in]  pSrc2 second string
 * @param[in]  len2  its length in bytes
 * @param[out] pDst  destination of len1 + len2 bytes: the first string, then the second
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadLength if len1 or len2 is negative; otherwise
 *         kelStatusOk.
 */
KelStatus kelsConcat_8u(const Kel8u* pSrc1, int len1, const Kel8u* pSrc2, int len2, Kel8u* pDst);

/**
 * kelsConcat_8u_D2L - write a list of strings back to back.
 *
 * @param[in]  pSrc   array of numSrc string pointers
 * @param[in]  srcLen array of numSrc lengths in bytes
 * @param[in]  numSrc number of strings, at least 1
 * @param[out] pDst   destination of the sum of the lengths in bytes
 * @return kelStatusNullPointer if pSrc, srcLen or pDst is null; kelStatusBadSize if numSrc < 1; then, string by
 *         string in order, kelStatusNullPointer for a null pSrc[i] or kelStatusBadLength for a negative srcLen[i]
 *         (the strings before it have then already been written); otherwise kelStatusOk.
 */
KelStatus kelsConcat_8u_D2L(const Kel8u* const pSrc[], const int srcLen[], int numSrc, Kel8u* pDst);

/**
 * kelsConcatC_8u_D2L - write a list of strings back to back with a separator byte between consecutive ones.
 *
 * As kelsConcat_8u_D2L, with delim written between consecutive strings (not before the first, not after the last;
 * an empty last string still gets the separator before it). The destination needs the sum of the lengths plus
 * numSrc - 1 bytes. On a bad entry, the strings before it and their separators have been written.
 */
KelStatus kelsConcatC_8u_D2L(const Kel8u* const pSrc[], const int srcLen[], int numSrc, Kel8u delim, Kel8u* pDst);

/**
 * kelsInsert_8u - copy a string with another inserted at a position.
 *
 * @param[in]  pSrc       source string
 * @param[in]  srcLen     its length in bytes
 * @param[in]  pInsert    string to insert
 * @param[in]  insertLen  its length in bytes
 * @param[out] pDst       destination of srcLen + insertLen bytes: pSrc[0, startIndex), the insertion, then
 *                        pSrc[startIndex, srcLen)
 * @param[in]  startIndex insertion position, 0 to srcLen (srcLen appends)
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadLength if srcLen, insertLen or startIndex is
 *         negative or startIndex > srcLen; otherwise kelStatusOk.
 */
KelStatus kelsInsert_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pInsert, int insertLen, Kel8u* pDst,
                        int startIndex);

/**
 * kelsInsert_8u_I - insert a string into another in place.
 *
 * @param[in]     pInsert    string to insert (outside the edited string)
 * @param[in]     insertLen  its length in bytes
 * @param[in,out] pSrcDst    string edited in place; its buffer must hold *pSrcDstLen + insertLen bytes
 * @param[in,out] pSrcDstLen its length in bytes; grows by insertLen
 * @param[in]     startIndex insertion position, 0 to *pSrcDstLen
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadLength if insertLen is negative, then if
 *         *pSrcDstLen or startIndex is negative, startIndex > *pSrcDstLen, or the grown length would exceed
 *         INT_MAX; otherwise kelStatusOk.
 */
KelStatus kelsInsert_8u_I(const Kel8u* pInsert, int insertLen, Kel8u* pSrcDst, int* pSrcDstLen, int startIndex);

/**
 * kelsRemove_8u - copy a string without a range of its bytes.
 *
 * @param[in]  pSrc       source string
 * @param[in]  srcLen     its length in bytes
 * @param[out] pDst       destination of srcLen - len bytes: pSrc without [startIndex, startIndex + len); it may
 *                        be pSrc itself
 * @param[in]  startIndex first byte removed
 * @param[in]  len        number of bytes removed
 * @return kelStatusNullPointer if pSrc or pDst is null; kelStatusBadLength if len or startIndex is negative or
 *         startIndex + len > srcLen; otherwise kelStatusOk.
 */
KelStatus kelsRemove_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int startIndex, int len);

/**
 * kelsRemove_8u_I - remove a range of bytes from a string in place; the tail moves left over it.
 *
 * @param[in,out] pSrcDst    string edited in place
 * @param[in,out] pSrcDstLen its length in bytes; shrinks by len
 * @param[in]     startIndex first byte removed
 * @param[in]     len        number of bytes removed (startIndex + len = *pSrcDstLen truncates)
 * @return kelStatusNullPointer if a pointer is null; kelStatusBadLength if len is negative, then if *pSrcDstLen
 *         or startIndex is negative, then if startIndex + len > *pSrcDstLen; otherwise kelStatusOk.
 */
KelStatus kelsRemove_8u_I(Kel8u* pSrcDst, int* pSrcDstLen, int startIndex, int len);

/**
 * kelsReplaceC_8u - replace every byte equal to oldVal by newVal.
 *
 * @param[in]  pSrc   source bytes
 * @param[out] pDst   destination of len bytes; may be pSrc itself
 * @param[in]  len    length in bytes
 * @param[in]  oldVal byte value replaced
 * @param[in]  newVal its replacement
 * @return kelStatusNullPointer if a pointer is null; kelStatusBadLength if len is negative; otherwise kelStatusOk.
 */
KelStatus kelsReplaceC_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal);

/**
 * kelsSplitC_8u_D2L - split a string at a separator byte into caller-supplied buffers.
 *
 * Each piece is the run of bytes before the next separator (or the rest of the source); consecutive separators give
 * empty pieces, a leading separator an empty first piece, a trailing separator no empty last piece, and an empty
 * source no piece at all. A piece longer than its buffer is cut to the buffer's capacity.
 *
 * @param[in]     pSrc    source bytes
 * @param[in]     srcLen  source length in bytes
 * @param[in]     delim   separator byte (not copied)
 * @param[in]     pDst    array of *pNumDst destination buffers
 * @param[in,out] dstLen  array of *pNumDst lengths: capacities in bytes in, piece lengths out (a cut piece keeps
 *                        its capacity as length)
 * @param[in,out] pNumDst number of buffers in (at least 1), number of pieces written out
 * @return kelStatusNullPointer if pSrc, pDst, dstLen or pNumDst is null; kelStatusBadLength if srcLen is
 *         negative; kelStatusBadSize if *pNumDst < 1; then, buffer by buffer as pieces reach them,
 *         kelStatusNullPointer for a null pDst[i] or kelStatusBadLength for a negative dstLen[i] (the pieces before
 *         it have then been written). kelStatusSplitMorePieces (warning) when source remains after all buffers are
 *         filled (*pNumDst keeps the buffer count); else kelStatusSplitPieceTruncated (warning) when a piece was cut;
 *         otherwise kelStatusOk.
 */
KelStatus kelsSplitC_8u_D2L(const Kel8u* pSrc, int srcLen, Kel8u delim, Kel8u* pDst[], int dstLen[], int* pNumDst);

/**
 * kelsTrimC_8u - copy a string without the runs of one byte value at both ends.
 *
 * @param[in]  pSrc    source bytes
 * @param[in]  srcLen  source length in bytes
 * @param[in]  odd     the byte value trimmed
 * @param[out] pDst    destination of at most srcLen bytes; may be pSrc itself (then the kept bytes move to the
 *                     start, as kelsTrimC_8u_I does)
 * @param[out] pDstLen length of the kept bytes (0 when all bytes are odd)
 * @return kelStatusNullPointer if a pointer is null; kelStatusBadLength if srcLen is negative; otherwise
 *         kelStatusOk.
 */
KelStatus kelsTrimC_8u(const Kel8u* pSrc, int srcLen, Kel8u odd, Kel8u* pDst, int* pDstLen);

/**
 * kelsTrimC_8u_I - remove the runs of one byte value at both ends of a string in place; the kept bytes move to
 * the start.
 *
 * @param[in,out] pSrcDst string edited in place
 * @param[in,out] pLen    its length in bytes; receives the kept length
 * @param[in]     odd     the byte value trimmed
 * @return kelStatusNullPointer if a pointer is null; kelStatusBadLength if *pLen is negative; otherwise kelStatusOk.
 */
KelStatus kelsTrimC_8u_I(Kel8u* pSrcDst, int* pLen, Kel8u odd);

/**
 * kelsTrimCAny_8u - copy a string without the bytes of a set at both ends.
 *
 * @param[in]  pSrc    source bytes
 * @param[in]  srcLen  source length in bytes
 * @param[in]  pTrim   the set, as bytes
 * @param[in]  trimLen number of bytes in the set (0 trims nothing)
 * @param[out] pDst    destination of at most srcLen bytes; may be pSrc itself
 * @param[out] pDstLen length of the kept bytes
 * @return kelStatusNullPointer if pSrc, pDst, pTrim or pDstLen is null; kelStatusBadLength if srcLen or trimLen
 *         is negative; otherwise kelStatusOk.
 */
KelStatus kelsTrimCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen, Kel8u* pDst,
                          int* pDstLen);

/**
 * kelsTrimStartCAny_8u - as kelsTrimCAny_8u, trimming the start only.
 */
KelStatus kelsTrimStartCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen, Kel8u* pDst,
                               int* pDstLen);

/**
 * kelsTrimEndCAny_8u - as kelsTrimCAny_8u, trimming the end only.
 */
KelStatus kelsTrimEndCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen, Kel8u* pDst,
                             int* pDstLen);

/**
 * kelsUppercaseLatin_8u - map a..z (97 to 122) to A..Z; every other byte value is copied unchanged.
 *
 * @param[in]  pSrc source bytes
 * @param[out] pDst destination of len bytes; may be pSrc itself
 * @param[in]  len  length in bytes
 * @return kelStatusNullPointer if a pointer is null; kelStatusBadLength if len is negative; otherwise kelStatusOk.
 */
KelStatus kelsUppercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len);

/**
 * kelsUppercaseLatin_8u_I - kelsUppercaseLatin_8u in place on pSrcDst[0, len).
 */
KelStatus kelsUppercaseLatin_8u_I(Kel8u* pSrcDst, int len);

/**
 * kelsLowercaseLatin_8u - map A..Z (65 to 90) to a..z; every other byte value is copied unchanged.
 *
 * As kelsUppercaseLatin_8u otherwise.
 */
KelStatus kelsLowercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len);

/**
 * kelsLowercaseLatin_8u_I - kelsLowercaseLatin_8u in place on pSrcDst[0, len).
 */
KelStatus kelsLowercaseLatin_8u_I(Kel8u* pSrcDst, int len);

/* ============================================================================================================
 * UTF conversion
 *
 * Tolerant converters between UTF-8 bytes and UTF-16 units. They never fail on their input: malformed UTF-8 is read
 * byte by byte as Latin-1 (each rejected lead byte becomes one unit of its own value), over-long forms are
 * rejected that way, encoded surrogates and lone UTF-16 surrogates pass through, and the six-byte forms of the
 * original UTF-8 are accepted, with code points above U+10FFFF folded into a surrogate pair by its 10-bit masks.
 * A call stops quietly when the source is used up or the next character does not fit in the destination (it is
 * never written in part); the counts report how much of each was used, so the caller continues with the rest.
 * A character cut off at the end of the source counts as malformed: a streaming caller keeps an incomplete
 * trailing sequence for the next call. Byte order: bigEndian 0 means units in the machine's (little-endian)
 * order, any other value byte-swapped (big-endian) units; the high surrogate always comes first.
 * ============================================================================================================ */

/**
 * kelsConvertUTF_8u16u - UTF-8 bytes to UTF-16 units.
 *
 * @param[in]     pSrc      UTF-8 bytes
 * @param[in,out] pSrcLen   source bytes given in; bytes consumed out
 * @param[out]    pDst      UTF-16 units
 * @param[in,out] pDstLen   capacity of pDst in units in; units written out
 * @param[in]     bigEndian 0: little-endian units; otherwise big-endian units
 * @return kelStatusNullPointer if pSrc, pSrcLen, pDst or pDstLen is null (nothing written, counts untouched);
 *         otherwise kelStatusOk, also when the call stopped early (consumed less than given).
 */
KelStatus kelsConvertUTF_8u16u(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen, int bigEndian);

/**
 * kelsConvertUTF_16u8u - UTF-16 units to UTF-8 bytes.
 *
 * A high surrogate followed by a low one becomes one four-byte sequence; any other surrogate, and a high surrogate
 * that is the last source unit, becomes the three-byte sequence of its own value.
 *
 * @param[in]     pSrc      UTF-16 units
 * @param[in,out] pSrcLen   source units given in; units consumed out
 * @param[out]    pDst      UTF-8 bytes
 * @param[in,out] pDstLen   capacity of pDst in bytes in; bytes written out
 * @param[in]     bigEndian 0: the source units are little-endian; otherwise big-endian
 * @return kelStatusNullPointer if pSrc, pSrcLen, pDst or pDstLen is null (nothing written, counts untouched);
 *         otherwise kelStatusOk, also when the call stopped early.
 */
KelStatus kelsConvertUTF_16u8u(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen, int bigEndian);

/* ============================================================================================================
 * Regular-expression compiling
 *
 * A pattern is compiled once into a caller-allocated RegExpState and then used for any number of searches and
 * replacements. Protocol: kelsRegExpGetSize gives the block size for a pattern; allocate that many bytes (any
 * alignment); kelsRegExpInit compiles into it; kelsRegExpSetMatchLimit and kelsRegExpSetFormat adjust it (Init
 * resets both). The block holds pointers into itself only (the pattern's literal text is copied), so the pattern
 * may be freed after Init, but the block must not be moved or copied afterwards. A search uses the block as
 * scratch: concurrent searches need separate blocks.
 *
 * Pattern syntax: Perl-style. Literals, `.`, `^` `$`, `|`, groups `( )` `(?: )` `(?> )` `(?= )` `(?! )` `(?<= )`
 * `(?<! )` (fixed length), `(?imsx-imsx)` and `(?imsx-imsx: )`, comments `(?# )`, conditions `(?(N)yes|no)` and
 * `(?(?=...)yes|no)`; quantifiers `*` `+` `?` `{m}` `{m,}` `{m,n}` `{,n}` with a lazy `?` suffix (bounds up to
 * 65535); classes `[...]` `[^...]` with ranges, escapes and POSIX classes `[:name:]`; escapes `\a \e \f \n \r \t
 * \v`, octal `\0oo`, back-references `\N`, `\xhh`, `\x{h...}`, `\cX`, `\d \D \s \S \w \W` (ASCII), anchors
 * `\A \B \G \Z \b \z`, `\C` (one byte), `\X` (a character with its combining marks), `\p{...}` / `\P{...}`
 * (Unicode 5.1 general categories, blocks "In<Block>" and scripts), `\Q...\E`. In classes the letter escapes are
 * `\a \b` (backspace) `\e \f \n \r \t \v`, `\x`, `\c`, `\d \D \s \S \w \W`, `\p \P` and `\Q...\E`. Any other
 * letter after `\` is an error (not the letter itself); any other escaped byte (punctuation, digits not read as
 * a number, UTF-8) stands for itself. Literal text is matched as bytes.
 * Options (option string and inline): i caseless, m multi-line, s dot-all, x extended; g (global, option string
 * only) makes a search report every match.
 * ============================================================================================================ */

/** The compiled form of a pattern; opaque, caller-allocated with the size kelsRegExpGetSize reports. */
typedef struct RegExpState RegExpState;

/**
 * kelsRegExpGetSize - size of the RegExpState for a pattern.
 *
 * The pattern is not parsed: the size is 48032 + 24 * (strlen(pPattern) + 1) bytes.
 *
 * @param[in]  pPattern NUL-terminated pattern
 * @param[out] pSize    state size in bytes
 * @return kelStatusNullPointer if pPattern or pSize is null; kelStatusBadSize if the pattern is longer than
 *         89,476,482 bytes (its state size would not fit in an int; *pSize unchanged); otherwise kelStatusOk.
 */
KelStatus kelsRegExpGetSize(const char* pPattern, int* pSize);

/**
 * kelsRegExpInit - compile a pattern into a RegExpState.
 *
 * On success the state holds the compiled pattern with match limit 10000 and the UTF-8 subject format.
 *
 * @param[in]  pPattern   NUL-terminated pattern
 * @param[in]  pOptions   NUL-terminated option letters from "gimsx" (repeats allowed), or null for none
 * @param[out] pState     block of the size kelsRegExpGetSize reported for this pattern
 * @param[out] pErrOffset on a compile error, the byte offset in the pattern where it was found (the offending
 *                        parenthesis, quantifier, escape or class member; the pattern length for a missing `)`);
 *                        0 for a bad option letter; not written on success
 * @return kelStatusNullPointer if pPattern, pState or pErrOffset is null; kelStatusRegExpBadOption for a bad
 *         option letter; kelStatusBadSize if the pattern is longer than kelsRegExpGetSize accepts; then the first
 *         compile error found: kelStatusRegExpBadGroup (unbalanced or too deeply nested parentheses, more than
 *         1000 capturing groups, an unknown `(?` form or flag, an unterminated `(?#`, a variable-length or
 *         back-referencing look-behind, a malformed condition, an empty class, a pattern that would not fit its
 *         state), kelStatusRegExpBadEscape (a letter escape the syntax does not define, such as `\h`, `\R`,
 *         `\K` or `\o{..}`, or in a class `\B` or `\X`; an unknown `\p` name, `\x{` without `}`, a `\` or `\c` at
 *         the end of the pattern), kelStatusRegExpBadClass (unterminated class, reversed range, unknown POSIX
 *         class, unterminated `\Q` in a class), kelStatusRegExpBadReference (`\N` naming a group that does not
 *         exist, condition group 0 or empty), kelStatusRegExpBadQuantifier (nothing to repeat, a quantifier on a
 *         quantifier, a bound above 65535, maximum below minimum); otherwise kelStatusOk.
 *
 * Every failure after the null-pointer checks (a bad option, an over-long pattern, a compile error) first marks
 * the block as holding no pattern, also when it held a valid one before: kelsRegExpFind_8u and
 * kelsRegExpReplace_8u then return kelStatusRegExpBadState until an Init into the block succeeds. The rest of the
 * block may be partly written.
 */
KelStatus kelsRegExpInit(const char* pPattern, const char* pOptions, RegExpState* pState, int* pErrOffset);

/**
 * kelsRegExpSetMatchLimit - set the work limit of later searches with a compiled pattern.
 *
 * Each search may evaluate at most matchLimit nodes along its backtracking paths and nest at most matchLimit / 4
 * evaluations; beyond either it fails with kelStatusRegExpMatchLimit. Independently of the limit, a search also
 * fails with kelStatusRegExpMatchLimit when its backtracking stack is full or when it has made more than
 * 10 * min(matchLimit, 1000000) + 100000 + 8 * (subject length) backtracking steps (choices recorded or
 * revisited, group iterations, repetitions, and each try of what follows a repeated item, also one passed over at
 * once). The backtracking stack holds 32-byte entries: 256 on the native stack
 * plus those that fit in the state's scratch areas this pattern leaves unused (32 bytes for each nesting level
 * above the pattern's deepest, 16 bytes for each capture record above its last group), 1754 entries for a pattern
 * without groups. Loops whose alternatives or items cannot start with a byte that can follow them record no entry
 * per iteration, nor does a loop that opens a repeated group when what follows it in the group cannot take its
 * bytes (as `\w+` in `(?:\w+\s?)*$`), so such patterns run over subjects of any length; such a loop gives back
 * nothing, and where giving back would only have run into the limit the search reports no match instead. An
 * optional or repeated group costs one entry per pass. A search uses a bounded amount of native stack
 * (about 25 KiB, below 32 KiB) whatever the pattern, subject and limit. The state's compiled pattern is not checked.
 *
 * @param[in]     matchLimit the new limit (0 is allowed)
 * @param[in,out] pState     a state prepared by kelsRegExpInit
 * @return kelStatusNullPointer if pState is null; kelStatusBadLength if matchLimit is negative; otherwise
 *         kelStatusOk.
 */
KelStatus kelsRegExpSetMatchLimit(int matchLimit, RegExpState* pState);

/**
 * kelsRegExpSetFormat - choose how later searches step through the subject.
 *
 * In both formats `.`, the class escapes and classes consume one whole UTF-8 character (a valid shortest-form
 * sequence of up to 6 bytes; any other byte alone), and `\x{...}` matches one encoded character. The formats differ
 * in two ways. Format 1 (UTF-8, the default after Init): a failed start position advances by one character, and a
 * quantifier after a multi-byte character written literally in the pattern repeats that character (U+00E9 written
 * as C3 A9 and followed by `+` matches C3 A9 C3 A9 ...). Format 0 (bytes): a failed start position advances by one
 * byte, so a match may begin inside a character, and literal pattern text is a run of bytes whose last byte alone
 * is repeated (the same pattern matches C3 A9 A9 ...).
 *
 * @param[in]     format 1: UTF-8; 0: bytes
 * @param[in,out] pState a state prepared by kelsRegExpInit
 * @return kelStatusNullPointer if pState is null; kelStatusOutOfRange if format is neither 0 nor 1; otherwise
 *         kelStatusOk.
 */
KelStatus kelsRegExpSetFormat(int format, RegExpState* pState);

/* ============================================================================================================
 * Regular-expression matching
 *
 * kelsRegExpFind_8u searches a subject with a compiled pattern and reports the first match, or with the pattern's
 * `g` option every match, as match records: one record per group, record 0 being the whole match. The state's
 * scratch areas are overwritten by every search, so concurrent searches need separate states.
 * ============================================================================================================ */

/** One group of a match: where it starts in the subject and how many bytes it spans. */
typedef struct RegExpMatchRecord {
    const Kel8u* pFind; /**< first byte of the group's match in the subject; 0 when the group did not take part */
    int lenFind;        /**< length in bytes; -1 when the group did not take part */
    int reserved;       /**< not written */
} RegExpMatchRecord;

/**
 * kelsRegExpFind_8u - find the first match (or, with the `g` option, every match) of a compiled pattern.
 *
 * Without `g`, *pNumFind is first clamped to the pattern's number of groups (1 + capturing groups) and records
 * 0 .. *pNumFind - 1 of the first match are written. With `g`, every match in turn contributes its group records
 * (records 1.. when the pattern has capturing groups, else record 0) as long as they fit.
 *
 * @param[in]     pSrc     subject bytes
 * @param[in]     srcLen   subject length in bytes
 * @param[in,out] pState   a state prepared by kelsRegExpInit (its scratch areas are overwritten)
 * @param[out]    pFind    match records
 * @param[in,out] pNumFind capacity of pFind in records on entry; records written on return
 * @return kelStatusNullPointer if pSrc, pState, pFind or pNumFind is null; kelStatusBadLength if srcLen < 0;
 *         kelStatusBadSize if *pNumFind < 1; kelStatusRegExpBadState if pState holds no compiled pattern (never
 *         compiled, or its last kelsRegExpInit failed);
 *         kelStatusRegExpMatchLimit if the match limit was exhausted (records and *pNumFind undefined);
 *         kelStatusRegExpGroupsTruncated if records were written but fewer than one match's full set;
 *         otherwise kelStatusOk (*pNumFind = 0 when there is no match).
 */
KelStatus kelsRegExpFind_8u(const Kel8u* pSrc, int srcLen, RegExpState* pState, RegExpMatchRecord* pFind,
                            int* pNumFind);

/* ============================================================================================================
 * Regular-expression replacement
 *
 * A template is parsed once into a caller-allocated RegExpReplaceState; kelsRegExpReplace_8u then replaces the
 * first match (every match with `g`) of a compiled pattern. Template syntax: `$&` the whole match, `$N` group N
 * (N >= 1, all following digits), `\` drops itself and takes the next byte by the same rules. The template text
 * is referenced, not copied: it must stay valid while the state is used. Output never ends inside a piece: when
 * room runs out the call stops before it and reports the source consumed and the output produced.
 * ============================================================================================================ */

/** A parsed replacement template; opaque, caller-allocated with the size kelsRegExpReplaceGetSize reports. */
typedef struct RegExpReplaceState RegExpReplaceState;

/**
 * kelsRegExpReplaceGetSize - size of the RegExpReplaceState for a template.
 *
 * @param[in]  pTemplate NUL-terminated template, or null
 * @param[out] pSize     16 * strlen(pTemplate) + 16 bytes (16 for a null template)
 * @return kelStatusNullPointer if pSize is null; kelStatusBadSize if the size would not fit in an int (*pSize
 *         unchanged); otherwise kelStatusOk.
 */
KelStatus kelsRegExpReplaceGetSize(const Kel8u* pTemplate, int* pSize);

/**
 * kelsRegExpReplaceInit - parse a template into a RegExpReplaceState.
 *
 * @param[in]  pTemplate NUL-terminated template, or null for an empty replacement
 * @param[out] pState    block of the size kelsRegExpReplaceGetSize reported
 * @return kelStatusNullPointer if pState is null; kelStatusRegExpBadReference for `$0` or a `$` followed by
 *         neither `&` nor a digit (the state is then partly written and unusable); otherwise kelStatusOk.
 */
KelStatus kelsRegExpReplaceInit(const Kel8u* pTemplate, RegExpReplaceState* pState);

/**
 * kelsRegExpReplace_8u - replace the first match (every match with `g`) of a pattern by a template.
 *
 * @param[in]     pSrc          subject bytes
 * @param[in,out] pSrcLen       subject length on entry; subject bytes consumed on return
 * @param[out]    pDst          output bytes
 * @param[in,out] pDstLen       output capacity on entry; bytes written on return
 * @param[out]    pFind         match records (scratch; hold the search's records on return)
 * @param[in,out] pNumFind      in: capacity of pFind in records (bounds the matches replaced with `g`); out: the
 *                              records the search wrote, as kelsRegExpFind_8u sets it
 * @param[in,out] pRegExpState  a compiled pattern (scratch areas overwritten)
 * @param[in]     pReplaceState a parsed template
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadSize if *pSrcLen < 1 or *pDstLen < 1;
 *         otherwise the status of the search (kelStatusOk, kelStatusRegExpGroupsTruncated or an error of
 *         kelsRegExpFind_8u). Running out of room is not an error: the lengths tell how far the call got.
 */
KelStatus kelsRegExpReplace_8u(const Kel8u* pSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen, RegExpMatchRecord* pFind,
                               int* pNumFind, RegExpState* pRegExpState, RegExpReplaceState* pReplaceState);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELCH_H */
