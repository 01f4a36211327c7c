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
 * Deflate LZ77 matching
 *
 * Parses bytes into Deflate (RFC 1951) items, each a literal byte or a back-reference (length 3 to 258, distance
 * 1 to 32768), written to two parallel arrays: pLitLenOut gets the literal byte or the length minus 3, pDistOut
 * gets 0 for a literal or the distance. Each item also adds 1 to the count (freqOrCode, 16-bit, wrapping) of its
 * literal/length symbol in pLitLenCodes (at least 286 entries) and, for a match, of its distance symbol in
 * pDistCodes (at least 30 entries); codeLength is never touched. The caller zeroes the counts before a block.
 *
 * Positions: every byte of a stream has a 32-bit position, one more per byte across all calls; the caller keeps
 * the position of the next byte in *pSrcPos (0 at the start of a stream, or the dictionary length). Matches are
 * found through two caller-owned tables that persist across the calls of one stream: pHashHeads (hashTableSize
 * signed 32-bit entries: the newest position per hash value) and pHashChain (windowSize entries: for position p,
 * entry p & (windowSize - 1) holds the previous position with the same hash). Both sizes are powers of two,
 * windowSize 256 to 32768, hashTableSize 256 to 65536. Before the first call every entry must hold an empty value,
 * at most (first position - windowSize); -32768 always works. Bytes before *pSrcPtr are read from the history,
 * which ends at pHistoryEnd; keep history and source contiguous (pHistoryEnd == *pSrcPtr), with at least
 * windowSize bytes of history once the stream is that long. The tables hold positions, not pointers, so the data
 * may move between calls as long as that holds. No state is kept between calls beyond these tables.
 * ============================================================================================================ */

/** Count-or-code entry of the Deflate encoder's symbol tables. */
typedef struct DeflateCodeEntry {
    Kel16u freqOrCode; /**< occurrence count while matching; the code bits, bit-reversed, when writing */
    Kel16u codeLength; /**< code length in bits (written by the caller's code construction) */
} DeflateCodeEntry;

/** Parameters of the hash-chain matchers; the level table of kelsDeflateLZ77_8u gives typical values. */
typedef struct DeflateMatchParams {
    Kel32s maxChain;   /**< candidates examined per position; 0 (greedy only) selects the 3-byte single-probe mode */
    Kel32s goodLength; /**< greedy: a match this long quarters the remaining budget; lazy: a pending match this
                            long quarters the budget of the next search */
    Kel32s niceLength; /**< a search stops at the first match at least this long */
    Kel32s lazyLimit;  /**< greedy: longer matches are not inserted position by position; lazy: no search while
                            the pending match is at least this long */
} DeflateMatchParams;

/**
 * kelsDeflateLZ77_8u - Deflate matching at a compression level.
 *
 * Levels 0 to 29; level mod 10 of 0 to 4 runs kelsDeflateLZ77Fast_8u (greedy), 5 to 9 kelsDeflateLZ77Slow_8u
 * (lazy), with these parameters (maxChain, goodLength, niceLength, lazyLimit):
 *   0: 0,0,0,0     1: 4,8,8,8        2: 4,16,16,9      3: 4,16,16,12     4: 48,32,32,16
 *   5: 32,8,32,16  6: 128,8,256,16   7: 144,8,256,16   8: 192,32,258,128 9: 256,32,258,258
 *  10: 0,0,0,0    11: 3,7,8,258     12: 3,8,16,258    13: 5,8,16,258    14: 16,32,32,258
 *  15: 24,6,32,16 16: 120,7,256,16  17: 140,7,256,16  18: 192,32,258,128 19: 512,32,258,258
 *  20: 0,0,0,0    21: 4,8,8,258     22: 4,16,16,258   23: 4,16,16,258   24: 16,32,32,258
 *  25: 32,8,32,16 26: 128,8,256,16  27: 144,8,256,16  28: 192,32,258,128 29: 512,32,258,258
 * Levels 0, 10 and 20 use a 3-byte hash and the head table only; the others a 4-byte hash and both tables.
 *
 * Arguments and results as kelsDeflateLZ77Fast_8u, with level in place of the parameters.
 * @return kelStatusBadSize if level is above 29 (nothing read or written); otherwise the status of the matcher.
 */
KelStatus kelsDeflateLZ77_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd,
                             Kel32u windowSize, Kel32s* pHashHeads, Kel32s* pHashChain, Kel32u hashTableSize,
                             DeflateCodeEntry* pLitLenCodes, DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut,
                             Kel16u* pDistOut, Kel32s* pDstLen, Kel32u level, Kel32u flushMode);

/**
 * kelsDeflateLZ77Fast_8u - greedy Deflate matching: at each position the longest match (at least 4 bytes, 3 in
 * the 3-byte mode) is taken, else a literal.
 *
 * With flushMode 0 or 1 more input follows: the call stops about 261 bytes before the end of the source (exactly:
 * at the first position p with p >= end - 261, or end - 260 when *pSrcLen is 261) so that every comparison stays
 * inside the source; present those bytes again, followed by more, in the next call. With flushMode 2 or more the
 * input ends here and everything is consumed (unless the items run out); the last three bytes (two in the 3-byte
 * mode) are never covered by a match.
 *
 * @param[in,out] pSrcPtr       pointer to the next source byte; advanced over the bytes consumed
 * @param[in,out] pSrcLen       source bytes available; reduced by the bytes consumed
 * @param[in,out] pSrcPos       position of *pSrcPtr; advanced by the bytes consumed. Before it can pass 2^31 all
 *                              positions are shifted down: when *pSrcPos > windowSize and 0x7FFFFFFF - *pSrcLen
 *                              <= *pSrcPos + windowSize + *pSrcLen (unsigned 32-bit), it becomes windowSize and
 *                              every table entry e becomes max(max(e, -32768) - delta, -32768), delta being the
 *                              shift (the chain table only in the 4-byte modes); a position of 2^31 or more is
 *                              shifted likewise. Every call with input makes progress; only a source of nearly
 *                              2^31 bytes in one call is consumed in part (present the rest again)
 * @param[in]     pHistoryEnd   end of the history (normally equal to *pSrcPtr)
 * @param[in]     windowSize    window in bytes: 256 to 32768, a power of two; pHashChain entries
 * @param[in,out] pHashHeads    hash heads, hashTableSize entries
 * @param[in,out] pHashChain    hash chains, windowSize entries (not used in the 3-byte mode)
 * @param[in]     hashTableSize hash table size: 256 to 65536, a power of two
 * @param[in,out] pLitLenCodes  literal/length counts, 286 entries or more
 * @param[in,out] pDistCodes    distance counts, 30 entries or more
 * @param[out]    pLitLenOut    item literal or length minus 3, from index 0
 * @param[out]    pDistOut      item distance (0 for a literal), from index 0
 * @param[in,out] pDstLen       room in items; reduced by the number of items written
 * @param[in]     pMatchParams  matcher parameters: maxChain 0 (the other fields are then ignored), or maxChain
 *                              positive with the other three fields at least 4
 * @param[in]     flushMode     0 or 1: more input follows; 2 or more: the input ends with this call
 * @return kelStatusNullPointer if any pointer argument or *pSrcPtr is null; kelStatusBadSize if windowSize or
 *         hashTableSize is out of range; kelStatusBadArgument for invalid parameters (in all these cases nothing is
 *         read or written); otherwise kelStatusOk. Running out of item room is not an error: the source is
 *         advanced only over the bytes that became items.
 */
KelStatus kelsDeflateLZ77Fast_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd,
                                 Kel32u windowSize, Kel32s* pHashHeads, Kel32s* pHashChain, Kel32u hashTableSize,
                                 DeflateCodeEntry* pLitLenCodes, DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut,
                                 Kel16u* pDistOut, Kel32s* pDstLen, const DeflateMatchParams* pMatchParams,
                                 Kel32u flushMode);

/**
 * kelsDeflateLZ77Slow_8u - lazy Deflate matching: a match found at one position is held back until the search at
 * the next position shows that no longer match starts there (an equally long one does not replace it).
 *
 * Arguments, bounds and statuses as kelsDeflateLZ77Fast_8u, except that maxChain must be at least 1 and all other
 * fields at least 4 (else kelStatusBadArgument). The held-back item is always written before the call returns,
 * for which one item of room is kept; with room for a single item, or a source of at most 261 bytes, the call
 * runs the greedy scheme instead.
 */
KelStatus kelsDeflateLZ77Slow_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd,
                                 Kel32u windowSize, Kel32s* pHashHeads, Kel32s* pHashChain, Kel32u hashTableSize,
                                 DeflateCodeEntry* pLitLenCodes, DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut,
                                 Kel16u* pDistOut, Kel32s* pDstLen, const DeflateMatchParams* pMatchParams,
                                 Kel32u flushMode);

/**
 * kelsDeflateUpdateHash_8u - insert positions into the hash tables without producing items (for bytes that are
 * stored uncompressed, for example).
 *
 * Inserts positions srcPos to srcPos + srcLen - k, where k is 3 for hashMode 0 and 4 otherwise: hashMode 0 (for a
 * matcher in the 3-byte mode) writes only pHashHeads; other values write both tables.
 *
 * @param[in]     pSrc          the bytes of positions srcPos to srcPos + srcLen - 1
 * @param[in]     srcPos        position of pSrc[0]
 * @param[in]     srcLen        number of bytes; fewer than k: nothing changes
 * @param[in,out] pHashHeads    hash heads, hashTableSize entries
 * @param[in]     hashTableSize 256 to 65536, a power of two
 * @param[in,out] pHashChain    hash chains, windowSize entries
 * @param[in]     windowSize    256 to 32768, a power of two
 * @param[in]     hashMode      0: 3-byte hash, heads only; other: 4-byte hash, heads and chains
 * @return kelStatusNullPointer if pSrc, pHashHeads or pHashChain is null; kelStatusBadSize if windowSize or
 *         hashTableSize is out of range (nothing written in either case); otherwise kelStatusOk.
 */
KelStatus kelsDeflateUpdateHash_8u(const Kel8u* pSrc, Kel32u srcPos, Kel32u srcLen, Kel32s* pHashHeads,
                                   Kel32u hashTableSize, Kel32s* pHashChain, Kel32u windowSize, Kel32u hashMode);

