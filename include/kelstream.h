/* kelstream.h - libkelstream: the container formats (gzip, zlib, raw Deflate, bzip2, LZ4 frames, lzop, the LZSS
 * container) as a C library on top of libkeldcn8.
 *
 * What it covers: one-shot compression and decompression of whole buffers, streaming in pieces of any size in both
 * directions (the shape of zlib's deflate/inflate and LZ4F), header fields, preset dictionaries, and parallel
 * compression and decompression where a format's pieces are independent. What it does not: file handling (the
 * caller reads and writes), random access into compressed data.
 *
 * Memory: every allocation goes through the allocator in KelStreamOptions (malloc and free when left null). The
 * library has no global state; distinct streams may be used from distinct threads at once, one stream from one
 * thread at a time.
 *
 * Results: every call returns a KelStreamResult. Negative values are errors; an error is sticky (every later call on
 * the stream returns it again) and kelStreamMessage() says what went wrong in one line. Non-negative values are
 * success or a condition the caller acts on (end of stream, dictionary wanted, trailing data).
 */
#ifndef KELSTREAM_H
#define KELSTREAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KELSTREAM_VERSION_MAJOR 1
#define KELSTREAM_VERSION_MINOR 0

/* ======================================== Formats, results, options ======================================== */

/** The container formats. */
typedef enum KelStreamFormat {
    kelFormatAuto = 0,    /**< decompression only: detected from the first bytes (see kelStreamDetectFormat) */
    kelFormatGzip = 1,    /**< RFC 1952; decompression reads every member of a multi-member file */
    kelFormatZlib = 2,    /**< RFC 1950, with or without a preset dictionary */
    kelFormatDeflate = 3, /**< raw RFC 1951 blocks; never detected automatically */
    kelFormatBzip2 = 4,   /**< .bz2; decompression reads every stream of a concatenated file */
    kelFormatLz4 = 5,     /**< LZ4 frames (every frame option), skippable frames, the legacy format (reading) */
    kelFormatLzop = 6,    /**< .lzo as lzop writes it; decompression reads concatenated files and multi-file archives */
    kelFormatLzss = 7     /**< kel's LZSS container: "KLZS", version 1, the LZSS bit stream, length and CRC-32 */
} KelStreamFormat;

/** Direction of a streaming object. */
typedef enum KelStreamDirection { kelCompress = 0, kelDecompress = 1 } KelStreamDirection;

/** What kelStreamProcess() is asked to do beyond consuming input. */
typedef enum KelStreamFlush {
    kelFlushNone = 0,  /**< consume and produce as convenient */
    kelFlushSync = 1,  /**< compression: make everything given so far decodable from the output (see kelStreamProcess) */
    kelFlushFinish = 2 /**< compression: no more input, write the end of the stream; decompression: no more input */
} KelStreamFlush;

/** Results. Errors are negative. */
typedef enum KelStreamResult {
    kelStreamOk = 0,             /**< progress made; call again */
    kelStreamEnd = 1,            /**< the stream is complete: compression wrote its end, decompression verified it */
    kelStreamFlushed = 2,        /**< a sync flush is complete: every byte it produced has been handed out */
    kelStreamNeedDictionary = 3, /**< zlib decompression: the stream names a preset dictionary; supply it */
    kelStreamEntryEnd = 4,       /**< decompression with stopAtEntries: one member or entry is complete, more follow */
    kelStreamTrailingData = 5,   /**< decompression complete and verified, but bytes that start no stream follow it */
    kelStreamErrArgument = -1,   /**< a null pointer, an option out of range, or a call in the wrong state */
    kelStreamErrMemory = -2,     /**< the allocator returned null */
    kelStreamErrCorrupt = -3,    /**< the input is not valid data of the format */
    kelStreamErrTruncated = -4,  /**< the input ended (kelFlushFinish) before the stream did */
    kelStreamErrChecksum = -5,   /**< a checksum or length stored in the stream does not match the data */
    kelStreamErrUnsupported = -6,/**< valid data using a feature this library does not implement */
    kelStreamErrUnknownFormat = -7, /**< kelFormatAuto: the input starts with no known magic */
    kelStreamErrNoRoom = -8,     /**< one-shot: the output does not fit the room given */
    kelStreamErrLibrary = -9,    /**< a libkeldcn8 call failed where it should not (message names the status) */
    kelStreamErrThread = -10     /**< a worker thread could not be started */
} KelStreamResult;

