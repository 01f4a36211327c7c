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

/* ============================================================================================================
 * LZO1X
 *
 * One-call coding of a whole buffer as an LZO1X stream, and two decoders. Both decoders also accept a multi-part
 * container (byte 0x55, part count p of 1 to 32, p XOR 0x55, the total length T as 32-bit little-endian, the
 * compressed sizes of parts 1 to p-1, then the parts): part i decodes into the destination at i * (T / p).
 * ============================================================================================================ */

/** Opaque LZO encoder state block: kelsEncodeLZOGetSize bytes of caller memory, prepared by kelsEncodeLZOInit_8u. */
typedef struct LZOState_8u LZOState_8u;

/**
 * kelsEncodeLZOGetSize - size of the LZO encoder state block.
 *
 * @param[in]  method    0 or 1 (both select the same LZO1X encoder)
 * @param[in]  maxSrcLen largest source length the state will code (not used: the size is fixed)
 * @param[out] pSize     receives 131104 for methods 0 and 1, 0 for any other method
 * @return kelStatusNullPointer if pSize is null; kelStatusBadArgument for a method other than 0 and 1 (0 is
 *         written); otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZOGetSize(int method, Kel32u maxSrcLen, Kel32u* pSize);

/**
 * kelsEncodeLZOInit_8u - prepare an LZO encoder state block.
 *
 * @param[in]  method     0 or 1
 * @param[in]  maxSrcLen  not used
 * @param[out] pLZOState  state block of kelsEncodeLZOGetSize bytes
 * @return kelStatusNullPointer if pLZOState is null; kelStatusBadArgument for another method; else kelStatusOk.
 */
KelStatus kelsEncodeLZOInit_8u(int method, Kel32u maxSrcLen, LZOState_8u* pLZOState);

/**
 * kelsEncodeLZO_8u - compress a whole buffer into one LZO1X stream, end marker (17 0 0) included.
 *
 * The destination length is not read: the destination must hold the worst case, srcLen + srcLen / 16 + 67 bytes.
 * The output depends only on the source (the state's table is reset on every call). One state block serves one
 * thread at a time.
 *
 * @param[in]  pSrc      source bytes
 * @param[in]  srcLen    source length in bytes; 0 writes nothing and sets *pDstLen to 0
 * @param[out] pDst      destination
 * @param[out] pDstLen   receives the length of the stream written
 * @param[in,out] pLZOState state block prepared by kelsEncodeLZOInit_8u
 * @return kelStatusNullPointer if pLZOState, pSrc, pDst or pDstLen is null; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZO_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen, LZOState_8u* pLZOState);

/**
 * kelsDecodeLZO_8u - decode an LZO1X stream or multi-part container.
 *
 * This decoder checks every bound too: it never reads outside the source nor writes outside the destination,
 * and reports a malformed stream with kelStatusLZOBrokenStream, exactly as kelsDecodeLZOSafe_8u does.
 *
 * @param[in]     pSrc    compressed bytes
 * @param[in]     srcLen  their number; 0, or a source beginning 17 0 0, decodes to 0 bytes
 * @param[out]    pDst    destination
 * @param[in,out] pDstLen capacity of pDst in bytes; receives the bytes written (for a container, the sum over
 *                        its parts)
 * @return kelStatusNullPointer if pSrc, pDst or pDstLen is null; kelStatusLZOBrokenStream if the stream is
 *         malformed, runs past the source or the capacity, or a match reaches before the start of the output
 *         (pDst may then be partly written and *pDstLen holds what was written); otherwise kelStatusOk.
 */
KelStatus kelsDecodeLZO_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen);

/**
 * kelsDecodeLZOSafe_8u - decode an LZO1X stream or multi-part container, checking every read and write.
 *
 * Arguments, statuses and results as kelsDecodeLZO_8u; *pDstLen in is the capacity.
 */
KelStatus kelsDecodeLZOSafe_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen);

/* ============================================================================================================
 * LZSS
 *
 * A streaming LZSS coder with a 32 KiB window. The bit stream, most significant bit first, has no header and no
 * end marker: a literal is 1 and the byte (9 bits), a match is 0, the distance (15 bits, 1 to 32767) and the
 * length - 3 (8 bits, lengths 3 to 258). The encoder takes the input in chunks of any size; the decoder takes
 * the stream in pieces of any size and resumes anywhere, even inside a match.
 * ============================================================================================================ */