/**
 * kelsDeflateDictionarySet_8u - load a preset dictionary: its last m = min(dictLen, windowSize) bytes are copied
 * to pWindow[0..m) and get positions 0 to m - 1; positions 0 to m - 258 are inserted into the hash tables (none
 * when m is below 258). Compress afterwards with *pSrcPos = m and the source directly after the m bytes.
 *
 * @param[in]     pDict         dictionary bytes
 * @param[in]     dictLen       dictionary length; fewer than k bytes (3 for hashMode 0, else 4): nothing is done
 * @param[in,out] pHashHeads    hash heads, hashTableSize entries, already holding empty values
 * @param[in]     hashTableSize 256 to 65536, a power of two
 * @param[in,out] pHashChain    hash chains, windowSize entries, already holding empty values
 * @param[out]    pWindow       receives the m dictionary bytes (may overlap pDict)
 * @param[in]     windowSize    256 to 32768, a power of two
 * @param[in]     hashMode      as for kelsDeflateUpdateHash_8u
 * @return kelStatusNullPointer if pDict, pHashHeads, pHashChain or pWindow is null; kelStatusBadSize if windowSize
 *         or hashTableSize is out of range (nothing written in either case); otherwise kelStatusOk.
 */
KelStatus kelsDeflateDictionarySet_8u(const Kel8u* pDict, Kel32u dictLen, Kel32s* pHashHeads, Kel32u hashTableSize,
                                      Kel32s* pHashChain, Kel8u* pWindow, Kel32u windowSize, Kel32u hashMode);

/* ============================================================================================================
 * Deflate Huffman writing
 * ============================================================================================================ */

/**
 * kelsDeflateHuff_8u - write items as the Huffman-coded body of a Deflate block (RFC 1951 3.2.5), without block
 * header and end-of-block code, which the caller writes with its own bit writer.
 *
 * Bits are written least significant first. Bits not yet forming a whole byte carry between calls in
 * *pPendingBits and *pPendingCount, so a block may be written in pieces; the caller's own bit writer uses the
 * same convention around the calls. The code tables hold each code bit-reversed within its length (ready to be
 * sent least significant bit first) in freqOrCode and its length (1 to 15) in codeLength. There is no destination
 * size: provide room for 6 bytes per item plus 2.
 *
 * @param[in]     pLitLenIn     per item: literal byte, or match length minus 3
 * @param[in]     pDistIn       per item: 0 for a literal, else the distance 1 to 32768
 * @param[in]     itemCount     number of items; 0 only flushes whole pending bytes
 * @param[in,out] pPendingBits  pending bits, in the low bits; on return fewer than 8
 * @param[in,out] pPendingCount number of pending bits: 0 to 16 on entry, 0 to 7 on return
 * @param[in]     pLitLenCodes  literal/length codes, 286 entries
 * @param[in]     pDistCodes    distance codes, 30 entries
 * @param[out]    pDst          destination; bytes are stored from pDst[*pDstPos] on, none past the final value
 * @param[in,out] pDstPos       byte offset of the next byte to write; advanced past the bytes written
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadArgument if *pPendingCount is above 16 (nothing
 *         written in either case); otherwise kelStatusOk.
 */
KelStatus kelsDeflateHuff_8u(const Kel8u* pLitLenIn, const Kel16u* pDistIn, Kel32u itemCount, Kel16u* pPendingBits,
                             Kel32u* pPendingCount, const DeflateCodeEntry* pLitLenCodes,
                             const DeflateCodeEntry* pDistCodes, Kel8u* pDst, Kel32u* pDstPos);

/* ============================================================================================================
 * Deflate fastest path: statistics and codes
 *
 * The single-probe Deflate encoder: one hash-table probe per position (the newest earlier position with the same
 * 4-byte hash, taken if its first four bytes agree, extended to at most 258 bytes), no chains, no item buffers.
 * For a dynamic-Huffman block the caller zeroes two count tables, gathers counts over the block's input with
 * kelsDeflateLZ77FastestGetStat_8u, turns them into codes with kelsDeflateLZ77FastestGenHuffTable_8u, optionally
 * precomputes the header with kelsDeflateLZ77FastestGenHeader_8u, and encodes the same input with
 * kelsDeflateLZ77FastestPrecompHeader_8u or kelsDeflateLZ77Fastest_8u. For fixed codes it calls the encoder alone.
 *
 * Positions, history, windowSize, hashTableSize and the head table are as for kelsDeflateLZ77Fast_8u (the chain
 * table is not used). The statistics pass writes positions into the head table it is given: give it a table of
 * its own (or a copy), since the encoder must not see positions of bytes it has not encoded yet; an entry that
 * does not lie before the position being coded is ignored, so a stale table costs matches, never correctness.
 * ============================================================================================================ */

/**
 * kelsDeflateLZ77FastestGetStat_8u - count the literal/length and distance symbols that the single-probe parse of
 * the input produces.
 *
 * With flushMode 0 or 1 the call stops before position end - 258 (end = *pSrcPos + *pSrcLen) so that no match
 * reads past the source; present the rest again, followed by more, in the next call. With flushMode 2 or more it
 * makes one more parse step and counts every byte after it as a literal; if at most three bytes are left before
 * that step, they are neither counted nor consumed. Positions are shifted down by the rule of the encoder (head
 * table only), so that given the same position and length both shift at the same call.
 *
 * @param[in,out] pSrcPtr       pointer to the next source byte; advanced over the bytes consumed
 * @param[in,out] pSrcLen       source bytes available; reduced by the bytes consumed
 * @param[in,out] pSrcPos       position of *pSrcPtr; advanced by the bytes consumed. Before it can pass 2^31 it
 *                              becomes windowSize and the head entries are shifted, as for kelsDeflateLZ77Fast_8u
 * @param[in]     pHistoryEnd   end of the history (normally equal to *pSrcPtr)
 * @param[in]     windowSize    window in bytes: 256 to 32768, a power of two
 * @param[in,out] pHashHeads    hash heads, hashTableSize entries
 * @param[in]     hashTableSize 256 to 65536, a power of two
 * @param[in,out] pLitLenCounts 286 counts (literals 0-255, 256 end of block, 257-285 lengths); 1 is added per
 *                              symbol, wrapping at 2^32
 * @param[in,out] pDistCounts   30 distance counts
 * @param[in]     flushMode     0 or 1: more input follows; 2 or more: the input ends with this call
 * @return kelStatusNullPointer if any pointer, or *pSrcPtr, is null; kelStatusBadSize if windowSize or
 *         hashTableSize is out of range (nothing read or written in either case); otherwise kelStatusOk.
 */
KelStatus kelsDeflateLZ77FastestGetStat_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                           const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                           Kel32u hashTableSize, Kel32u* pLitLenCounts, Kel32u* pDistCounts,
                                           Kel32u flushMode);

/**
 * kelsDeflateLZ77FastestGenHuffTable_8u - length-limited canonical Huffman codes from symbol counts.
 *
 * Every symbol gets a code, counted or not (a count of 0 weighs as 1), so the codes can write any symbol. The
 * codes are built by sorting and merging the counts; while the longest code exceeds its limit (15 bits for
 * literals/lengths, 9 for distances) the counts are raised by 1, 2, ... up to 4095 and the construction repeated.
 * The result is fully determined by the counts. Counts above 2^31 - 1 weigh as 2^31 - 1.
 *
 * @param[in]  pLitLenCounts 286 literal/length counts
 * @param[in]  pDistCounts   30 distance counts
 * @param[out] pLitLenCodes  286 entries: code (bit-reversed, ready for least-significant-first output) and length
 * @param[out] pDistCodes    30 entries, likewise
 * @return kelStatusNullPointer if any pointer is null (nothing written); kelStatusCodeLengthLimit if a limit could
 *         not be met (the codes are written all the same but are not usable for Deflate); otherwise kelStatusOk.
 */
KelStatus kelsDeflateLZ77FastestGenHuffTable_8u(const Kel32u* pLitLenCounts, const Kel32u* pDistCounts,
                                                DeflateCodeEntry* pLitLenCodes, DeflateCodeEntry* pDistCodes);

/* ============================================================================================================
 * Deflate fastest path: header and encoder
 *
 * Bits are written least significant first. Bits not yet forming whole bytes carry between calls in
 * *pPendingBits / *pPendingCount (0 to 16 bits), as for kelsDeflateHuff_8u, and the caller's own bit writer uses
 * the same convention: it puts the three bits that open a block (final flag, block type) into the pending bits
 * before the block's first call, and the end-of-block code and anything after it once the block's input is done.
 * The encoders write a dynamic block's header only at stream position 0 (*pSrcPos == 0); any later call continues
 * the block without one, so a stream of several dynamic blocks needs the caller to write the later headers
 * itself (for example from the bits of kelsDeflateLZ77FastestGenHeader_8u, dropping its first three).
 * ============================================================================================================ */

/**
 * kelsDeflateLZ77FastestGenHeader_8u - the dynamic block header for a pair of code tables: final-block flag 1,
 * block type 2, 286 literal/length and 30 distance lengths (all of them, untrimmed), run-length coded with a
 * code-length code of at most 7 bits.
 *
 * @param[in]  pLitLenCodes 286 literal/length codes (codeLength 0 to 15)
 * @param[in]  pDistCodes   30 distance codes (codeLength 0 to 15)
 * @param[out] pHeader      the header bits, least significant first, from bit 0 of byte 0; at most 286 bytes
 * @param[out] pHeaderBytes the number of bytes written, (bits + 7) / 8
 * @param[out] pHeaderBits  the number of header bits
 * @return kelStatusNullPointer if any pointer is null; kelStatusBadArgument if a code length is above 15 (nothing
 *         written in either case); otherwise kelStatusOk.
 */
KelStatus kelsDeflateLZ77FastestGenHeader_8u(const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes,
                                             Kel8u* pHeader, Kel32s* pHeaderBytes, Kel32s* pHeaderBits);

