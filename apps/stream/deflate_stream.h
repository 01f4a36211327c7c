// apps/stream/deflate_stream.h - a zlib, gzip or raw Deflate compressor built on the public kel API only.
//
// The stream keeps the window, the hash tables and the position counter; per block it lets the library's matcher
// fill the item buffers, builds length-limited canonical Huffman codes from the counts, writes the cheapest of a
// dynamic, fixed or stored block with its own bit writer and the library's Huffman writer, and keeps the running
// Adler-32 or CRC-32. Output accumulates in output(); the caller takes it away whenever it likes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "keldc.h"
#include "stream/deflate_fastest.h"

namespace kel {

enum class DeflateFormat {
    Raw,   // bare Deflate blocks (RFC 1951)
    Zlib,  // RFC 1950: two-byte header, optional dictionary id, Adler-32 trailer
    Gzip,  // RFC 1952: ten-byte header (with the name when given), CRC-32 and size trailer
};

// Optional fields of the gzip header.
struct GzipHeaderInfo {
    std::string name;         // original file name, without directories; empty: no name field
    std::uint32_t mtime = 0;  // modification time in seconds since 1970; 0: none
};

class DeflateStream {
public:
    static constexpr int kMaxLevel = 29;

    // level 0 to 29. 1 to 9 trade speed for size as zlib's levels do, each served by a row of the library's level
    // table (kelsDeflateLZ77_8u): 1 to 4 by rows 1 to 4, 5 by row 15, 6 by row 5, 7 by row 6, 8 by row 7, 9 by
    // row 8, so that each compresses about as well as zlib's level of the same number. 0 is the single-candidate
    // 3-byte matcher (row 0), 10 to 29 are the rows of the same number. Another level leaves status() at
    // kelStatusBadSize and every call fails with it. The zlib and gzip headers report the level asked for.
    DeflateStream(DeflateFormat format, int level);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // kelStatusOk, or the first error; after an error every call returns it again.
    KelStatus status() const { return status_; }

    // Gzip only, before the first write.
    KelStatus setGzipHeader(const GzipHeaderInfo& info);

    // Preset dictionary (raw and zlib only), before the first write. The decompressor must be given the same
    // bytes (zlib: inflateSetDictionary when it asks for them).
    KelStatus setDictionary(const std::uint8_t* dict, std::size_t n);

    // The fastest mode (`kel c --fast`), before the first write and before setDictionary: blocks come from the
    // library's single-probe path through FastestDeflater (deflate_fastest.h) instead of the level's matcher; the
    // level still goes into the zlib and gzip headers.
    KelStatus setFastest(FastestDeflater::Counts counts = FastestDeflater::Counts::Sampled);

    // Compresses n more bytes. Output appears as blocks complete, not necessarily for every call. A long piece is
    // matched where it lies, without copying; the output is the same however the input is split into pieces.
    KelStatus write(const std::uint8_t* src, std::size_t n);

    // Ends the current block and byte-aligns the output with an empty stored block, so that everything written so
    // far can be decompressed from output() alone (a sync flush). Compression goes on afterwards.
    KelStatus flush();

    // Writes the rest, the final block and the trailer. Nothing may be written afterwards.
    KelStatus finish();

    // Compressed bytes produced so far and not yet taken; clear it (or swap it out) after consuming it.
    std::vector<std::uint8_t>& output() { return out_; }

    // The whole input compressed in one go.
    static KelStatus compress(const std::uint8_t* src, std::size_t n, DeflateFormat format, int level,
                              std::vector<std::uint8_t>& out);

private:
    struct Buffers;

    static int matcherLevelOf(int level);
    void writeHeaderIfNeeded();
    void appendBuffered(const std::uint8_t* src, std::size_t n);
    void compressBuffered(Kel32u flushMode);
    void compressDirect(const std::uint8_t* src, std::size_t n, std::int64_t base);
    void putRaw(std::int64_t from, std::int64_t to);
    void slideWindow();
    void emitBlock(bool final);
    void putBits(std::uint32_t bits, unsigned n);
    void alignToByte();
    void updateChecksum(const std::uint8_t* src, std::size_t n);

    DeflateFormat format_;
    int level_;
    int matcherLevel_;  // the row of the library's level table that serves level_
    KelStatus status_ = kelStatusOk;
    bool started_ = false;
    bool finished_ = false;
    bool hasDictionary_ = false;
    std::uint32_t dictId_ = 0;
    GzipHeaderInfo gzip_;
    std::unique_ptr<FastestDeflater> fast_;  // the fastest mode's block writer, when chosen

    std::unique_ptr<Buffers> b_;
    std::int64_t winBase_ = 0;     // stream offset of the window buffer's first byte
    std::int64_t bufEnd_ = 0;      // bytes in the window buffer
    std::int64_t cur_ = 0;         // offset of the next byte the matcher has not consumed
    std::int64_t blockStart_ = 0;  // stream offset of the current block's first byte
    std::int32_t items_ = 0;       // items of the current block
    // A long write is matched in the caller's buffer: ext_ holds its n bytes from stream offset extBase_ on, extCur_
    // is the offset in it of the next unmatched byte. Null between writes.
    const std::uint8_t* ext_ = nullptr;
    std::int64_t extBase_ = 0;
    std::int64_t extLen_ = 0;
    std::int64_t extCur_ = 0;
    Kel32u pos_ = 0;  // stream position of cur_ for the matcher

    std::uint64_t bitAcc_ = 0;  // pending output bits, lowest first
    unsigned bitCount_ = 0;     // their number, below 8 between operations
    std::uint32_t check_ = 0;   // Adler-32 or CRC-32 of the input so far
    std::uint32_t inSize_ = 0;  // input length modulo 2^32, for the gzip trailer
    std::vector<std::uint8_t> out_;
};

}  // namespace kel