/** Allocator hooks: alloc returns nBytes of memory aligned for any type, or null; free takes what alloc returned. */
typedef void* (*KelStreamAllocFn)(void* opaque, size_t nBytes);
typedef void (*KelStreamFreeFn)(void* opaque, void* p);

/**
 * Options of a stream. Fill with kelStreamDefaultOptions(), then set what differs. Fields that do not apply to the
 * format or direction are ignored. Pointers are read during kelStreamCreate (or the one-shot call) and copied; the
 * caller may free them afterwards.
 */
typedef struct KelStreamOptions {
    /* Every format */
    int level;   /**< compression level, 0 for the format's default: gzip/zlib/deflate 1-9 as zlib's (default 6;
                      1 a greedy search of one candidate per position, 2-9 rows of kelsDeflateLZ77_8u's level table),
                      and 10-29 the further rows of kelsDeflateLZ77_8u's level table (recorded in the zlib and gzip
                      headers by their last digit), above 29 kelStreamErrArgument; bzip2 1-9 (block size in 100 kB,
                      default 9), lz4 1-9 for the high-compression encoder (see lz4HighCompression; the fast
                      encoder has no levels), lzop 1-9 (default 3; method and level are
                      recorded as lzop's -1 to -9 record them, the data is LZO1X-1 at every level), lzss ignored */
    int threads; /**< worker threads: 0 or 1 work in the calling thread; N > 1 compress (gzip, bzip2, lz4) or
                      decompress (gzip, bzip2, lz4) independent pieces on N threads; other formats ignore it.
                      Compression cuts the input into pieces of 1 MiB (bzip2: whole blocks, at least 1 MiB) and
                      writes each as a complete gzip member, bzip2 stream or LZ4 frame; the gzip name, comment and
                      extra field go into the first member only (mtime into every one); kelFlushSync ends the
                      current piece; LZ4 with lz4Linked or a contentSize uses one thread. gzip and LZ4
                      decompression gives the output and results of one thread, except that input already taken
                      ahead counts as consumed when an error or trailing data ends the stream. Caller allocator
                      hooks are then also called from the worker threads, never two calls at once. */
    KelStreamAllocFn alloc; /**< null: malloc */
    KelStreamFreeFn free;   /**< null: free */
    void* opaque;           /**< passed to alloc and free */

    /* Decompression */
    int stopAtEntries; /**< nonzero: return kelStreamEntryEnd after each gzip member, bzip2 stream, LZ4 frame and lzop
                            entry that another one follows, so kelStreamGetHeader() can be read per entry */

    /* Deflate family (gzip, zlib, raw) */
    int fastest; /**< nonzero: the single-probe fastest encoder instead of the level's matcher (the zlib header still
                      records the level; gzip's XFL says fastest) */
    const uint8_t* dictionary; /**< zlib and raw: preset dictionary, both directions (zlib decompression may instead
                                    supply it on kelStreamNeedDictionary) */
    size_t dictionaryLen;      /**< bytes of dictionary; only the last 32 KiB count */

    /* gzip header (compression) */
    const char* name;     /**< original file name (NUL-terminated, stored as given), or null for none; also lzop */
    const char* comment;  /**< gzip comment, or null */
    const uint8_t* extra; /**< gzip extra field, or null */
    size_t extraLen;      /**< bytes of extra, at most 65535 */
    int64_t mtime;        /**< modification time in seconds since 1970, 0 for none (gzip, lzop); gzip stores a
                               time outside 0 to 2^32 - 1 as 0 */
    int headerCrc;        /**< gzip: nonzero stores the header CRC (FHCRC: the low 16 bits of the CRC-32 of the
                               header bytes before it) */
    int os;               /**< gzip OS byte, 0-255; default 3 (Unix) */

    /* LZ4 frames (compression) */
    int lz4BlockSizeId;     /**< 4: 64 KiB, 5: 256 KiB, 6: 1 MiB, 7: 4 MiB (default) */
    int lz4Linked;          /**< nonzero: blocks may refer to the 64 KiB before them */
    int lz4BlockChecksum;   /**< nonzero: an xxHash32 after every block */
    int lz4ContentChecksum; /**< nonzero (default): an xxHash32 of the whole content at the end */
    int lz4HighCompression; /**< nonzero: the high-compression encoder at `level` (1-9; 0 means 9) */
    int64_t contentSize;    /**< LZ4: stored in the frame when not negative (default -1) and must then be exact
                                 (other input lengths give kelStreamErrArgument) */
    int hasDictId;          /**< LZ4: nonzero stores dictId in the frame descriptor */
    uint32_t dictId;        /**< LZ4 dictionary ID (only recorded: this library does not compress with it) */

    /* lzop (compression) */
    uint32_t mode;     /**< original file mode (st_mode) stored in the header; 0 gives 0100644 */
    int lzopCrc32;     /**< nonzero: CRC-32 instead of Adler-32 for the block checksums (the header keeps its
                            Adler-32) */
} KelStreamOptions;

