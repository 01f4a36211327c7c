// tests/dc/deflate/digest_test.cpp - the encoder primitives' outputs over the corpus, pinned by CRC-32 digests.
//
// The matchers, the Huffman writer and the single-probe path are tuned for speed again and again; none of that may
// change a single item, count or bit. The digests below were taken from the build before that tuning began. Each
// corpus file is fed the way a streaming compressor feeds it (the data grows in pieces, history and source stay
// contiguous, "more input follows" until the last piece), so the calls see held-back tails, full item buffers and
// position rebasing-free long runs alike.
//
// After a deliberate change of output, KEL_PRINT_DIGESTS=1 prints the new table.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "keldc.h"
#include "support/pinned_digest.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr Kel32u kWindow = 32768;
constexpr std::size_t kPiece = 100000;  // bytes added to the stream per round
constexpr Kel32s kItems = 16384;        // item buffer of a block

struct Digest {
    const char* file;
    std::uint32_t crc;
};

std::uint32_t crcOf(std::uint32_t crc, const void* p, std::size_t n) {
    return std::uint32_t(crc32(crc, static_cast<const Bytef*>(p), uInt(n)));
}

// RFC 1951 fixed codes, bit-reversed, for running the Huffman writer over the items.
void fixedCodes(DeflateCodeEntry* lit, DeflateCodeEntry* dist) {
    auto put = [](DeflateCodeEntry& e, unsigned code, unsigned len) {
        unsigned r = 0;
        for (unsigned b = 0; b < len; ++b) r |= ((code >> b) & 1u) << (len - 1 - b);
        e.freqOrCode = Kel16u(r);
        e.codeLength = Kel16u(len);
    };
    for (unsigned i = 0; i < 288; ++i) {
        if (i < 144) {
            put(lit[i], 0x30 + i, 8);
        } else if (i < 256) {
            put(lit[i], 0x190 + (i - 144), 9);
        } else if (i < 280) {
            put(lit[i], i - 256, 7);
        } else {
            put(lit[i], 0xC0 + (i - 280), 8);
        }
    }
    for (unsigned i = 0; i < 30; ++i) put(dist[i], i, 5);
}

// Items, counts and the fixed-code bits of a whole file at one level and table size.
std::uint32_t matcherDigest(const Bytes& data, Kel32u level, Kel32u hashSize) {
    std::vector<Kel32s> heads(hashSize, -32768), chain(kWindow, -32768);
    DeflateCodeEntry counts[286] = {}, dcounts[30] = {}, lit[288], dist[30];
    fixedCodes(lit, dist);
    std::vector<Kel8u> litOut(kItems);
    std::vector<Kel16u> distOut(kItems);
    Bytes bits(6 * std::size_t(kItems) + 16);
    Kel16u pending = 0;
    Kel32u pendingCount = 0;
    std::uint32_t crc = 0;
    std::size_t cur = 0, avail = 0;
    Kel32u pos = 0;
    Kel32s items = 0;
    auto endBlock = [&] {
        crc = crcOf(crc, litOut.data(), std::size_t(items));
        crc = crcOf(crc, distOut.data(), 2 * std::size_t(items));
        crc = crcOf(crc, counts, sizeof counts);
        crc = crcOf(crc, dcounts, sizeof dcounts);
        Kel32u o = 0;
        EXPECT_EQ(kelsDeflateHuff_8u(litOut.data(), distOut.data(), Kel32u(items), &pending, &pendingCount, lit, dist,
                                     bits.data(), &o),
                  kelStatusOk);
        crc = crcOf(crc, bits.data(), o);
        std::fill(std::begin(counts), std::end(counts), DeflateCodeEntry{0, 0});
        std::fill(std::begin(dcounts), std::end(dcounts), DeflateCodeEntry{0, 0});
        items = 0;
    };
    while (avail < data.size()) {
        avail = std::min(data.size(), avail + kPiece);
        const Kel32u flush = avail == data.size() ? 2 : 0;
        for (;;) {
            const Kel8u* p = data.data() + cur;
            Kel32s len = Kel32s(avail - cur);
            Kel32s room = kItems - items;
            const Kel32s before = room;
            EXPECT_EQ(kelsDeflateLZ77_8u(&p, &len, &pos, p, kWindow, heads.data(), chain.data(), hashSize, counts,
                                         dcounts, litOut.data() + items, distOut.data() + items, &room, level, flush),
                      kelStatusOk);
            const std::size_t used = std::size_t(p - (data.data() + cur));
            cur += used;
            items += before - room;
            if (items == kItems) {
                endBlock();
                continue;
            }
            if (used == 0 || cur == avail) break;
        }
    }
    endBlock();
    crc = crcOf(crc, &pending, sizeof pending);
    return crcOf(crc, &pendingCount, sizeof pendingCount);
}