/** Opaque LZSS state block of kelsLZSSGetSize_8u bytes; one serves either the encoder or the decoder. */
typedef struct LZSSState_8u LZSSState_8u;

/**
 * kelsLZSSGetSize_8u - size of the LZSS state block (the same for the encoder and the decoder).
 *
 * @param[out] pLZSSStateSize receives 327744
 * @return kelStatusNullPointer if pLZSSStateSize is null; otherwise kelStatusOk.
 */
KelStatus kelsLZSSGetSize_8u(int* pLZSSStateSize);

/**
 * kelsEncodeLZSSInit_8u - prepare a state block for encoding a new stream.
 *
 * @param[out] pLZSSState state block of kelsLZSSGetSize_8u bytes
 * @return kelStatusNullPointer if pLZSSState is null; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZSSInit_8u(LZSSState_8u* pLZSSState);

/**
 * kelsEncodeLZSS_8u - code one chunk of the input.
 *
 * Matches reach back into earlier chunks (up to 32767 bytes). The last two bytes of every chunk are coded as
 * literals, so larger chunks code better. Whole bytes are written as soon as they are complete; the rest stays in
 * the state until the next call or kelsEncodeLZSSFlush_8u. The state block holds no pointers and may be moved
 * between calls.
 *
 * @param[in,out] ppSrc      source pointer; advanced past the bytes consumed
 * @param[in,out] pSrcLen    source length in bytes; reduced by the bytes consumed
 * @param[in,out] ppDst      destination pointer; advanced past the bytes written
 * @param[in,out] pDstLen    destination room in bytes; reduced by the bytes written
 * @param[in,out] pLZSSState state block prepared by kelsEncodeLZSSInit_8u
 * @return kelStatusNullPointer if any pointer (or *ppSrc, *ppDst) is null; kelStatusDstFull at once for a room of
 *         0, or when the destination filled before the chunk was coded (call again with more room and the rest of
 *         the chunk); kelStatusOk at once for a source length of 0, or when the chunk was coded.
 */
KelStatus kelsEncodeLZSS_8u(const Kel8u** ppSrc, Kel32u* pSrcLen, Kel8u** ppDst, Kel32u* pDstLen,
                            LZSSState_8u* pLZSSState);

/**
 * kelsEncodeLZSSFlush_8u - write the pending bits, the last byte padded with zero bits, ending the stream.
 *
 * @param[in,out] ppDst      destination pointer; advanced past the bytes written
 * @param[in,out] pDstLen    destination room in bytes; reduced by the bytes written
 * @param[in,out] pLZSSState encoder state
 * @return kelStatusNullPointer for a null pointer; kelStatusBadSize for a room below 1; kelStatusDstFull if the
 *         destination filled first (call again: the rest stays pending); otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZSSFlush_8u(Kel8u** ppDst, Kel32u* pDstLen, LZSSState_8u* pLZSSState);

/**
 * kelsDecodeLZSSInit_8u - prepare a state block for decoding a new stream.
 *
 * @param[out] pLZSSState state block of kelsLZSSGetSize_8u bytes
 * @return kelStatusNullPointer if pLZSSState is null; otherwise kelStatusOk.
 */
KelStatus kelsDecodeLZSSInit_8u(LZSSState_8u* pLZSSState);

/**
 * kelsDecodeLZSS_8u - decode as much as the source and the destination allow.
 *
 * Distances are not validated: one beyond the output produced since Init reads stale window bytes inside the
 * state block (never outside it). Trailing padding bits (fewer than 9) are ignored.
 *
 * @param[in,out] ppSrc      source pointer; advanced past the bytes consumed (all of them, unless the
 *                           destination filled)
 * @param[in,out] pSrcLen    source length in bytes; reduced accordingly
 * @param[in,out] ppDst      destination pointer; advanced past the bytes written
 * @param[in,out] pDstLen    destination room in bytes; reduced by the bytes written
 * @param[in,out] pLZSSState state block prepared by kelsDecodeLZSSInit_8u
 * @return kelStatusNullPointer for a null pointer; kelStatusBadSize for a room below 1; kelStatusDstFull when the
 *         destination filled (call again with more room; a match may continue); otherwise kelStatusOk (the
 *         source is used up; an unfinished item waits in the state for more source).
 */
KelStatus kelsDecodeLZSS_8u(const Kel8u** ppSrc, Kel32u* pSrcLen, Kel8u** ppDst, Kel32u* pDstLen,
                            LZSSState_8u* pLZSSState);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELDC_H */