/**
 * Header fields of the stream being decoded (kelStreamGetHeader) or written. String and byte pointers stay valid
 * until the next call on the stream.
 */
typedef struct KelStreamHeader {
    KelStreamFormat format; /**< the format in use (after detection) */
    uint32_t entry;         /**< 0-based number of the member, stream, frame or lzop entry the fields describe */
    int complete;           /**< nonzero once the header of this entry has been read in full */
    const char* name;       /**< gzip FNAME or lzop name, NUL-terminated; null when absent */
    const char* comment;    /**< gzip FCOMMENT; null when absent (a gzip name or comment is kept up to 65535
                                 bytes; the header CRC is checked over all of it) */
    const uint8_t* extra;   /**< gzip FEXTRA payload; null when absent */
    size_t extraLen;
    int64_t mtime;          /**< gzip or lzop modification time; 0 when absent */
    uint32_t mode;          /**< lzop file mode; 0 when absent */
    int os;                 /**< gzip OS byte; -1 when not gzip */
    int headerCrc;          /**< gzip: the header carried a CRC (and it matched) */
    int level;              /**< level hint stored by the producer (zlib FLEVEL 0-3, gzip XFL as stored: 2 slowest,
                                 4 fastest; lzop level, the bzip2 block-size digit of the current stream); -1 if none */
    int method;             /**< lzop method (1, 2, 3); LZ4 legacy: 1; otherwise 0 */
    int hasDictId;          /**< zlib FDICT or the LZ4 dictID flag */
    uint32_t dictId;        /**< zlib dictionary Adler-32 or the LZ4 dictionary ID */
    int64_t contentSize;    /**< LZ4 content size field; -1 when absent */
    int lz4BlockSizeId;     /**< LZ4: 4-7; 0 otherwise */
    int lz4Linked, lz4BlockChecksum, lz4ContentChecksum, lz4Legacy;
    uint64_t totalIn;       /**< compressed bytes consumed since creation or reset */
    uint64_t totalOut;      /**< decompressed bytes produced since creation or reset */
} KelStreamHeader;

/** Fills *options with the defaults: level 0, one thread, malloc/free, gzip OS 3, LZ4 4 MiB blocks with a
 *  content checksum, contentSize -1; every other field zero or null. */
void kelStreamDefaultOptions(KelStreamOptions* options);

/** One line naming a result, e.g. "corrupt input" for kelStreamErrCorrupt; never null. */
const char* kelStreamResultText(KelStreamResult result);

/**
 * The format the bytes start with: kelFormatGzip (1f 8b), kelFormatZlib (a valid RFC 1950 header), kelFormatBzip2
 * ("BZh1"-"BZh9"), kelFormatLz4 (frame, skippable frame or legacy magic), kelFormatLzop, kelFormatLzss ("KLZS"), or
 * kelFormatAuto when none matches or srcLen is too short to tell (4 bytes always suffice, lzop needs 9).
 */
KelStreamFormat kelStreamDetectFormat(const void* src, size_t srcLen);

/* ============================================== One-shot calls ============================================== */

/**
 * kelStreamCompressBound - the most bytes kelStreamCompress can write for srcLen input bytes with these options
 * (null: defaults), including headers and trailers (a gzip name, comment and extra field count). 0 for an
 * unknown format. bzip2's holds for any input, so it allows every code at its longest: about 2.7 times srcLen.
 */
size_t kelStreamCompressBound(KelStreamFormat format, size_t srcLen, const KelStreamOptions* options);