/**
 * kelsDeflateLZ77FastestPrecompHeader_8u - single-pass Deflate encoding with fixed codes, or with the caller's
 * codes and, at stream position 0, a precomputed or generated block header.
 *
 * Codes: with both code tables null the RFC 1951 fixed codes; otherwise the caller's codes (from
 * kelsDeflateLZ77FastestGenHuffTable_8u: every symbol the input may need must have a code). At *pSrcPos 0 with
 * codes given, the header goes out first, after the pending bits: pHeader given, its bits from bit 3 on (the first
 * three are the caller's, already pending); pHeader null, a header generated on the spot (literal/length and
 * distance counts trimmed, code-length code of two lengths). Give enough room at position 0 for the header and
 * some output: a call there that consumes nothing has written the header and will write it again next time.
 * A short stream (end = *pSrcPos + *pSrcLen at most 258) with codes given always starts with a literal, so
 * encoding it in several calls can give other bits than in one.
 *
 * Room: the main loop runs while at least 5 bytes of room are left (an item whose bits need a sixth byte waits for
 * the next call), and needs dstLen of at least 4; with flushMode 2 or more the last bytes are written into any
 * room left, an item at a time, as long as at most 16 bits stay pending. With 8 bytes of room a call always makes
 * progress; with less it may return having encoded nothing. A full destination is not an error: the source is
 * advanced over the bytes encoded; empty pDst (from offset 0 up to *pDstPos) and call again. Bytes of pDst from
 * the final *pDstPos up to dstLen may have been overwritten.
 *
 * @param[in,out] pSrcPtr       pointer to the next source byte; advanced over the bytes encoded
 * @param[in,out] pSrcLen       source bytes available; reduced by the bytes encoded
 * @param[in,out] pSrcPos       position of *pSrcPtr; advanced by the bytes encoded. Before it can pass 2^31 it
 *                              becomes windowSize and the head entries are shifted, as for kelsDeflateLZ77Fast_8u
 * @param[in]     pHistoryEnd   end of the history (normally equal to *pSrcPtr)
 * @param[in]     windowSize    window in bytes: 256 to 32768, a power of two
 * @param[in,out] pHashHeads    hash heads, hashTableSize entries
 * @param[in]     hashTableSize 256 to 65536, a power of two
 * @param[in,out] pPendingBits  pending bits, in the low bits
 * @param[in,out] pPendingCount number of pending bits: 0 to 16 on entry and on return
 * @param[out]    pDst          destination
 * @param[in]     dstLen        size of pDst in bytes
 * @param[in,out] pDstPos       byte offset in pDst of the next byte to write; advanced past the bytes written
 * @param[in]     pLitLenCodes  288 literal/length codes (entries 286 and 287 of length 0), or null for fixed codes
 * @param[in]     pDistCodes    30 distance codes; null exactly when pLitLenCodes is null
 * @param[in]     pHeader       header from kelsDeflateLZ77FastestGenHeader_8u, or null; only with codes
 * @param[in]     headerBits    number of bits in pHeader (at least 1 when pHeader is given)
 * @param[in]     flushMode     0 or 1: more input follows (the call stops before position end - 258); 2 or more:
 *                              the input ends with this call
 * @return kelStatusNullPointer if one of the first nine pointers or *pSrcPtr is null; kelStatusBadSize if
 *         windowSize or hashTableSize is out of range, or *pDstPos is not below dstLen;
 *         kelStatusNullPointer if pLitLenCodes is given without pDistCodes; kelStatusBadSize if pHeader is given
 *         with headerBits below 1; kelStatusNullPointer if pLitLenCodes is null but pDistCodes or pHeader is not;
 *         kelStatusBadArgument if *pPendingCount is above 16 or a code length above 15 (nothing read or written in
 *         all these cases); kelStatusBadSize if the header at position 0 does not fit (with a precomputed header,
 *         room for its whole bytes plus one), or if the first literal of a short stream would need stores beyond
 *         dstLen - 4 (pDst past *pDstPos may then have been written, nothing else has changed);
 *         otherwise kelStatusOk.
 */
KelStatus kelsDeflateLZ77FastestPrecompHeader_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                                 const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                                 Kel32u hashTableSize, Kel16u* pPendingBits, Kel32u* pPendingCount,
                                                 Kel8u* pDst, Kel32u dstLen, Kel32u* pDstPos,
                                                 const DeflateCodeEntry* pLitLenCodes,
                                                 const DeflateCodeEntry* pDistCodes, const Kel8u* pHeader,
                                                 Kel32s headerBits, Kel32u flushMode);

/**
 * kelsDeflateLZ77Fastest_8u - kelsDeflateLZ77FastestPrecompHeader_8u without a precomputed header (pHeader null,
 * headerBits 0): fixed codes when both code tables are null, else the caller's codes with a header generated on
 * the spot at stream position 0.
 */
KelStatus kelsDeflateLZ77Fastest_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd,
                                    Kel32u windowSize, Kel32s* pHashHeads, Kel32u hashTableSize, Kel16u* pPendingBits,
                                    Kel32u* pPendingCount, Kel8u* pDst, Kel32u dstLen, Kel32u* pDstPos,
                                    const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes,
                                    Kel32u flushMode);

/* ============================================================================================================
 * Inflate
 *
 * Decoding of Deflate block payloads (RFC 1951). The caller parses the wrapper (zlib, gzip), the block headers,
 * stored blocks and the code-length code of dynamic blocks itself; it builds the decoding tables of a dynamic
 * block with kelsInflateBuildHuffTable (or sets tableKind to 0 for a fixed block) and calls kelsInflate_8u until
 * the block ends, feeding more source or draining the destination between calls. Both functions work on a
 * caller-allocated InflateContext of sizeof(InflateContext) = 7216 bytes (no GetSize or Init function; it holds no
 * pointer into itself). One context serves one stream at a time; concurrent calls on different contexts are safe.
 * ============================================================================================================ */

/**
 * InflateContext - decoding tables, history window and resume state of one Deflate block. The byte offsets are
 * part of the interface (little-endian, natural alignment): the caller writes window, windowSize and (0 for a
 * fixed block) tableKind directly and must leave everything else untouched between the calls of one block.
 */
typedef struct InflateContext {
    const Kel8u* window;   /**< offset 0: circular history window (written only where it holds the room), or null */
    Kel32u windowSize;     /**< offset 8: size of window in bytes */
    Kel32u tableKind;      /**< offset 12: 0 fixed code (built-in table), 1 two-level table, 2 short table */
    Kel8u reserved[8];     /**< offset 16: not read or written by either function */
    Kel32u resumeState;    /**< offset 24: saved sub-state while suspended (block mode 2) */
    Kel32u resumeValue;    /**< offset 28: saved literal, length or bytes still to copy */
    Kel32u resumeExtra;    /**< offset 32: saved extra-bit count */
    Kel32u resumeDistance; /**< offset 36: saved distance */
    Kel32u maxLitLen;      /**< offset 40: short table only: longest literal/length code length */
    Kel32u maxDistLen;     /**< offset 44: short table only: longest distance code length (0: no distances) */
    Kel8u tables[7168];    /**< offset 48: decoding tables (6912 bytes for a two-level table) */
} InflateContext;

/** Block modes of kelsInflate_8u (*pBlockMode). */
enum InflateBlockMode {
    /** Out: the end-of-block code was consumed; the next block header follows. In: start at a symbol boundary. */
    InflateModeEndOfBlock = 0,
    /** Out: stopped at a symbol boundary, the held bits and the source do not hold the next literal/length code;
     *  nothing is pending. In: start at a symbol boundary. */
    InflateModeNeedInput = 1,
    /** Out: stopped inside a symbol (waiting for bits or for room); the context holds the rest. In: resume it. */
    InflateModeSuspended = 2
};

/**
 * kelsInflateBuildHuffTable - validate the code lengths of one dynamic Deflate block and build its decoding
 * tables into pContext.
 *
 * Each set (literal/length, distance) must be complete, or consist of exactly one code of length 1. The short
 * table (tableKind 2) is built when no literal/length code exceeds 11 bits and no distance code 10 bits; it
 * needs an end-of-block code. Otherwise the two-level table (tableKind 1) is built; it accepts a set without
 * end-of-block code (such a block cannot end) and gives symbols 286 and 287 no meaning (decoding them fails).
 *
 * @param[in]     codeLens    numLitLens literal/length code lengths (symbols 0, 1, ...) followed by numDistLens
 *                            distance code lengths, each 0 (symbol unused) to 15
 * @param[in]     numLitLens  number of literal/length lengths, 0 to 288
 * @param[in]     numDistLens number of distance lengths, 0 to 30; no non-zero distance length at all is
 *                            accepted (the block then must not contain a match)
 * @param[in,out] pContext    receives tableKind, the tables and, for the short table, maxLitLen and maxDistLen;
 *                            window, windowSize and the resume fields are not touched
 * @return kelStatusNullPointer if codeLens or pContext is null;
 *         kelStatusBadSize if numLitLens > 288, numDistLens < 0 or numDistLens > 30;
 *         kelStatusBadStream if the literal/length set has no code, is over-subscribed or incomplete, or has a
 *         length above 15 (then nothing is written); the same for the distance set; for a short table, if
 *         numLitLens < 257 (maxLitLen and maxDistLen have been written) or symbol 256 has no code (the literal
 *         entries have been written too); tableKind keeps its previous value on every error;
 *         otherwise kelStatusOk.
 */
KelStatus kelsInflateBuildHuffTable(const Kel16u* codeLens, Kel32u numLitLens, int numDistLens,
                                    InflateContext* pContext);

/**
 * kelsInflate_8u - decode the Huffman-coded payload of one Deflate block, resumably at any bit.
 *
 * Bits: *pBitBuf holds *pBitCount not yet consumed stream bits in its low bits, the oldest in bit 0 (the bits
 * above the count are ignored). Source bytes are appended above them one at a time. The caller reads block
 * headers and code lengths the same way and passes the buffer in again; when a block ends, the next header
 * (or, after the final block, the wrapper's trailer) starts in the held bits.
 *
 * History: the dstPos bytes just before *pDstPtr, then everything this call writes, are the newest history; older
 * history is in the circular window of windowSize bytes whose newest byte is window[(winPos - 1) mod windowSize].
 * window may be null when no match can reach past the destination's valid bytes. A match reaching further back
 * than windowSize bytes beyond them, or into a null window, fails with kelStatusBadStream.
 *
 * Layouts: two are supported.
 * - Separate: the destination (its dstPos valid bytes and its room) and the window do not overlap. The function
 *   does not write the window; output that later matches may reach must be copied there by the caller between
 *   calls. Matches may write up to 45 bytes past their end inside the destination room; bytes past the returned
 *   *pDstPtr are undefined.
 * - Destination inside the window: the destination's first valid byte is window + winPos (*pDstPtr = window +
 *   winPos + dstPos) and the room ends at or before window + windowSize. This is a caller decoding straight into
 *   its circular window: it adds the bytes written to winPos (dstPos 0) or to dstPos, and restarts at window + 0
 *   when the end is reached. The room past the output then holds the oldest history, so matches may reach at
 *   most windowSize bytes back, and the function writes exactly the bytes it decodes: nothing past *pDstPtr.
 * The function notices any overlap of the room with the window (once per call) and then copies exactly. Other
 * overlapping layouts, and a source overlapping the destination or the window, give undefined output; even then
 * the function reads and writes only the buffers described here.
 *
 * Stopping: at the end-of-block code (block mode 0); when the source ends at a symbol boundary (block mode 1);
 * when the source ends inside a symbol or the destination is full (block mode 2, the sub-state saved in the
 * context). A full destination does not stop the decoder at a symbol boundary: it decodes the next symbol first,
 * so block mode 2 with *pDstLen = 0 means more room is needed. Call again with the same context, bit buffer and
 * block mode, and more source or a drained destination (if the destination is replaced, copy its bytes into the
 * window and pass dstPos 0; if it is kept, pass the grown dstPos).
 *
 * @param[in,out] pSrcPtr    source pointer, advanced past the bytes moved into the bit buffer
 * @param[in,out] pSrcLen    source bytes left, reduced by as many (a negative count is taken as 0)
 * @param[in,out] pBitBuf    held bits
 * @param[in,out] pBitCount  number of held bits, 0 to 32
 * @param[in]     winPos     one past the newest window byte, 0 to windowSize
 * @param[in,out] pDstPtr    destination pointer, advanced past the bytes written
 * @param[in,out] pDstLen    destination room in bytes, reduced by the bytes written (negative: no room)
 * @param[in]     dstPos     number of valid history bytes just before *pDstPtr (not written back)
 * @param[in,out] pBlockMode in: 2 resumes a suspended symbol, any other value starts at a symbol boundary;
 *                           out: InflateModeEndOfBlock, InflateModeNeedInput or InflateModeSuspended
 * @param[in,out] pContext   tables of the block (tableKind 0, 1 or 2), window fields and resume state
 * @return kelStatusNullPointer if any pointer argument, *pSrcPtr or *pDstPtr is null;
 *         kelStatusBadSize if *pBitCount > 32 or winPos > windowSize (nothing written for either);
 *         kelStatusBadStream if tableKind is not 0, 1 or 2 (the in-out values are written back unchanged), or
 *         at an invalid code, a match beyond the history, or a damaged context: the bytes decoded before it are
 *         written and accounted for, the bit buffer and source reflect the bits consumed, *pBlockMode keeps its
 *         entry value, and the block cannot be continued;
 *         otherwise kelStatusOk with *pBlockMode as above.
 */