// The single-probe path over a whole file: counts in pieces, codes, header, then the encoding in pieces, once with
// the codes and the precomputed header and once with fixed codes.
std::uint32_t fastestDigest(const Bytes& data, Kel32u hashSize) {
    std::uint32_t crc = 0;
    Kel32u lc[286] = {}, dc[30] = {};
    {
        std::vector<Kel32s> heads(hashSize, -32768);
        std::size_t cur = 0, avail = 0;
        Kel32u pos = 0;
        while (avail < data.size()) {
            avail = std::min(data.size(), avail + kPiece);
            const Kel8u* p = data.data() + cur;
            Kel32s len = Kel32s(avail - cur);
            EXPECT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, p, kWindow, heads.data(), hashSize, lc, dc,
                                                       avail == data.size() ? 2 : 0),
                      kelStatusOk);
            cur = std::size_t(p - data.data());
        }
        crc = crcOf(crc, lc, sizeof lc);
        crc = crcOf(crc, dc, sizeof dc);
    }
    lc[256] = 1;
    DeflateCodeEntry lit[288] = {}, dist[30] = {};
    const KelStatus gen = kelsDeflateLZ77FastestGenHuffTable_8u(lc, dc, lit, dist);
    crc = crcOf(crc, &gen, sizeof gen);
    crc = crcOf(crc, lit, sizeof lit);
    crc = crcOf(crc, dist, sizeof dist);
    Kel8u header[320] = {};
    Kel32s headerBytes = 0, headerBits = 0;
    EXPECT_EQ(kelsDeflateLZ77FastestGenHeader_8u(lit, dist, header, &headerBytes, &headerBits), kelStatusOk);
    crc = crcOf(crc, header, std::size_t(headerBytes));
    for (const bool dynamic : {true, false}) {
        std::vector<Kel32s> heads(hashSize, -32768);
        Bytes out(2 * data.size() + 1024);
        Kel32u o = 0;
        Kel16u pending = dynamic ? 5 : 3;  // final flag and block type, as a caller puts them
        Kel32u pendingCount = 3;
        std::size_t cur = 0, avail = 0;
        Kel32u pos = 0;
        while (avail < data.size()) {
            avail = std::min(data.size(), avail + kPiece);
            const Kel8u* p = data.data() + cur;
            Kel32s len = Kel32s(avail - cur);
            const Kel32u flush = avail == data.size() ? 2 : 0;
            const KelStatus st = dynamic
                                     ? kelsDeflateLZ77FastestPrecompHeader_8u(
                                           &p, &len, &pos, p, kWindow, heads.data(), hashSize, &pending, &pendingCount,
                                           out.data(), Kel32u(out.size()), &o, lit, dist, header, headerBits, flush)
                                     : kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), hashSize,
                                                                 &pending, &pendingCount, out.data(),
                                                                 Kel32u(out.size()), &o, nullptr, nullptr, flush);
            EXPECT_EQ(st, kelStatusOk);
            cur = std::size_t(p - data.data());
        }
        EXPECT_EQ(cur, data.size());
        crc = crcOf(crc, out.data(), o);
        crc = crcOf(crc, &pending, sizeof pending);
        crc = crcOf(crc, &pendingCount, sizeof pendingCount);
    }
    return crc;
}