/**
 * kelStreamCompress - compresses src[0, srcLen) into one complete stream of the format.
 * @param[in]     options null for the defaults; threads > 1 compresses independent pieces in parallel.
 * @param[in,out] dstLen  in: room at dst in bytes; out: bytes written (on success only).
 * @return kelStreamEnd on success; kelStreamErrNoRoom when the room is short (use kelStreamCompressBound);
 *         kelStreamErrArgument, kelStreamErrMemory. dst contents are unspecified after an error.
 */
KelStreamResult kelStreamCompress(KelStreamFormat format, const void* src, size_t srcLen, void* dst, size_t* dstLen,
                                  const KelStreamOptions* options);

/**
 * kelStreamDecompress - decompresses a whole stream (every member, stream or frame of it).
 * @param[in]     format  the format, or kelFormatAuto to detect it from the magic.
 * @param[in,out] dstLen  in: room at dst in bytes; out: bytes written (also after kelStreamErrNoRoom: the room).
 * @return kelStreamEnd; kelStreamTrailingData when bytes that start no stream follow (output complete; zero bytes
 *         after gzip, bzip2 and lzop data count as padding and give kelStreamEnd); kelStreamErrNoRoom,
 *         kelStreamErrCorrupt, kelStreamErrTruncated, kelStreamErrChecksum, kelStreamErrUnknownFormat,
 *         kelStreamErrUnsupported, kelStreamErrMemory. A zlib stream that names a dictionary needs
 *         options->dictionary (else kelStreamErrArgument).
 *         Nothing is written past dst + *dstLen (the room) whatever the input.
 */
KelStreamResult kelStreamDecompress(KelStreamFormat format, const void* src, size_t srcLen, void* dst,
                                    size_t* dstLen, const KelStreamOptions* options);

/**
 * kelStreamDecompressAlloc - as kelStreamDecompress, into a buffer allocated with the options' allocator that grows
 * as needed; on success *dst holds *dstLen bytes and the caller frees it with the same allocator (free() by
 * default). On error *dst is null.
 */
KelStreamResult kelStreamDecompressAlloc(KelStreamFormat format, const void* src, size_t srcLen, void** dst,
                                         size_t* dstLen, const KelStreamOptions* options);

/* ============================================== Streaming calls ============================================== */

/** A streaming compressor or decompressor. */
typedef struct KelStream KelStream;

/**
 * kelStreamCreate - a stream for one format and direction.
 * @param[out] stream  the new stream, or null on error.
 * @param[in]  format  kelFormatAuto is allowed for decompression only.
 * @param[in]  options null for the defaults; copied.
 * @return kelStreamOk, kelStreamErrArgument (format, direction or an option out of range), kelStreamErrMemory.
 */
KelStreamResult kelStreamCreate(KelStream** stream, KelStreamFormat format, KelStreamDirection direction,
                                const KelStreamOptions* options);