KelStatus kelsInflate_8u(Kel8u** pSrcPtr, int* pSrcLen, Kel32u* pBitBuf, Kel32u* pBitCount, Kel32u winPos,
                         Kel8u** pDstPtr, int* pDstLen, Kel32u dstPos, int* pBlockMode, InflateContext* pContext);

/* ============================================================================================================
 * LZ4 decoding
 *
 * Raw LZ4 blocks (no frame, no checksum): per sequence a token (literal count in the high nibble, match length - 4
 * in the low nibble), length extensions of 255-valued bytes, the literals, a 16-bit little-endian offset and the
 * match. A block ends when its source ends, after a sequence's literals or at a token.
 * ============================================================================================================ */

/**
 * kelsDecodeLZ4_8u - decode one complete LZ4 block in one call.
 *
 * Every match must refer to bytes decoded by this same call. The decoder never reads or writes outside the two
 * buffers, whatever the input.
 *
 * @param[in]     pSrc    the block
 * @param[in]     srcLen  block length in bytes, at least 1
 * @param[out]    pDst    destination; bytes between the decoded length and the capacity may be overwritten
 * @param[in,out] pDstLen in: destination capacity in bytes, at least 1; out: decoded length, or -1 on
 *                        kelStatusStreamOverrun
 * @return kelStatusNullPointer if pSrc, pDst or pDstLen is null; kelStatusBadSize if srcLen < 1 or *pDstLen < 1
 *         (nothing written); kelStatusStreamOverrun if the block is malformed: literals past the source or the
 *         capacity, a match past the capacity, an offset of 0 or one reaching before pDst, or a block cut inside
 *         an offset or a length extension (*pDstLen = -1; bytes decoded so far stay in pDst); otherwise
 *         kelStatusOk.
 */
KelStatus kelsDecodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen);

/* ============================================================================================================
 * LZ4 encoding
 *
 * One buffer into one LZ4 block with a single-probe hash matcher. The caller allocates the hash table
 * (kelsEncodeLZ4HashTableGetSize_8u bytes); both encoders clear it at every call, so no state carries over and
 * kelsEncodeLZ4HashTableInit_8u is not needed before them. The output depends only on the source.
 * ============================================================================================================ */

/**
 * kelsEncodeLZ4_8u - compress a buffer into one LZ4 block; the destination capacity is not checked.
 *
 * @param[in]  pSrc       source bytes
 * @param[in]  srcLen     source length in bytes, at least 1
 * @param[out] pDst       destination; must hold srcLen + (srcLen - 15) / 255 + 2 bytes (srcLen + 1 below 15)
 *                        plus 8 bytes of scratch
 * @param[out] pDstLen    receives the compressed size in bytes
 * @param[in,out] pHashTable hash table of kelsEncodeLZ4HashTableGetSize_8u bytes; cleared first, then used
 * @return kelStatusNullPointer if pHashTable is null (checked by the clearing, before anything else) or if pSrc,
 *         pDst or pDstLen is null; kelStatusBadSize if srcLen < 1; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen, Kel8u* pHashTable);

/**
 * kelsEncodeLZ4Safe_8u - compress as much of a buffer as fits a destination capacity into one LZ4 block.
 *
 * With ample capacity the block is identical to kelsEncodeLZ4_8u's. Otherwise the block stops at the first match
 * that would come within 8 bytes of the capacity and ends with as many literals as fit; the rest of the source can
 * be compressed as a further, independent block from pSrc + *pSrcLen.
 *
 * @param[in]     pSrc       source bytes
 * @param[in,out] pSrcLen    in: source length in bytes, at least 1; out: number of source bytes the block covers
 * @param[out]    pDst       destination; nothing is written past the capacity
 * @param[in,out] pDstLen    in: capacity in bytes, at least 1; out: compressed size in bytes
 * @param[in,out] pHashTable hash table of kelsEncodeLZ4HashTableGetSize_8u bytes; cleared first, then used
 * @return kelStatusNullPointer if pSrcLen is null, then if pHashTable is null (the clearing), then if pSrc, pDst
 *         or pDstLen is null; kelStatusBadSize if *pSrcLen < 1 or *pDstLen < 1; kelStatusDstFull (a warning) if
 *         the block covers only part of the source; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4Safe_8u(const Kel8u* pSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen, Kel8u* pHashTable);

/**
 * kelsEncodeLZ4HashTableGetSize_8u - size of the hash table of the LZ4 block encoders.
 *
 * @param[out] pSize receives 16384 (bytes)
 * @return kelStatusNullPointer if pSize is null; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4HashTableGetSize_8u(Kel32u* pSize);

/**
 * kelsEncodeLZ4HashTableInit_8u - clear the hash table for a source of srcLen bytes (4096 16-bit entries below
 * 65536 bytes, 4096 32-bit entries from 65536 on).
 *
 * @param[out] pHashTable hash table of kelsEncodeLZ4HashTableGetSize_8u bytes
 * @param[in]  srcLen     source length in bytes, at least 1
 * @return kelStatusNullPointer if pHashTable is null; kelStatusBadSize if srcLen < 1; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4HashTableInit_8u(Kel8u* pHashTable, int srcLen);

/* ============================================================================================================
 * LZ4 dictionary encoding
 *
 * Blocks whose matches may reach up to 65535 bytes back into history: a prefix (the srcIdx bytes in front of pSrc
 * in the same buffer) or an external dictionary (pDict, standing for the dictLen positions just before the block).
 * The hash table (kelsEncodeLZ4HashTableGetSize_8u bytes, 4096 32-bit entries) is the caller's running index of
 * the stream: keep it between the blocks of one stream. Each call first lowers every entry above srcIdx - 1 to
 * srcIdx - 1 (and clears the table when srcIdx is 0), so a caller that moves its history only passes the new
 * srcIdx. A decoder must present the history immediately before the block's output.
 * ============================================================================================================ */

/**
 * kelsEncodeLZ4Dict_8u - compress one block with history; the destination capacity is not checked.
 *
 * Prefix mode when pDict is null or dictLen is 0, or when the dictionary is exactly the prefix (srcIdx == dictLen
 * and pDict + dictLen == pSrc); otherwise external-dictionary mode. With srcIdx 0 and no dictionary the block equals
 * kelsEncodeLZ4_8u's for sources of 65536 bytes or more.
 *
 * @param[in]     pSrc       the block's bytes; in prefix mode the srcIdx bytes before it must be readable
 * @param[in]     srcIdx     position of the block in the stream (bytes of history before it), at least 0
 * @param[in]     srcLen     block length in bytes, at least 1
 * @param[out]    pDst       destination; room as for kelsEncodeLZ4_8u
 * @param[out]    pDstLen    receives the compressed size in bytes
 * @param[in,out] pHashTable the stream's table, prepared as above
 * @param[in]     pDict      external dictionary, or null
 * @param[in]     dictLen    dictionary length in bytes
 * @return kelStatusNullPointer if pHashTable is null (checked by the preparation, before anything else);
 *         kelStatusBadSize if pDict is not null and dictLen < 0; kelStatusNullPointer if pSrc, pDst or pDstLen is
 *         null; kelStatusBadSize if srcLen < 1; kelStatusBadArgument if srcIdx < 0 or srcIdx + srcLen exceeds
 *         2^31 - 1; otherwise kelStatusOk. The table is prepared even when a later check fails.
 */
KelStatus kelsEncodeLZ4Dict_8u(const Kel8u* pSrc, int srcIdx, int srcLen, Kel8u* pDst, int* pDstLen,
                               Kel8u* pHashTable, const Kel8u* pDict, int dictLen);

