/* include/keldc.h - the functions of libkeldcn8, the data-compression library.
 *
 * Block-level primitives for building zlib/gzip streams, bzip2 files, LZ4 frames and the like: checksums, the
 * Deflate encoder stages, Inflate, LZ4, LZO1X, LZSS and the bzip2 stages. The library opens no files, allocates
 * no memory and keeps no mutable global state: every function works on caller-supplied buffers and state blocks,
 * so all functions are thread-safe as long as concurrent calls share no output buffer and no state block.
 * Declarations are grouped by family in export order. This header compiles as C99 and as C++.
 */
#ifndef KEL_KELDC_H
#define KEL_KELDC_H

#include "kelbase.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ============================================================================================================
 * Version
 * ============================================================================================================ */

/**
 * keldcGetLibVersion - identity of libkeldcn8.
 *
 * @return pointer to the library's constant version record (major 2018, build 56444, targetCpu "n8",
 *         name "kelDC Quor (n8)"); the same pointer on every call. Never fails. Do not write through it or free it.
 */
const LibraryVersion* keldcGetLibVersion(void);

/* ============================================================================================================
 * Checksums
 *
 * Each function reads the checksum so far through pChecksum, updates it over the buffer and writes it back, so a
 * stream may be fed in pieces of any size: the result for a split buffer equals the result for the whole one.
 * ============================================================================================================ */

/**
 * kelsAdler32_8u - update an Adler-32 checksum (RFC 1950). A new checksum starts from 1.
 *
 * @param[in]     pSrc      source bytes; null means "reset": 1 is stored whatever srcLen is
 * @param[in]     srcLen    number of source bytes; 0 or negative processes no bytes
 * @param[in,out] pChecksum checksum so far; receives the updated checksum, each 16-bit half reduced modulo 65521
 * @return kelStatusNullPointer if pChecksum is null (nothing written); otherwise kelStatusOk.
 */
KelStatus kelsAdler32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum);

/**
 * kelsCRC32_8u - update a CRC-32 (zlib/gzip, reflected polynomial 0xEDB88320), with the customary inversions done
 * inside: a new CRC starts from 0 and chains by passing the previous result ("123456789" gives 0xCBF43926).
 *
 * @param[in]     pSrc      source bytes
 * @param[in]     srcLen    number of source bytes, at least 1
 * @param[in,out] pChecksum CRC so far; receives the updated CRC
 * @return kelStatusNullPointer if pSrc or pChecksum is null; kelStatusBadSize if srcLen < 1 (*pChecksum
 *         unchanged); otherwise kelStatusOk.
 */
KelStatus kelsCRC32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum);

/**
 * kelsCRC32C_8u - update a CRC-32C register (Castagnoli, reflected polynomial 0x82F63B78) with no inversion inside.
 * For the standard CRC-32C set *pChecksum to 0xFFFFFFFF before the first piece and invert it after the last
 * ("123456789" then gives 0xE3069283).
 *
 * @param[in]     pSrc      source bytes
 * @param[in]     srcLen    number of source bytes (unsigned: every non-zero value is valid)
 * @param[in,out] pChecksum CRC register so far; receives the updated register
 * @return kelStatusNullPointer if pSrc or pChecksum is null; kelStatusBadSize if srcLen is 0 (*pChecksum
 *         unchanged); otherwise kelStatusOk.
 */
KelStatus kelsCRC32C_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u* pChecksum);

/**
 * kelsCRC32_BZ2_8u - update a bzip2 CRC (polynomial 0x04C11DB7, most significant bit first), with the inversions
 * done inside: a new CRC starts from 0 ("123456789" gives 0xFC891918).
 *
 * @param[in]     pSrc      source bytes
 * @param[in]     srcLen    number of source bytes, at least 1
 * @param[in,out] pChecksum CRC so far; receives the updated CRC
 * @return kelStatusNullPointer if pSrc or pChecksum is null; kelStatusBadSize if srcLen < 1 (*pChecksum
 *         unchanged); otherwise kelStatusOk.
 */
KelStatus kelsCRC32_BZ2_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELDC_H */