/**
 * kelStreamProcess - consumes input and produces output until the input is used up, the output room is full, the
 * stream ends or an error is found.
 * @param[in]     src     input bytes (may be null when *srcLen is 0).
 * @param[in,out] srcLen  in: bytes at src; out: bytes consumed. Unconsumed bytes must be passed again.
 * @param[out]    dst     output room.
 * @param[in,out] dstLen  in: room at dst; out: bytes written.
 * @param[in]     flush   see below.
 *
 * Compression: kelFlushNone buffers as the format needs. kelFlushSync ends the current block (gzip/zlib/raw: an
 * empty stored block after it, as zlib's Z_SYNC_FLUSH; bzip2: the block ends, as libbz2's BZ_FLUSH, but up to 7 of
 * its bits stay back until the next block or the end, since bzip2 blocks are not byte-aligned; LZ4 and lzop: the
 * block ends; LZSS: the bits so far are byte-aligned only at the end, so sync is the same as none); call again
 * with kelFlushSync (and no new input) until kelStreamFlushed. kelFlushFinish compresses the rest and writes the
 * end; call again with kelFlushFinish until kelStreamEnd. After kelStreamEnd a compressor accepts nothing until
 * kelStreamReset. With threads > 1 (gzip, bzip2, lz4) a sync flush ends the current piece as a complete member.
 *
 * Decompression: pass kelFlushFinish once the input given is the last: an incomplete stream then gives
 * kelStreamErrTruncated. kelStreamEnd means every member is verified; bytes after the stream are left unconsumed
 * (*srcLen stops before them) and give kelStreamTrailingData instead of kelStreamEnd once known not to start
 * another member (zero bytes after gzip, bzip2 and lzop data are consumed as padding). kelStreamNeedDictionary:
 * call kelStreamSetDictionary, then continue. With stopAtEntries, kelStreamEntryEnd marks each boundary.
 *
 * gzip: 1f 8b after a member starts another one; zero bytes after the last member are padding, and a non-zero
 * byte after them (or a lone 1f at the end of the input) is trailing data. When the input comes in pieces, up to 2
 * bytes that began like the magic may be consumed before the mismatch shows. At kelStreamEntryEnd the header still
 * describes the member that ended; the next call starts the next one. Reserved flag bits are kelStreamErrCorrupt, a
 * wrong header CRC, CRC-32 or length kelStreamErrChecksum. zlib and raw Deflate end at their last byte: any byte
 * after it is trailing data. kelStreamMessage() names what is wrong ("invalid distance too far back", "invalid
 * block type", "incorrect data check (CRC-32)", ...).
 *
 * LZ4: frames, skippable frames (passed over; a file of only those decodes to nothing) and legacy streams may
 * follow each other; each frame or legacy stream is an entry. A legacy stream ends with the input or where a block
 * length reads as a magic or exceeds the largest legacy block. LZ4 has no padding: zero bytes after the last frame
 * are trailing data, as the lz4 tool reports them; a magic cut short by the end of the input is truncation. When
 * the input comes in pieces, up to 3 bytes that began like a magic may be consumed before the mismatch shows. A
 * frame with a dictionary ID decodes as long as no block refers before the frame's start (kelStreamErrCorrupt);
 * a wrong content size is kelStreamErrChecksum. A block is decoded in the room given when the room may hold it, so
 * bytes of the room past those reported in *dstLen may have been overwritten.
 *
 * bzip2: "BZh" after a stream starts another one (a bad block-size digit after it is kelStreamErrCorrupt, its end
 * kelStreamErrTruncated); zero bytes after a stream are padding, and anything after padding is trailing data. When
 * the input comes in pieces, up to 2 bytes that began like "BZh" may be consumed before the mismatch shows.
 * Randomised blocks (written only by bzip2 before 0.9.5) are kelStreamErrUnsupported. With threads > 1 the blocks
 * are decoded on worker threads with the same output and results; after an error, input read ahead counts as
 * consumed.
 *
 * @return kelStreamOk, kelStreamEnd, kelStreamFlushed, kelStreamNeedDictionary, kelStreamEntryEnd,
 *         kelStreamTrailingData, or an error. Never writes outside dst[0, room), never reads outside src[0, *srcLen).
 */
KelStreamResult kelStreamProcess(KelStream* stream, const void* src, size_t* srcLen, void* dst, size_t* dstLen,
                                 KelStreamFlush flush);

/**
 * kelStreamSetDictionary - the preset dictionary of a zlib or raw stream: for compression before the first
 * kelStreamProcess; for decompression of zlib right after kelStreamNeedDictionary (the Adler-32 must match the one
 * the stream names, else kelStreamErrArgument), of raw before the first call.
 * @return kelStreamOk, kelStreamErrArgument, kelStreamErrUnsupported (another format).
 */
KelStreamResult kelStreamSetDictionary(KelStream* stream, const void* dict, size_t dictLen);

/** kelStreamGetHeader - the header fields known so far (see KelStreamHeader). kelStreamOk or kelStreamErrArgument. */
KelStreamResult kelStreamGetHeader(const KelStream* stream, KelStreamHeader* header);

/** kelStreamMessage - one line on the last error (or "" when none); valid until the next call on the stream. */
const char* kelStreamMessage(const KelStream* stream);

/** kelStreamReset - starts a new stream with the same format, direction and options; clears a sticky error. */
KelStreamResult kelStreamReset(KelStream* stream);

/** kelStreamFree - releases the stream and everything it holds (worker threads are joined). Null is allowed. */
void kelStreamFree(KelStream* stream);

#ifdef __cplusplus
}
#endif

#endif /* KELSTREAM_H */