/**
 * kelsEncodeLZ4DictSafe_8u - compress as much of a block with history as fits a destination capacity.
 *
 * Modes and table as kelsEncodeLZ4Dict_8u; capacity rule and results as kelsEncodeLZ4Safe_8u.
 *
 * @param[in]     pSrc       the block's bytes
 * @param[in]     srcIdx     position of the block in the stream, at least 0
 * @param[in,out] pSrcLen    in: block length in bytes, at least 1; out: number of source bytes the block covers
 * @param[out]    pDst       destination; nothing is written past the capacity
 * @param[in,out] pDstLen    in: capacity in bytes, at least 1; out: compressed size in bytes
 * @param[in,out] pHashTable the stream's table
 * @param[in]     pDict      external dictionary, or null
 * @param[in]     dictLen    dictionary length in bytes
 * @return kelStatusNullPointer if pHashTable is null; kelStatusBadSize if pDict is not null and dictLen < 0;
 *         kelStatusNullPointer if pSrc, pDst, pDstLen or pSrcLen is null; kelStatusBadSize if *pSrcLen < 1 or
 *         *pDstLen < 1; kelStatusBadArgument if srcIdx < 0 or srcIdx + *pSrcLen exceeds 2^31 - 1; kelStatusDstFull
 *         (a warning) if the block covers only part of the source; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4DictSafe_8u(const Kel8u* pSrc, int srcIdx, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                   Kel8u* pHashTable, const Kel8u* pDict, int dictLen);

/**
 * kelsEncodeLZ4DictHashTableInit_8u - clear the table of a dictionary stream (4096 32-bit entries).
 *
 * @param[out] pHashTable hash table of kelsEncodeLZ4HashTableGetSize_8u bytes
 * @param[in]  srcLen     length of the first block in bytes, at least 1 (not otherwise used)
 * @return kelStatusNullPointer if pHashTable is null; kelStatusBadSize if srcLen < 1; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4DictHashTableInit_8u(Kel8u* pHashTable, int srcLen);

/* ============================================================================================================
 * LZ4 high compression
 *
 * LZ4 blocks from a hash-chain matcher (levels 1 to 9: 2^(level - 1) candidates per search) with a three-match
 * look-ahead parse. pSrc is the stream base: the block is pSrc[srcIdx .. srcIdx + *pSrcLen - 1] and the bytes
 * before it are history that matches may reach (up to 65534 bytes back). The caller allocates the two tables
 * (kelsEncodeLZ4HCHashTableGetSize_8u) and must clear them with kelsEncodeLZ4HCHashTableInit_8u before every call:
 * the encoder indexes the whole stream from position 0 again and does not clear them itself.
 * ============================================================================================================ */

/**
 * kelsEncodeLZ4HC_8u - compress one block with the high-compression matcher; the capacity is not checked.
 *
 * @param[in]     pSrc     stream base
 * @param[in]     srcIdx   position of the block (bytes of history before it), at least 0
 * @param[in,out] pSrcLen  in: block length in bytes, at least 1; out: bytes covered (always the whole block)
 * @param[out]    pDst     destination; room as for kelsEncodeLZ4_8u
 * @param[out]    pDstLen  receives the compressed size in bytes
 * @param[in,out] ppTables two pointers: the hash table and the chain table, both cleared before the call
 * @param[in]     pDict    null, or a dictionary that must end exactly at pSrc (it is never read: the history is
 *                         pSrc[0 .. srcIdx - 1], so an accepted dictionary changes nothing)
 * @param[in]     dictLen  dictionary length in bytes
 * @param[in]     level    1 to 9; 0 means 9, smaller values count as 1 and larger as 9
 * @return kelStatusBadSize if pDict is not null and dictLen < 0; kelStatusNotSupportedMode if a non-empty
 *         dictionary does not end at pSrc; kelStatusNullPointer if pSrc, pSrcLen, pDst, pDstLen, ppTables or
 *         either table is null; kelStatusBadSize if *pSrcLen < 1; kelStatusBadArgument if srcIdx < 0 or
 *         srcIdx + *pSrcLen exceeds 2^31 - 1; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4HC_8u(const Kel8u* pSrc, int srcIdx, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                             Kel8u** ppTables, const Kel8u* pDict, int dictLen, int level);

/**
 * kelsEncodeLZ4HCHashTableGetSize_8u - sizes of the two high-compression tables.
 *
 * @param[out] pHashSize  receives 131072 (bytes: 32768 32-bit entries)
 * @param[out] pChainSize receives 262144 (bytes: 65536 32-bit entries)
 * @return kelStatusNullPointer if either pointer is null; otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4HCHashTableGetSize_8u(Kel32u* pHashSize, Kel32u* pChainSize);

/**
 * kelsEncodeLZ4HCHashTableInit_8u - clear both high-compression tables.
 *
 * @param[in,out] ppTables two pointers: the hash table, then the chain table
 * @return kelStatusNullPointer if ppTables or the hash table is null (nothing cleared), or if the chain table is
 *         null (the hash table is cleared); otherwise kelStatusOk.
 */
KelStatus kelsEncodeLZ4HCHashTableInit_8u(Kel8u** ppTables);

/* ============================================================================================================
 * LZO1X
 *
 * One-call coding of a whole buffer as an LZO1X stream, and two decoders. Both decoders also accept a multi-part
 * container (byte 0x55, part count p of 1 to 32, p XOR 0x55, the total length T as 32-bit little-endian, the
 * compressed sizes of parts 1 to p-1, then the parts): part i decodes into the destination at i * (T / p) and
 * holds T / p bytes, the last part the remainder as well. Since a plain stream may begin with the same bytes
 * (0x55 opens a run of 68 literals), a source is read as a container only when its parts tile it exactly, each
 * part is a complete stream ending with its end marker at its last byte and producing exactly its slice, and
 * the source as a whole is not one complete plain stream; otherwise it is one plain stream. So every output of
 * an LZO1X encoder, this one's or another's, decodes as the stream it is.
 *
 * A stream ends at the first long-distance instruction with distance 16384, whatever its length field and tail
 * bits (17 0 0 as written by the encoder, but also 17 1 0 or 16 0 17 0 0); bytes after it are not read.
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
 * Literal runs are copied in 16-byte moves, so bytes past the stream (within that worst case) may be overwritten.
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
 * kelsDecodeLZO_8u - decode an LZO1X stream or multi-part container, for trusted data.
 *
 * An incoming *pDstLen above 0 is the capacity of pDst, checked as kelsDecodeLZOSafe_8u checks it (the checks
 * cost next to nothing). An incoming 0 means "no capacity": the caller vouches that pDst holds the whole output
 * (for a container, T bytes). The stream is then decoded with no limit on the output, and no byte is written
 * past the last one it produces, so a destination of exactly the decoded size suffices. The source, the match
 * distances and, for a container, its structure are checked in both cases: the decoder never reads outside
 * pSrc[0, srcLen) nor reaches before pDst.
 *
 * @param[in]     pSrc    compressed bytes
 * @param[in]     srcLen  their number; 0, or a source beginning with an end marker, decodes to 0 bytes
 * @param[out]    pDst    destination
 * @param[in,out] pDstLen in: capacity of pDst in bytes, or 0 for none (trusted data); out: the bytes written
 *                        (for a container, the sum over its parts)
 * @return kelStatusNullPointer if pSrc, pDst or pDstLen is null; kelStatusLZOBrokenStream if the stream is
 *         malformed, runs past the source or the capacity (or past 2^32 - 1 bytes of output), or a match
 *         reaches before the start of the output (pDst may then be partly written and *pDstLen holds what was
 *         written); otherwise kelStatusOk.
 */
KelStatus kelsDecodeLZO_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen);

/**
 * kelsDecodeLZOSafe_8u - decode an LZO1X stream or multi-part container, checking every read and write.
 *
 * Arguments, statuses and results as kelsDecodeLZO_8u, except that *pDstLen in is always the capacity: 0 is a
 * capacity of 0 bytes, so any stream that produces output is broken.
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

/* ============================================================================================================
 * bzip2 run-length stage and dictionary
 *
 * The first stage of a bzip2 block: bytes are copied literally, and after four equal bytes a count byte c (0 to
 * 255) stands for c further copies, so a run of n equal bytes (4 <= n <= 259) is the byte four times then n - 4;
 * longer runs are split into 259-runs and a remainder, and counting starts afresh after every count byte.
 *
 * The run-length state block is kelsRLEGetSize_BZ2_8u bytes (264), any alignment: bytes [0, 256) are the encoder's
 * in-use table (byte v is 1 once value v has been written, as a literal or as a count byte), followed by two int32:
 * the last byte seen or the pending byte (-1 for none) and the run count or the number of pending copies. One block
 * serves one direction. An in-use table is 256 bytes, non-zero for each byte value in use; the dictionary size is
 * the number of values in use.
 * ============================================================================================================ */

/**
 * kelsRLEGetSize_BZ2_8u - size of the run-length state block, for the encoder and the decoder alike.
 *
 * @param[out] pRLEStateSize receives 264 (bytes)
 * @return kelStatusNullPointer if pRLEStateSize is null; otherwise kelStatusOk.
 */
KelStatus kelsRLEGetSize_BZ2_8u(int* pRLEStateSize);

/**
 * kelsEncodeRLEInit_BZ2_8u - prepare a run-length state block for encoding: clears the in-use table, sets the last
 * byte to -1 and the run count to 0. Call it at the start of every block.
 *
 * @param[out] pRLEState state block of kelsRLEGetSize_BZ2_8u bytes
 * @return kelStatusNullPointer if pRLEState is null; otherwise kelStatusOk.
 */
KelStatus kelsEncodeRLEInit_BZ2_8u(Kel8u* pRLEState);

/**
 * kelsEncodeRLE_BZ2_8u - run-length encode the next piece of a block. The input may come in pieces of any size; a
 * run continues across calls and is closed by the next differing byte or by kelsEncodeRLEFlush_BZ2_8u.
 *
 * @param[in,out] ppSrc     source pointer; advanced past the bytes consumed
 * @param[in,out] pSrcLen   source length in bytes, at least 1; reduced by the bytes consumed
 * @param[out]    pDst      destination (not advanced: the caller adds *pDstLen itself)
 * @param[in,out] pDstLen   destination capacity in bytes, at least 1; receives the number of bytes written
 * @param[in,out] pRLEState state prepared by kelsEncodeRLEInit_BZ2_8u: in-use table, last byte, run count
 * @return kelStatusNullPointer if ppSrc, pDst, pSrcLen or pDstLen is null, then if *ppSrc or pRLEState is null;
 *         kelStatusBadSize if *pSrcLen < 1, then if *pDstLen < 1 (nothing changed on these errors);
 *         kelStatusDstFull (warning) when source bytes remain because the destination filled: call again with
 *         more room; otherwise kelStatusOk. A count byte is written only when it fits; until then the run is held
 *         in the state.
 */
KelStatus kelsEncodeRLE_BZ2_8u(const Kel8u** ppSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen, Kel8u* pRLEState);

/**
 * kelsEncodeRLEFlush_BZ2_8u - close the block's last run: if four or more equal bytes are pending, writes their
 * count byte (run count - 4), marks it in the in-use table and clears the run count. The last byte is kept.
 *
 * @param[out]    pDst      destination for at most one byte
 * @param[in,out] pDstLen   destination capacity, at least 1; receives 0 or 1, the bytes written
 * @param[in,out] pRLEState encoder state
 * @return kelStatusNullPointer if pDst, pDstLen or pRLEState is null; kelStatusBadSize if *pDstLen < 1;
 *         otherwise kelStatusOk.
 */