// One digest per case/file, recorded from the build before the speed work.
const kel::test::PinnedDigest kExpected[] = {
    {"level0/h4096/alice29.txt", 0x403614DE},
    {"level1/h4096/alice29.txt", 0x919C3B6E},
    {"level4/h4096/alice29.txt", 0xDF8302BC},
    {"level6/h4096/alice29.txt", 0x8E14B959},
    {"level9/h4096/alice29.txt", 0x6140DF2A},
    {"level0/h4096/asyoulik.txt", 0xD2C5FD58},
    {"level1/h4096/asyoulik.txt", 0x751C6EC7},
    {"level4/h4096/asyoulik.txt", 0x211EFA94},
    {"level6/h4096/asyoulik.txt", 0x4AC84742},
    {"level9/h4096/asyoulik.txt", 0xADBB90B5},
    {"level0/h4096/fireworks.jpeg", 0x8BB3D8AE},
    {"level1/h4096/fireworks.jpeg", 0xDE5D2867},
    {"level4/h4096/fireworks.jpeg", 0xCB49E873},
    {"level6/h4096/fireworks.jpeg", 0x202A5D6B},
    {"level9/h4096/fireworks.jpeg", 0x202A5D6B},
    {"level0/h4096/geo.protodata", 0xAB0CA2C4},
    {"level1/h4096/geo.protodata", 0xCDABA385},
    {"level4/h4096/geo.protodata", 0x0D2D92C5},
    {"level6/h4096/geo.protodata", 0x9E137DDB},
    {"level9/h4096/geo.protodata", 0x8988CF08},
    {"level0/h4096/html", 0xBF55C05B},
    {"level1/h4096/html", 0x91464D37},
    {"level4/h4096/html", 0x821F24AC},
    {"level6/h4096/html", 0x562F680F},
    {"level9/h4096/html", 0x75837715},
    {"level0/h4096/html_x_4", 0x50FBD4A2},
    {"level1/h4096/html_x_4", 0xAA96196E},
    {"level4/h4096/html_x_4", 0x539FD58D},
    {"level6/h4096/html_x_4", 0xEFDC1CDF},
    {"level9/h4096/html_x_4", 0xAFE68E49},
    {"level0/h4096/kppkn.gtb", 0x821EE611},
    {"level1/h4096/kppkn.gtb", 0xEAB3DE39},
    {"level4/h4096/kppkn.gtb", 0x2D8DC09E},
    {"level6/h4096/kppkn.gtb", 0x22950303},
    {"level9/h4096/kppkn.gtb", 0x146C38EE},
    {"level0/h4096/lcet10.txt", 0x9AD50FCF},
    {"level1/h4096/lcet10.txt", 0x762249C2},
    {"level4/h4096/lcet10.txt", 0x595A0E41},
    {"level6/h4096/lcet10.txt", 0x67D3E2FF},
    {"level9/h4096/lcet10.txt", 0x7EE00BF1},
    {"level0/h4096/paper-100k.pdf", 0x63822E61},
    {"level1/h4096/paper-100k.pdf", 0xA5BF4BDA},
    {"level4/h4096/paper-100k.pdf", 0x42047910},
    {"level6/h4096/paper-100k.pdf", 0xB6E0CDBC},
    {"level9/h4096/paper-100k.pdf", 0x12848E1B},
    {"level0/h4096/plrabn12.txt", 0x70AC4493},
    {"level1/h4096/plrabn12.txt", 0x70500C9E},
    {"level4/h4096/plrabn12.txt", 0x4B1F7508},
    {"level6/h4096/plrabn12.txt", 0x2418A113},
    {"level9/h4096/plrabn12.txt", 0xCD4DB456},
    {"level0/h4096/urls.10K", 0xCB1D46E5},
    {"level1/h4096/urls.10K", 0x0655C0C5},
    {"level4/h4096/urls.10K", 0xE9E1B1E7},
    {"level6/h4096/urls.10K", 0x83ADE8FA},
    {"level9/h4096/urls.10K", 0xB612C5C4},
    {"fastest/h4096/alice29.txt", 0x8EBBFF36},
    {"fastest/h8192/alice29.txt", 0x081BEB3F},
    {"fastest/h16384/alice29.txt", 0x967575F7},
    {"fastest/h32768/alice29.txt", 0x1A64C8F0},
    {"fastest/h4096/asyoulik.txt", 0xEDDADBD9},
    {"fastest/h8192/asyoulik.txt", 0x56299A47},
    {"fastest/h16384/asyoulik.txt", 0xC6FED700},
    {"fastest/h32768/asyoulik.txt", 0xECD5421D},
    {"fastest/h4096/fireworks.jpeg", 0x09DD2C5C},
    {"fastest/h8192/fireworks.jpeg", 0x09DD2C5C},
    {"fastest/h16384/fireworks.jpeg", 0xDE164455},
    {"fastest/h32768/fireworks.jpeg", 0x111585DB},
    {"fastest/h4096/geo.protodata", 0x00DCD768},
    {"fastest/h8192/geo.protodata", 0x8BAAAD35},
    {"fastest/h16384/geo.protodata", 0x9510F29F},
    {"fastest/h32768/geo.protodata", 0xD582C3D1},
    {"fastest/h4096/html", 0xF85FD2BF},
    {"fastest/h8192/html", 0x6CBC1DEE},
    {"fastest/h16384/html", 0x03DC3E53},
    {"fastest/h32768/html", 0x322A65E8},
    {"fastest/h4096/html_x_4", 0x46118D52},
    {"fastest/h8192/html_x_4", 0x0515CCB1},
    {"fastest/h16384/html_x_4", 0x9DC1D2B8},
    {"fastest/h32768/html_x_4", 0x04ABCCDF},
    {"fastest/h4096/kppkn.gtb", 0x79E75F83},
    {"fastest/h8192/kppkn.gtb", 0xD6820C3A},
    {"fastest/h16384/kppkn.gtb", 0x9CC8CFF9},
    {"fastest/h32768/kppkn.gtb", 0xB70CA763},
    {"fastest/h4096/lcet10.txt", 0x8627BB85},
    {"fastest/h8192/lcet10.txt", 0x62CE43C5},
    {"fastest/h16384/lcet10.txt", 0xEB56A928},
    {"fastest/h32768/lcet10.txt", 0x4F2ADA51},
    {"fastest/h4096/paper-100k.pdf", 0x6C691205},
    {"fastest/h8192/paper-100k.pdf", 0x63E062F6},
    {"fastest/h16384/paper-100k.pdf", 0xA72A91E0},
    {"fastest/h32768/paper-100k.pdf", 0xAF4A3497},
    {"fastest/h4096/plrabn12.txt", 0x295B1F4E},
    {"fastest/h8192/plrabn12.txt", 0x7A5336C4},
    {"fastest/h16384/plrabn12.txt", 0x02DBD238},
    {"fastest/h32768/plrabn12.txt", 0x3B37429C},
    {"fastest/h4096/urls.10K", 0x5D5049A0},
    {"fastest/h8192/urls.10K", 0x6684F7A8},
    {"fastest/h16384/urls.10K", 0xAF57A048},
    {"fastest/h32768/urls.10K", 0x4594EB3A},
    {"level0/alice29.txt", 0x4D0DF26F},
    {"level0/asyoulik.txt", 0x8FAD58CE},
    {"level0/fireworks.jpeg", 0x6AD8A53E},
    {"level0/geo.protodata", 0x0D882A10},
    {"level0/html", 0xFDF8367F},
    {"level0/html_x_4", 0x1110C3E3},
    {"level0/kppkn.gtb", 0x49CBD2CE},
    {"level0/lcet10.txt", 0x76F6DAA6},
    {"level0/paper-100k.pdf", 0x1DB3B4BC},
    {"level0/plrabn12.txt", 0xEF6672D7},
    {"level0/urls.10K", 0xEF7A35D4},
    {"level1/alice29.txt", 0xD85C5EDB},
    {"level1/asyoulik.txt", 0x893EF4AC},
    {"level1/fireworks.jpeg", 0x411C434C},
    {"level1/geo.protodata", 0x18A862A8},
    {"level1/html", 0xCD061A28},
    {"level1/html_x_4", 0x66E7D0B3},
    {"level1/kppkn.gtb", 0x22297CCE},
    {"level1/lcet10.txt", 0xFE8176DB},
    {"level1/paper-100k.pdf", 0x4D5A0A66},
    {"level1/plrabn12.txt", 0x992419E0},
    {"level1/urls.10K", 0xB3896D08},
    {"level2/alice29.txt", 0xD44B4F9D},
    {"level2/asyoulik.txt", 0x786A18C9},
    {"level2/fireworks.jpeg", 0x411C434C},
    {"level2/geo.protodata", 0x15C289BF},
    {"level2/html", 0x333246DB},
    {"level2/html_x_4", 0xE0F1AC28},
    {"level2/kppkn.gtb", 0xE5CAD6F9},
    {"level2/lcet10.txt", 0x37C867DC},
    {"level2/paper-100k.pdf", 0x4CD65AAD},
    {"level2/plrabn12.txt", 0xB5304DF6},
    {"level2/urls.10K", 0x7CBEB997},
    {"level3/alice29.txt", 0x25308EC5},
    {"level3/asyoulik.txt", 0x69F9FD66},
    {"level3/fireworks.jpeg", 0x411C434C},
    {"level3/geo.protodata", 0xADF63484},
    {"level3/html", 0x6A00467E},
    {"level3/html_x_4", 0xCDCB3649},
    {"level3/kppkn.gtb", 0x725A2481},
    {"level3/lcet10.txt", 0x9271C0C4},
    {"level3/paper-100k.pdf", 0x782FFB5B},
    {"level3/plrabn12.txt", 0x250420BB},
    {"level3/urls.10K", 0x800E9017},
    {"level4/alice29.txt", 0x6A252513},
    {"level4/asyoulik.txt", 0x020E6D8C},
    {"level4/fireworks.jpeg", 0xCB49E873},
    {"level4/geo.protodata", 0x0D2D92C5},
    {"level4/html", 0xCD1F48E5},
    {"level4/html_x_4", 0x7E76A508},
    {"level4/kppkn.gtb", 0x957ADF7B},
    {"level4/lcet10.txt", 0x0647D85E},
    {"level4/paper-100k.pdf", 0x42047910},
    {"level4/plrabn12.txt", 0x03B2C640},
    {"level4/urls.10K", 0xF7C70566},
    {"level5/alice29.txt", 0xA55CE21A},
    {"level5/asyoulik.txt", 0xD5CF0109},
    {"level5/fireworks.jpeg", 0x202A5D6B},
    {"level5/geo.protodata", 0xF426419A},
    {"level5/html", 0x50693C6E},
    {"level5/html_x_4", 0x50D9FFB8},
    {"level5/kppkn.gtb", 0x393C3041},
    {"level5/lcet10.txt", 0xC91C8AB0},
    {"level5/paper-100k.pdf", 0xEF50DCBA},
    {"level5/plrabn12.txt", 0x2556A788},
    {"level5/urls.10K", 0xFB6E5C23},
    {"level6/alice29.txt", 0x6C764F3C},
    {"level6/asyoulik.txt", 0xE8CD3D41},
    {"level6/fireworks.jpeg", 0x202A5D6B},
    {"level6/geo.protodata", 0xB6528D10},
    {"level6/html", 0x143549C8},
    {"level6/html_x_4", 0x7A39F2AD},
    {"level6/kppkn.gtb", 0x86E1ED8B},
    {"level6/lcet10.txt", 0x82B6B4F4},
    {"level6/paper-100k.pdf", 0xB6E0CDBC},
    {"level6/plrabn12.txt", 0x5F097D3C},
    {"level6/urls.10K", 0x9E2A2B11},
    {"level7/alice29.txt", 0xE0080BB5},
    {"level7/asyoulik.txt", 0x605AEA83},
    {"level7/fireworks.jpeg", 0x202A5D6B},
    {"level7/geo.protodata", 0x3BD8E23D},
    {"level7/html", 0x3737463B},
    {"level7/html_x_4", 0xE171E4A6},
    {"level7/kppkn.gtb", 0x55A5DB5C},
    {"level7/lcet10.txt", 0x77D37457},
    {"level7/paper-100k.pdf", 0xB6E0CDBC},
    {"level7/plrabn12.txt", 0xF95B5BE5},
    {"level7/urls.10K", 0x9BF25FF9},
    {"level8/alice29.txt", 0x71405122},
    {"level8/asyoulik.txt", 0x5A49649D},
    {"level8/fireworks.jpeg", 0x202A5D6B},
    {"level8/geo.protodata", 0x8988CF08},
    {"level8/html", 0x20B3A892},
    {"level8/html_x_4", 0x1451A184},
    {"level8/kppkn.gtb", 0xFA77E152},
    {"level8/lcet10.txt", 0x8CB066E1},
    {"level8/paper-100k.pdf", 0x0D2789E0},
    {"level8/plrabn12.txt", 0x0CCF12D4},
    {"level8/urls.10K", 0xB025C418},
    {"level9/alice29.txt", 0xB3651E00},
    {"level9/asyoulik.txt", 0x28BE515C},
    {"level9/fireworks.jpeg", 0x202A5D6B},
    {"level9/geo.protodata", 0x8988CF08},
    {"level9/html", 0x75837715},
    {"level9/html_x_4", 0xAFE68E49},
    {"level9/kppkn.gtb", 0x4479CAB8},
    {"level9/lcet10.txt", 0xCD866EAE},
    {"level9/paper-100k.pdf", 0x12848E1B},
    {"level9/plrabn12.txt", 0x43587989},
    {"level9/urls.10K", 0x235D1DB1},
    {"level10/alice29.txt", 0x4D0DF26F},
    {"level10/asyoulik.txt", 0x8FAD58CE},
    {"level10/fireworks.jpeg", 0x6AD8A53E},
    {"level10/geo.protodata", 0x0D882A10},
    {"level10/html", 0xFDF8367F},
    {"level10/html_x_4", 0x1110C3E3},
    {"level10/kppkn.gtb", 0x49CBD2CE},
    {"level10/lcet10.txt", 0x76F6DAA6},
    {"level10/paper-100k.pdf", 0x1DB3B4BC},
    {"level10/plrabn12.txt", 0xEF6672D7},
    {"level10/urls.10K", 0xEF7A35D4},
    {"level11/alice29.txt", 0x49077887},
    {"level11/asyoulik.txt", 0xA20271FF},
    {"level11/fireworks.jpeg", 0x411C434C},
    {"level11/geo.protodata", 0x5BEF1FD1},
    {"level11/html", 0xB014EDC1},
    {"level11/html_x_4", 0x82D1A5E4},
    {"level11/kppkn.gtb", 0x7FC33CB6},
    {"level11/lcet10.txt", 0x5C506A46},
    {"level11/paper-100k.pdf", 0x1E00251B},
    {"level11/plrabn12.txt", 0x7CA56445},
    {"level11/urls.10K", 0x30178557},
    {"level12/alice29.txt", 0xCBD4817A},
    {"level12/asyoulik.txt", 0xEB2CB29E},
    {"level12/fireworks.jpeg", 0x411C434C},
    {"level12/geo.protodata", 0x9B886780},
    {"level12/html", 0x6C7202C5},
    {"level12/html_x_4", 0x115F1CEB},
    {"level12/kppkn.gtb", 0x97165408},
    {"level12/lcet10.txt", 0x2862F43A},
    {"level12/paper-100k.pdf", 0xB6BB72DA},
    {"level12/plrabn12.txt", 0xC5F084EB},
    {"level12/urls.10K", 0x5E884F60},
    {"level13/alice29.txt", 0x4AF2DB8F},
    {"level13/asyoulik.txt", 0x040A940A},
    {"level13/fireworks.jpeg", 0xCB49E873},
    {"level13/geo.protodata", 0xBD5A592C},
    {"level13/html", 0xCE21021A},
    {"level13/html_x_4", 0x717215C6},
    {"level13/kppkn.gtb", 0x71897B5F},
    {"level13/lcet10.txt", 0xB8F0E804},
    {"level13/paper-100k.pdf", 0x75BAD2D1},
    {"level13/plrabn12.txt", 0xF5169F08},
    {"level13/urls.10K", 0x943E2493},
    {"level14/alice29.txt", 0x4AE3EB15},
    {"level14/asyoulik.txt", 0x99C97EE3},
    {"level14/fireworks.jpeg", 0xCB49E873},
    {"level14/geo.protodata", 0xA78F4246},
    {"level14/html", 0x8D79D844},
    {"level14/html_x_4", 0x1EE2EA33},
    {"level14/kppkn.gtb", 0x519E3138},
    {"level14/lcet10.txt", 0x0A1BD331},
    {"level14/paper-100k.pdf", 0x531226EF},
    {"level14/plrabn12.txt", 0x8CA9F539},
    {"level14/urls.10K", 0xA5798B9D},
    {"level15/alice29.txt", 0x8A6CCFCE},
    {"level15/asyoulik.txt", 0xFDE0644B},
    {"level15/fireworks.jpeg", 0x202A5D6B},
    {"level15/geo.protodata", 0xB61A6C5F},
    {"level15/html", 0x5C6668A9},
    {"level15/html_x_4", 0x6D110781},
    {"level15/kppkn.gtb", 0x30FD30FC},
    {"level15/lcet10.txt", 0xC39C5045},
    {"level15/paper-100k.pdf", 0x2CEC4EBE},
    {"level15/plrabn12.txt", 0xD7C9219D},
    {"level15/urls.10K", 0x9804C5AF},
    {"level16/alice29.txt", 0x84E30025},
    {"level16/asyoulik.txt", 0xF21FA23C},
    {"level16/fireworks.jpeg", 0x202A5D6B},
    {"level16/geo.protodata", 0xB6528D10},
    {"level16/html", 0xA023A7BE},
    {"level16/html_x_4", 0xBFCDAAB0},
    {"level16/kppkn.gtb", 0xB54C3727},
    {"level16/lcet10.txt", 0x15849B8C},
    {"level16/paper-100k.pdf", 0xB6E0CDBC},
    {"level16/plrabn12.txt", 0x736933C4},
    {"level16/urls.10K", 0xE32D0EC0},
    {"level17/alice29.txt", 0x65B563EF},
    {"level17/asyoulik.txt", 0x1143079C},
    {"level17/fireworks.jpeg", 0x202A5D6B},
    {"level17/geo.protodata", 0xB6528D10},
    {"level17/html", 0x227C3C7E},
    {"level17/html_x_4", 0xAEC0806C},
    {"level17/kppkn.gtb", 0xAA6FCB88},
    {"level17/lcet10.txt", 0x3E2641E7},
    {"level17/paper-100k.pdf", 0xB6E0CDBC},
    {"level17/plrabn12.txt", 0x45842107},
    {"level17/urls.10K", 0xDE439271},
    {"level18/alice29.txt", 0x71405122},
    {"level18/asyoulik.txt", 0x5A49649D},
    {"level18/fireworks.jpeg", 0x202A5D6B},
    {"level18/geo.protodata", 0x8988CF08},
    {"level18/html", 0x20B3A892},
    {"level18/html_x_4", 0x1451A184},
    {"level18/kppkn.gtb", 0xFA77E152},
    {"level18/lcet10.txt", 0x8CB066E1},
    {"level18/paper-100k.pdf", 0x0D2789E0},
    {"level18/plrabn12.txt", 0x0CCF12D4},
    {"level18/urls.10K", 0xB025C418},
    {"level19/alice29.txt", 0xAE45B4F8},
    {"level19/asyoulik.txt", 0x28BE515C},
    {"level19/fireworks.jpeg", 0x202A5D6B},
    {"level19/geo.protodata", 0x8988CF08},
    {"level19/html", 0x7C80AFFC},
    {"level19/html_x_4", 0xD716A006},
    {"level19/kppkn.gtb", 0x1F47562C},
    {"level19/lcet10.txt", 0x0D20199E},
    {"level19/paper-100k.pdf", 0xC3DC98D7},
    {"level19/plrabn12.txt", 0xF416749B},
    {"level19/urls.10K", 0xD6D06B4D},
    {"level20/alice29.txt", 0x4D0DF26F},
    {"level20/asyoulik.txt", 0x8FAD58CE},
    {"level20/fireworks.jpeg", 0x6AD8A53E},
    {"level20/geo.protodata", 0x0D882A10},
    {"level20/html", 0xFDF8367F},
    {"level20/html_x_4", 0x1110C3E3},
    {"level20/kppkn.gtb", 0x49CBD2CE},
    {"level20/lcet10.txt", 0x76F6DAA6},
    {"level20/paper-100k.pdf", 0x1DB3B4BC},
    {"level20/plrabn12.txt", 0xEF6672D7},
    {"level20/urls.10K", 0xEF7A35D4},
    {"level21/alice29.txt", 0xA44B0262},
    {"level21/asyoulik.txt", 0x37535AF8},
    {"level21/fireworks.jpeg", 0x411C434C},
    {"level21/geo.protodata", 0x9AE64A0D},
    {"level21/html", 0xE046B4DD},
    {"level21/html_x_4", 0x908450F2},
    {"level21/kppkn.gtb", 0x843E83E7},
    {"level21/lcet10.txt", 0xC08C27E4},
    {"level21/paper-100k.pdf", 0xE9285930},
    {"level21/plrabn12.txt", 0xE2CAB6FF},
    {"level21/urls.10K", 0xB5FF0ACB},
    {"level22/alice29.txt", 0x9DE51E64},
    {"level22/asyoulik.txt", 0x74987ACA},
    {"level22/fireworks.jpeg", 0x411C434C},
    {"level22/geo.protodata", 0x32E8383A},
    {"level22/html", 0xABEC8E77},
    {"level22/html_x_4", 0x7A7309E3},
    {"level22/kppkn.gtb", 0x9AFCC486},
    {"level22/lcet10.txt", 0x94C9D53D},
    {"level22/paper-100k.pdf", 0x2C0ACE6F},
    {"level22/plrabn12.txt", 0xA0D01E52},
    {"level22/urls.10K", 0x1E62312A},
    {"level23/alice29.txt", 0x9DE51E64},
    {"level23/asyoulik.txt", 0x74987ACA},
    {"level23/fireworks.jpeg", 0x411C434C},
    {"level23/geo.protodata", 0x32E8383A},
    {"level23/html", 0xABEC8E77},
    {"level23/html_x_4", 0x7A7309E3},
    {"level23/kppkn.gtb", 0x9AFCC486},
    {"level23/lcet10.txt", 0x94C9D53D},
    {"level23/paper-100k.pdf", 0x2C0ACE6F},
    {"level23/plrabn12.txt", 0xA0D01E52},
    {"level23/urls.10K", 0x1E62312A},
    {"level24/alice29.txt", 0x4AE3EB15},
    {"level24/asyoulik.txt", 0x99C97EE3},
    {"level24/fireworks.jpeg", 0xCB49E873},
    {"level24/geo.protodata", 0xA78F4246},
    {"level24/html", 0x8D79D844},
    {"level24/html_x_4", 0x1EE2EA33},
    {"level24/kppkn.gtb", 0x519E3138},
    {"level24/lcet10.txt", 0x0A1BD331},
    {"level24/paper-100k.pdf", 0x531226EF},
    {"level24/plrabn12.txt", 0x8CA9F539},
    {"level24/urls.10K", 0xA5798B9D},
    {"level25/alice29.txt", 0xA55CE21A},
    {"level25/asyoulik.txt", 0xD5CF0109},
    {"level25/fireworks.jpeg", 0x202A5D6B},
    {"level25/geo.protodata", 0xF426419A},
    {"level25/html", 0x50693C6E},
    {"level25/html_x_4", 0x50D9FFB8},
    {"level25/kppkn.gtb", 0x393C3041},
    {"level25/lcet10.txt", 0xC91C8AB0},
    {"level25/paper-100k.pdf", 0xEF50DCBA},
    {"level25/plrabn12.txt", 0x2556A788},
    {"level25/urls.10K", 0xFB6E5C23},
    {"level26/alice29.txt", 0x6C764F3C},
    {"level26/asyoulik.txt", 0xE8CD3D41},
    {"level26/fireworks.jpeg", 0x202A5D6B},
    {"level26/geo.protodata", 0xB6528D10},
    {"level26/html", 0x143549C8},
    {"level26/html_x_4", 0x7A39F2AD},
    {"level26/kppkn.gtb", 0x86E1ED8B},
    {"level26/lcet10.txt", 0x82B6B4F4},
    {"level26/paper-100k.pdf", 0xB6E0CDBC},
    {"level26/plrabn12.txt", 0x5F097D3C},
    {"level26/urls.10K", 0x9E2A2B11},
    {"level27/alice29.txt", 0xE0080BB5},
    {"level27/asyoulik.txt", 0x605AEA83},
    {"level27/fireworks.jpeg", 0x202A5D6B},
    {"level27/geo.protodata", 0x3BD8E23D},
    {"level27/html", 0x3737463B},
    {"level27/html_x_4", 0xE171E4A6},
    {"level27/kppkn.gtb", 0x55A5DB5C},
    {"level27/lcet10.txt", 0x77D37457},
    {"level27/paper-100k.pdf", 0xB6E0CDBC},
    {"level27/plrabn12.txt", 0xF95B5BE5},
    {"level27/urls.10K", 0x9BF25FF9},
    {"level28/alice29.txt", 0x71405122},
    {"level28/asyoulik.txt", 0x5A49649D},
    {"level28/fireworks.jpeg", 0x202A5D6B},
    {"level28/geo.protodata", 0x8988CF08},
    {"level28/html", 0x20B3A892},
    {"level28/html_x_4", 0x1451A184},
    {"level28/kppkn.gtb", 0xFA77E152},
    {"level28/lcet10.txt", 0x8CB066E1},
    {"level28/paper-100k.pdf", 0x0D2789E0},
    {"level28/plrabn12.txt", 0x0CCF12D4},
    {"level28/urls.10K", 0xB025C418},
    {"level29/alice29.txt", 0xAE45B4F8},
    {"level29/asyoulik.txt", 0x28BE515C},
    {"level29/fireworks.jpeg", 0x202A5D6B},
    {"level29/geo.protodata", 0x8988CF08},
    {"level29/html", 0x7C80AFFC},
    {"level29/html_x_4", 0xD716A006},
    {"level29/kppkn.gtb", 0x1F47562C},
    {"level29/lcet10.txt", 0x0D20199E},
    {"level29/paper-100k.pdf", 0xC3DC98D7},
    {"level29/plrabn12.txt", 0xF416749B},
    {"level29/urls.10K", 0xD6D06B4D},
};