KelStatus kelsEncodeRLEFlush_BZ2_8u(Kel8u* pDst, int* pDstLen, Kel8u* pRLEState);

/**
 * kelsDecodeRLEStateInit_BZ2_8u - prepare a run-length state block for decoding: no pending byte, no pending
 * copies. The in-use table part is not touched.
 *
 * @param[out] pRLEState state block of kelsRLEGetSize_BZ2_8u bytes
 * @return kelStatusNullPointer if pRLEState is null; otherwise kelStatusOk.
 */
KelStatus kelsDecodeRLEStateInit_BZ2_8u(Kel8u* pRLEState);

/**
 * kelsDecodeRLEState_BZ2_8u - decode run-length coded data, resuming after a full destination.
 *
 * Pending copies of an earlier call are written first. A run that does not fit fills the destination, its source
 * (with directly following runs of the same byte) is consumed and the rest of its copies is kept as pending.
 * Pass a block's whole coded data: a run split between two calls' sources is not recognised, and four equal bytes
 * at the very end of the source are taken as literals. Call again while *pSrcLen is above 0 and then call
 * kelsDecodeRLEStateFlush_BZ2_8u until it returns kelStatusOk.
 *
 * @param[in,out] ppSrc     source pointer; advanced past the bytes consumed
 * @param[in,out] pSrcLen   source length in bytes, at least 1; reduced by the bytes consumed
 * @param[in,out] ppDst     destination pointer; advanced past the bytes written
 * @param[in,out] pDstLen   destination room in bytes, at least 1; reduced by the bytes written
 * @param[in,out] pRLEState state prepared by kelsDecodeRLEStateInit_BZ2_8u
 * @return kelStatusNullPointer if any of ppSrc, pSrcLen, ppDst, pDstLen, *ppSrc, *ppDst or pRLEState is null;
 *         kelStatusBadSize if *pSrcLen < 1, then if *pDstLen < 1; kelStatusDstFull (warning) when the
 *         destination filled while source bytes or pending copies remain; otherwise kelStatusOk.
 */
KelStatus kelsDecodeRLEState_BZ2_8u(const Kel8u** ppSrc, int* pSrcLen, Kel8u** ppDst, int* pDstLen,
                                    Kel8u* pRLEState);

/**
 * kelsDecodeRLEStateFlush_BZ2_8u - write the pending copies of the decoder state.
 *
 * @param[in,out] pRLEState decoder state; the pending count is reduced by the copies written, and the pending byte
 *                          becomes -1 once none remain
 * @param[in,out] ppDst     destination pointer; advanced past the bytes written
 * @param[in,out] pDstLen   destination room in bytes; reduced by the bytes written
 * @return kelStatusNullPointer if pRLEState, ppDst, pDstLen or *ppDst is null; kelStatusDstFull (warning) when more
 *         copies are pending than the destination holds (the destination is filled); otherwise kelStatusOk.
 */
KelStatus kelsDecodeRLEStateFlush_BZ2_8u(Kel8u* pRLEState, Kel8u** ppDst, int* pDstLen);

/**
 * kelsRLEGetInUseTable_8u - copy the encoder's in-use table: the byte values present in the coded block.
 *
 * @param[out] inUse     256 bytes, 1 for each value written since kelsEncodeRLEInit_BZ2_8u, else 0
 * @param[in]  pRLEState encoder state
 * @return kelStatusNullPointer if inUse or pRLEState is null; otherwise kelStatusOk.
 */
KelStatus kelsRLEGetInUseTable_8u(Kel8u inUse[256], const Kel8u* pRLEState);

/**
 * kelsReduceDictionary_8u_I - map each byte x onto its rank among the values in use (the number of in-use values
 * smaller than x).
 *
 * @param[in]     inUse           in-use table, 256 bytes
 * @param[in,out] pSrcDst         data, replaced in place
 * @param[in]     srcDstLen       number of bytes, at least 1
 * @param[out]    pSizeDictionary receives the number of values in use
 * @return kelStatusNullPointer if inUse or pSrcDst is null, then if pSizeDictionary is null; kelStatusBadSize if
 *         srcDstLen < 1; otherwise kelStatusOk.
 */
KelStatus kelsReduceDictionary_8u_I(const Kel8u inUse[256], Kel8u* pSrcDst, int srcDstLen, int* pSizeDictionary);

/**
 * kelsExpandDictionary_8u_I - map each rank k back onto the k-th value in use (counting from 0 upward). Ranks at
 * or above the dictionary size name no value and are left unchanged.
 *
 * @param[in]     inUse          in-use table, 256 bytes
 * @param[in,out] pSrcDst        data, replaced in place
 * @param[in]     srcDstLen      number of bytes, at least 1
 * @param[in]     sizeDictionary number of values in use, at least 1
 * @return kelStatusNullPointer if inUse, then if pSrcDst is null; kelStatusBadSize if srcDstLen < 1, then if
 *         sizeDictionary < 1; kelStatusError if sizeDictionary differs from the number of values in use (data
 *         unchanged); otherwise kelStatusOk.
 */
KelStatus kelsExpandDictionary_8u_I(const Kel8u inUse[256], Kel8u* pSrcDst, int srcDstLen, int sizeDictionary);

/* ============================================================================================================
 * Burrows-Wheeler transform
 *
 * The forward transform sorts the n cyclic rotations of a block (unsigned byte order over all n characters) and
 * writes the last column: pDst[k] is the byte before the k-th smallest rotation. *pIndex receives the position of
 * rotation 0 among the sorted rotations (the bzip2 origin pointer). When rotations repeat (a periodic block) the
 * last column does not depend on their order, but the index may be any position holding a copy of rotation 0.
 * Blocks of one repeated byte give a copy of the block and index 0. All working memory is one caller buffer of
 * the size the GetSize functions report; its contents are scratch. Buffer sizes are int32: block lengths whose
 * buffer would not fit (above 119304642 for the forward transform, 536870655 for the inverse) are rejected.
 * ============================================================================================================ */

/**
 * kelsBWTFwdGetSize_8u - work-buffer size of kelsBWTFwd_8u: max(6 * len + 524484, 18 * len + 80) bytes.
 *
 * @param[in]  len             block length in bytes, 1 to 119304642
 * @param[out] pBWTFwdBuffSize receives the size in bytes
 * @return kelStatusNullPointer if pBWTFwdBuffSize is null; kelStatusBadSize if len < 1 or the size would exceed
 *         2^31 - 1; otherwise kelStatusOk.
 */
KelStatus kelsBWTFwdGetSize_8u(int len, int* pBWTFwdBuffSize);

/**
 * kelsBWTFwd_8u - forward transform, choosing the method itself (method 3 of kelsBWTFwd_SelectSort_8u): blocks
 * below 100 bytes are sorted by prefix doubling, longer blocks by the two-stage (induced) sort. The result does not
 * depend on the path taken.
 *
 * @param[in]  pSrc         block, len bytes
 * @param[out] pDst         last column, len bytes; must not overlap pSrc
 * @param[in]  len          block length, 1 to 119304642
 * @param[out] pIndex       receives the position of rotation 0
 * @param[out] pBWTFwdBuff  work buffer of kelsBWTFwdGetSize_8u bytes, any alignment
 * @return kelStatusNullPointer if pSrc, pDst, pIndex or pBWTFwdBuff is null; kelStatusBadSize if len < 1 or too
 *         long for a buffer size; otherwise kelStatusOk.
 */
KelStatus kelsBWTFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int* pIndex, Kel8u* pBWTFwdBuff);

/**
 * kelsBWTFwdGetBufSize_SelectSort_8u - work-buffer size of kelsBWTFwd_SelectSort_8u for one method: methods 0
 * and 1 need 6 * len + 524484 bytes, method 2 needs 18 * len + 80, method 3 the larger of the two.
 *
 * @param[in]  len            block length in bytes, 1 to 119304642
 * @param[out] pBWTFwdBufSize receives the size in bytes; not written for a method above 3
 * @param[in]  sortAlgorithm  method, 0 to 3
 * @return kelStatusNullPointer if pBWTFwdBufSize is null; kelStatusBadSize if len < 1 or the size would exceed
 *         2^31 - 1; otherwise kelStatusOk (also for an unknown method, which writes nothing).
 */
KelStatus kelsBWTFwdGetBufSize_SelectSort_8u(int len, int* pBWTFwdBufSize, Kel32u sortAlgorithm);

/**
 * kelsBWTFwd_SelectSort_8u - forward transform with a chosen sorting method. Blocks below 100 bytes always use
 * prefix doubling. From 100 bytes on: method 2 is prefix doubling over all rotations. The others use the two-stage
 * sort, which sorts about a third of the rotations (those starting an ascent before a descent) and induces the
 * order of the rest. Method 0 compares those rotations as whole strings against a work budget of 100 characters
 * per block byte (25 from 99 900 bytes on) and returns kelStatusSortLimitReached when long repeats exhaust it.
 * Methods 1 and 3 compare them directly while that stays shallow and otherwise by their substrings up to the
 * next such rotation, ties resolved by prefix doubling over those: their work is bounded on any data, so no
 * budget applies and method 3's fall-back to prefix doubling is never needed.
 *
 * @param[in]  pSrc          block, len bytes
 * @param[out] pDst          last column, len bytes; must not overlap pSrc
 * @param[in]  len           block length, 1 to 119304642
 * @param[out] pIndex        receives the position of rotation 0
 * @param[out] pBWTFwdBuff   work buffer of kelsBWTFwdGetBufSize_SelectSort_8u bytes for the method
 * @param[in]  sortAlgorithm method, 0 to 3
 * @return kelStatusNullPointer if pSrc, pDst, pIndex or pBWTFwdBuff is null; kelStatusBadSize if len < 1 or too
 *         long; kelStatusSortLimitReached (warning, method 0 only) when the budget ran out: pDst and *pIndex are
 *         then not valid; otherwise kelStatusOk. A method above 3 on a block of 100 bytes or more writes
 *         nothing and returns kelStatusOk.
 */
KelStatus kelsBWTFwd_SelectSort_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int* pIndex, Kel8u* pBWTFwdBuff,
                                   int sortAlgorithm);

/**
 * kelsBWTInvGetSize_8u - work-buffer size of kelsBWTInv_8u: 4 * len + 1024 bytes.
 *
 * @param[in]  len             block length in bytes, 1 to 536870655
 * @param[out] pBWTInvBuffSize receives the size in bytes
 * @return kelStatusNullPointer if pBWTInvBuffSize is null; kelStatusBadSize if len < 1 or the size would exceed
 *         2^31 - 1; otherwise kelStatusOk.
 */
KelStatus kelsBWTInvGetSize_8u(int len, int* pBWTInvBuffSize);

/**
 * kelsBWTInv_8u - inverse transform: rebuild the block from its last column and the position of rotation 0.
 *
 * @param[in]  pSrc        last column, len bytes
 * @param[out] pDst        block, len bytes; must not overlap pSrc
 * @param[in]  len         block length, 1 to 536870655
 * @param[in]  index       position of rotation 0, 0 to len - 1
 * @param[out] pBWTInvBuff work buffer of kelsBWTInvGetSize_8u bytes, any alignment
 * @return kelStatusNullPointer if pSrc, pDst or pBWTInvBuff is null; kelStatusBadSize if len < 1 or too long, then
 *         if index < 0 or index >= len; otherwise kelStatusOk.
 */
KelStatus kelsBWTInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int index, Kel8u* pBWTInvBuff);

/* ============================================================================================================
 * Move-to-front
 *
 * The list starts as 0, 1, ..., 255. The state block (256 bytes) carries the list from call to call, so a long
 * sequence may be transformed in pieces; a forward state holds each value's position, an inverse state the value
 * at each position, so one block serves one direction only. Both start from kelsMTFInit_8u.
 * ============================================================================================================ */

/**
 * kelsMTFGetSize_8u - size of the move-to-front state block.
 *
 * @param[out] pMTFStateSize receives 256 (bytes)
 * @return kelStatusNullPointer if pMTFStateSize is null; otherwise kelStatusOk.
 */
KelStatus kelsMTFGetSize_8u(int* pMTFStateSize);

/**
 * kelsMTFInit_8u - prepare a move-to-front state block: entry i = i.
 *
 * @param[out] pMTFState 256 bytes
 * @return kelStatusNullPointer if pMTFState is null; otherwise kelStatusOk.
 */
KelStatus kelsMTFInit_8u(Kel8u* pMTFState);

/**
 * kelsMTFFwd_8u - forward move-to-front: for each source byte, write its position in the list and move it to the
 * front.
 *
 * @param[in]     pSrc      source bytes
 * @param[out]    pDst      positions, len bytes; may equal pSrc
 * @param[in]     len       number of bytes, at least 1
 * @param[in,out] pMTFState forward state; updated at the end of the call
 * @return kelStatusNullPointer if pSrc, pDst or pMTFState is null; kelStatusBadSize if len < 1 (state untouched);
 *         otherwise kelStatusOk.
 */
KelStatus kelsMTFFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pMTFState);

/**
 * kelsMTFInv_8u - inverse move-to-front: for each source position r, write the value at position r of the list and
 * move that value to the front.
 *
 * @param[in]     pSrc      positions
 * @param[out]    pDst      values, len bytes; may equal pSrc
 * @param[in]     len       number of bytes, at least 1
 * @param[in,out] pMTFState inverse state; updated at the end of the call
 * @return kelStatusNullPointer if pSrc, pDst or pMTFState is null; kelStatusBadSize if len < 1 (state untouched);
 *         otherwise kelStatusOk.
 */
KelStatus kelsMTFInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pMTFState);

/* ============================================================================================================
 * Zero-run coding and bzip2 Huffman encoding
 *
 * Symbols are 16-bit: 0 = RUNA, 1 = RUNB, v + 1 for a move-to-front value v >= 1. A run of k zero bytes is written
 * as the bijective base-2 digits of k, least significant first (while k > 0: digit (k - 1) & 1, k = (k - 1) >> 1).
 * The end-of-block symbol is the alphabet size - 1 (alphabet size = values in use + 2, at most 258); the caller
 * appends it. A frequency table is 258 Kel32u counters indexed by symbol.
 *
 * Bit buffers: the caller keeps a Kel32u bit buffer filled from its most significant bit and a count of the valid
 * bits. Writers move whole bytes to the destination while 8 or more bits are held and room remains, also at the
 * end of every call, so a call that had room returns with at most 7 bits held (the partial last byte, which the
 * caller may pad or continue); a count above 32 after a call means bits were lost for want of room.
 *
 * One block: kelsEncodeZ1Z2_BZ2_8u16u (with a cleared frequency table), append and count the end-of-block symbol,
 * kelsEncodeHuffGetSize_BZ2_16u8u and kelsEncodeHuffInit_BZ2_16u8u, kelsPackHuffContext_BZ2_16u8u, then
 * kelsEncodeHuff_BZ2_16u8u, all continuing the caller's bit buffer after its block header.
 * ============================================================================================================ */

/**
 * kelsEncodeZ1Z2_BZ2_8u16u - zero-run code move-to-front output into symbols and count them.
 *
 * A zero run whose digits do not fit the remaining room is cut to the longest run that fits; the zeros beyond it
 * stay in the source and the next call codes them as a run of their own, which a decoder would join with the
 * first: size the destination for the whole block (one symbol per source byte always suffices).
 *
 * @param[in,out] ppSrc     source pointer; advanced past the bytes coded
 * @param[in,out] pSrcLen   source length in bytes, at least 1; reduced by the bytes coded
 * @param[out]    pDst      symbols
 * @param[in,out] pDstLen   destination capacity in symbols, at least 1; receives the number written
 * @param[in,out] freqTable 258 counters; each written symbol is added (the table is never cleared)
 * @return kelStatusNullPointer if ppSrc, pDst, pSrcLen or pDstLen is null, then if *ppSrc or freqTable is null;
 *         kelStatusBadSize if *pSrcLen < 1, then if *pDstLen < 1; kelStatusDstFull (warning) when source bytes
 *         remain; otherwise kelStatusOk.
 */
KelStatus kelsEncodeZ1Z2_BZ2_8u16u(const Kel8u** ppSrc, int* pSrcLen, Kel16u* pDst, int* pDstLen,
                                   Kel32u freqTable[258]);

/**
 * kelsDecodeZ1Z2_BZ2_16u8u - turn zero-run symbols back into bytes. A run and the byte that ends it are written only
 * together; when they do not fit the call stops before the run's first symbol.
 *
 * @param[in,out] ppSrc   symbol pointer; advanced past the symbols whose bytes were written
 * @param[in,out] pSrcLen number of symbols, at least 1; reduced likewise
 * @param[out]    pDst    bytes
 * @param[in,out] pDstLen destination capacity in bytes, at least 1; receives the number written
 * @return kelStatusNullPointer if ppSrc, pDst, pSrcLen or pDstLen is null, then if *ppSrc is null;
 *         kelStatusBadSize if *pSrcLen < 1, then if *pDstLen < 1; kelStatusDstFull (warning) when symbols remain;
 *         otherwise kelStatusOk.
 */
KelStatus kelsDecodeZ1Z2_BZ2_16u8u(const Kel16u** ppSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen);

/**
 * HuffEncodeState_BZ2 - the layout of the Huffman encoder state that kelsEncodeHuffInit_BZ2_16u8u fills (the first
 * 7780 bytes of the block; 7784 is sizeof, with tail padding). The selector list follows the length table at byte
 * 7780: selectorCount bytes (the table of each group), then as many bytes of scratch that
 * kelsPackHuffContext_BZ2_16u8u uses for their move-to-front form. The three pointers point into the block itself
 * (to codes, lengths and the selector list) and are set by Init; the library reads the fields by offset, not
 * through the pointers. Read the block through this type only if it is 8-byte aligned (malloc and new are); the
 * functions themselves accept any alignment.
 */
typedef struct HuffEncodeState_BZ2 {
    Kel32s alphabetSize;   /**< symbols per table, 1 to 258 */
    Kel32s selectorCount;  /**< 50-symbol groups of the block: (n + 49) / 50 */
    Kel32s tableCount;     /**< tables in use, 2 to 6 */
    Kel32u* pCodes;        /**< &codes[0][0]: the code of symbol v in table t is pCodes[258 * t + v] */
    Kel8u* pLengths;       /**< &lengths[0][0]: its length in bits is pLengths[258 * t + v] */
    Kel8u* pSelectors;     /**< the selector list (byte 7780 of the block): group g uses table pSelectors[g] */
    Kel32u codes[6][258];  /**< canonical code of each symbol, right-aligned; tables past tableCount unused */
    Kel8u lengths[6][258]; /**< code length of each symbol, 1 to 17 */
} HuffEncodeState_BZ2;

/**
 * kelsEncodeHuffGetSize_BZ2_16u8u - size of the Huffman encoder state for blocks of up to len symbols:
 * ((len + 49) / 50) * 2 + 7780 bytes.
 *
 * @param[in]  wndSize        number of symbols (end-of-block symbol included), at least 1
 * @param[out] pEncodeHuffStateSize receives the size in bytes
 * @return kelStatusNullPointer if pEncodeHuffStateSize is null; kelStatusBadSize if wndSize < 1; otherwise
 *         kelStatusOk.
 */
KelStatus kelsEncodeHuffGetSize_BZ2_16u8u(int wndSize, int* pEncodeHuffStateSize);

/**
 * kelsEncodeHuffInit_BZ2_16u8u - choose the coding tables and the table of each 50-symbol group for one block.
 *
 * Two tables below 200 symbols, 3 below 600, 4 below 1200, 5 below 2400, else 6; initial tables from the
 * frequency table, then four rounds of choosing the cheapest table per group and rebuilding each table as a
 * Huffman code (lengths at most 17) of the symbols its groups hold. Codes are canonical.
 *
 * @param[in]  sizeDictionary alphabet size in symbols, 1 to 258
 * @param[in]  freqTable      258 counters: the symbol counts of the block
 * @param[in]  pSrc           the block's symbols, end-of-block symbol included
 * @param[in]  srcLen         number of symbols, at least 1
 * @param[out] pHuffState     state of kelsEncodeHuffGetSize_BZ2_16u8u(srcLen) bytes, any alignment, laid out as
 *                            HuffEncodeState_BZ2 followed by the selector list; it must not be moved or copied
 *                            afterwards (its pointers point into it)
 * @return kelStatusNullPointer if freqTable, pSrc or pHuffState is null; kelStatusBadSize if sizeDictionary is
 *         outside 1 to 258 or srcLen < 1; otherwise kelStatusOk. Symbols at or above the alphabet size are coded
 *         as the last symbol of the alphabet.
 */
KelStatus kelsEncodeHuffInit_BZ2_16u8u(int sizeDictionary, const Kel32u freqTable[258], const Kel16u* pSrc,
                                       int srcLen, Kel8u* pHuffState);