void check(const std::string& kase, const std::string& file, std::uint32_t got) {
    kel::test::checkPinnedDigest(kExpected, kase + "/" + file, got);
}

class MatcherDigest : public ::testing::TestWithParam<int> {};

// Every level of the level table (greedy 3-byte, greedy chained, lazy) with the usual 32K-entry head table.
TEST_P(MatcherDigest, CorpusItemsCountsAndBitsUnchanged) {
    const int level = GetParam();
    for (const auto& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        check("level" + std::to_string(level), name, matcherDigest(data, Kel32u(level), 32768));
    }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, MatcherDigest, ::testing::Range(0, 30));

// Smaller head tables make collisions and rejected candidates common.
TEST(MatcherDigestSmallTable, CorpusItemsCountsAndBitsUnchanged) {
    for (const auto& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        for (const int level : {0, 1, 4, 6, 9}) {
            check("level" + std::to_string(level) + "/h4096", name, matcherDigest(data, Kel32u(level), 4096));
        }
    }
}

TEST(FastestDigest, CorpusCountsCodesHeadersAndBitsUnchanged) {
    for (const auto& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        for (const Kel32u hashSize : {4096u, 8192u, 16384u, 32768u}) {
            check("fastest/h" + std::to_string(hashSize), name, fastestDigest(data, hashSize));
        }
    }
}

}  // namespace