/**
 * kelsEncodeHuff_BZ2_16u8u - Huffman code all symbols of a block, group g of 50 with the table chosen for it
 * (symbols past the groups of kelsEncodeHuffInit_BZ2_16u8u use its last table).
 *
 * @param[in,out] pCode        bit buffer
 * @param[in,out] pCodeLenBits number of valid bits in *pCode
 * @param[in,out] ppSrc        symbol pointer; advanced past all symbols
 * @param[in,out] pSrcLen      number of symbols; set to 0
 * @param[out]    pDst         destination bytes
 * @param[in,out] pDstLen      destination capacity in bytes, at least 1; receives the number of bytes written,
 *                             every whole byte of the coded bits while room remains (at most 7 bits stay in
 *                             *pCode then)
 * @param[in]     pHuffState   state prepared by kelsEncodeHuffInit_BZ2_16u8u for these symbols
 * @return kelStatusNullPointer if pCode, pCodeLenBits, ppSrc or pSrcLen is null, then if *ppSrc, pDst, pDstLen or
 *         pHuffState is null; kelStatusBadSize if *pDstLen < 1; kelStatusDstFull (warning) when the destination was
 *         too small and bits were lost (*pCodeLenBits > 32): discard the output and retry with more room;
 *         otherwise kelStatusOk.
 */
KelStatus kelsEncodeHuff_BZ2_16u8u(Kel32u* pCode, int* pCodeLenBits, const Kel16u** ppSrc, int* pSrcLen, Kel8u* pDst,
                                   int* pDstLen, Kel8u* pHuffState);

/**
 * kelsPackHuffContext_BZ2_16u8u - write the block's table-and-selector section: the table count (3 bits), the
 * selector count (15 bits), the selectors move-to-front coded in unary, and each table's code lengths as a 5-bit
 * start and per-symbol deltas.
 *
 * @param[in,out] pCode        bit buffer
 * @param[in,out] pCodeLenBits number of valid bits in *pCode
 * @param[out]    pDst         destination bytes
 * @param[in,out] pDstLen      destination capacity in bytes, at least 1; receives the number of bytes written,
 *                             every whole byte of the section while room remains (at most 7 bits stay in *pCode
 *                             then)
 * @param[in,out] pHuffState   state prepared by kelsEncodeHuffInit_BZ2_16u8u (its selector scratch is used)
 * @return kelStatusNullPointer if pCode, pCodeLenBits, pDst or pDstLen is null, then if pHuffState is null;
 *         kelStatusBadSize if *pDstLen < 1; kelStatusDstFull (warning) when bits were lost for want of room;
 *         otherwise kelStatusOk.
 */
KelStatus kelsPackHuffContext_BZ2_16u8u(Kel32u* pCode, int* pCodeLenBits, Kel8u* pDst, int* pDstLen,
                                        Kel8u* pHuffState);

/* ============================================================================================================
 * bzip2 Huffman decoding
 *
 * The reading side of the section and symbols above, resumable: when the source runs out the functions keep their
 * place in the state and the caller's bit buffer (filled from its most significant bit, the source's bytes
 * appended below the bits held) and return kelStatusSrcExhausted; call again with more source.
 *
 * The decoder state holds the selector list of one block, at most 18002 selectors (900 000 / 50 + 2, enough for
 * any bzip2 block). A section may announce up to 32767 (its 15-bit count); the selectors past the first 18002 are
 * read, checked and dropped, so symbols of a group past the kept selectors are an error. Init and the section
 * reader cannot know the size the caller gave the state, so kelsDecodeHuffGetSize_BZ2_8u16u reports room for the
 * full list whatever block size it is asked for, and nothing is ever written past the size it reports.
 * ============================================================================================================ */

/**
 * kelsDecodeHuffGetSize_BZ2_8u16u - size of the Huffman decoder state for blocks of up to len symbols:
 * max((len + 49) / 50, 18002) + 9364 bytes, that is 27366 bytes up to len = 900100. The state holds room for
 * every selector a section can leave in it, whatever len is, so any size this function reports is safe.
 *
 * @param[in]  wndSize              number of symbols, at least 1
 * @param[out] pDecodeHuffStateSize receives the size in bytes
 * @return kelStatusNullPointer if pDecodeHuffStateSize is null; kelStatusBadSize if wndSize < 1; otherwise
 *         kelStatusOk.
 */
KelStatus kelsDecodeHuffGetSize_BZ2_8u16u(int wndSize, int* pDecodeHuffStateSize);

/**
 * kelsDecodeHuffInit_BZ2_8u16u - prepare the decoder state for one block: records the alphabet size and sets the
 * progress to the start of a section. Call it again for every block.
 *
 * @param[in]  sizeDictionary alphabet size in symbols (values in use + 2), 1 to 258; its last symbol ends a block
 * @param[out] pHuffState     state of kelsDecodeHuffGetSize_BZ2_8u16u bytes, any alignment; it must not be moved or
 *                            copied afterwards
 * @return kelStatusNullPointer if pHuffState is null; kelStatusBadSize if sizeDictionary is outside 1 to 258;
 *         otherwise kelStatusOk.
 */
KelStatus kelsDecodeHuffInit_BZ2_8u16u(int sizeDictionary, Kel8u* pHuffState);

/**
 * kelsDecodeHuff_BZ2_8u16u - decode a block's Huffman-coded symbols up to its end-of-block symbol.
 *
 * Before each symbol, bytes are appended to the bit buffer until it holds 20 bits (the longest code). The group of
 * 50 symbols and the position in it carry over between calls.
 *
 * @param[in,out] pCode        bit buffer
 * @param[in,out] pCodeLenBits number of valid bits in *pCode
 * @param[in,out] ppSrc        source pointer; advanced past the bytes taken into the bit buffer
 * @param[in,out] pSrcLen      source length in bytes (0 allowed); reduced likewise
 * @param[out]    pDst         symbols, written from pDst[0] at every call
 * @param[in,out] pDstLen      capacity in symbols, at least 1; receives the number of symbols written, the
 *                             end-of-block symbol (stored after them) not counted
 * @param[in,out] pHuffState   state after a complete kelsUnpackHuffContext_BZ2_8u16u
 * @return kelStatusNullPointer if pCode, pCodeLenBits, ppSrc or pSrcLen is null, then if *ppSrc, pDst, pDstLen or
 *         pHuffState is null; kelStatusBadSize if *pDstLen < 1; kelStatusOk when the end-of-block symbol was
 *         decoded (the progress is reset); kelStatusDstFull (warning) when the destination filled first, or
 *         kelStatusSrcExhausted (warning) when the source ran out first or together with the room;
 *         kelStatusBadStream for a bit string that is no code of the table in use or for symbols past the last
 *         kept selector (the 18002nd at most).
 */
KelStatus kelsDecodeHuff_BZ2_8u16u(Kel32u* pCode, int* pCodeLenBits, const Kel8u** ppSrc, int* pSrcLen, Kel16u* pDst,
                                   int* pDstLen, Kel8u* pHuffState);

/**
 * kelsUnpackHuffContext_BZ2_8u16u - read a block's table-and-selector section into the decoder state.
 *
 * @param[in,out] pCode        bit buffer
 * @param[in,out] pCodeLenBits number of valid bits in *pCode
 * @param[in,out] ppSrc        source pointer; advanced past the bytes taken into the bit buffer
 * @param[in,out] pSrcLen      source length in bytes, at least 1; reduced likewise
 * @param[in,out] pHuffState   state prepared by kelsDecodeHuffInit_BZ2_8u16u
 * @return kelStatusNullPointer if pCode, ppSrc, pSrcLen, pHuffState or pCodeLenBits is null, then if *ppSrc is
 *         null; kelStatusBadSize if *pSrcLen < 1; kelStatusOk when the section is complete (ready for
 *         kelsDecodeHuff_BZ2_8u16u); kelStatusSrcExhausted (warning) when the source ran out first;
 *         kelStatusBadStream for a table count outside 2 to 6, a selector count of 0, a selector naming no table
 *         (dropped selectors past 18002 included), a code length outside 1 to 20 at any step or an
 *         over-subscribed table (the state must then be prepared again).
 */
KelStatus kelsUnpackHuffContext_BZ2_8u16u(Kel32u* pCode, int* pCodeLenBits, const Kel8u** ppSrc, int* pSrcLen,
                                          Kel8u* pHuffState);

/* ============================================================================================================
 * bzip2 block decoding
 * ============================================================================================================ */

/**
 * kelsDecodeBlockGetSize_BZ2_8u - work-buffer size of kelsDecodeBlock_BZ2_16u8u: 4 bytes per block byte.
 *
 * @param[in]  blockSize            largest block length in bytes, below 16777216
 * @param[out] pDecodeBlockBuffSize receives 4 * blockSize
 * @return kelStatusNullPointer if pDecodeBlockBuffSize is null; kelStatusBadSize if blockSize >= 16777216;
 *         otherwise kelStatusOk.
 */
KelStatus kelsDecodeBlockGetSize_BZ2_8u(Kel32u blockSize, int* pDecodeBlockBuffSize);

/**
 * kelsDecodeBlock_BZ2_16u8u - turn a block's decoded symbols (end-of-block symbol excluded) into its run-length
 * coded data in one call: undoes zero-run coding, move-to-front over the values in use and the Burrows-Wheeler
 * transform.
 *
 * @param[in]     pSrc           symbols
 * @param[in]     srcLen         number of symbols, at least 1
 * @param[out]    pDst           block bytes
 * @param[in,out] pDstLen        capacity in bytes, below 16777216; receives the block length. A block exactly as
 *                               long as the capacity is valid.
 * @param[in]     index          position of rotation 0 (origin pointer), 0 to block length - 1
 * @param[in]     sizeDictionary number of byte values in use, at most 256
 * @param[in]     inUse          in-use table, 256 bytes
 * @param[out]    pBuff          work buffer of kelsDecodeBlockGetSize_BZ2_8u(capacity) bytes, any alignment
 * @return kelStatusNullPointer if pSrc, pDst, pDstLen or inUse is null, then if pBuff is null; kelStatusBadSize if
 *         srcLen < 1, then if the capacity is 16777216 or more, then if index < 0 or index >= capacity, then if
 *         sizeDictionary > 256; kelStatusError if sizeDictionary differs from the values in inUse, or the symbols
 *         are corrupt: a move-to-front position at or beyond sizeDictionary, a block longer than the capacity, or
 *         an index at or beyond the block length (pDst may then hold partial data, nothing beyond its capacity is
 *         written); otherwise kelStatusOk.
 */
KelStatus kelsDecodeBlock_BZ2_16u8u(const Kel16u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen, int index,
                                    Kel32u sizeDictionary, const Kel8u inUse[256], Kel8u* pBuff);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KELDC_H */
