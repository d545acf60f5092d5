#include "deflatewriter.h"

#include <QtEndian>

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The match finder's effort, close to zlib's default level (which PNG
// writers use): chains are walked for at most MaxChain candidates, a quarter
// of that once a match of GoodLength is in hand, and not at all once one of
// NiceLength is found; a match of MaxLazy or more is taken without looking
// one byte further for a longer one. Of a match longer than MaxIndexed only
// the last MaxIndexed positions are indexed: a later match that starts
// inside a long one nearly always runs on past its end, and those are the
// positions it would start from.
constexpr int MaxChain = 16;
constexpr int GoodLength = 8;
constexpr int NiceLength = 128;
constexpr int MaxLazy = 16;
constexpr int MaxIndexed = 64;
// Where the four bytes ahead are one value repeated (inside a run), only
// RunChain candidates are tried: the nearest run gives the run's length, and
// the row above (tried apart) the alignment that carries the match on past
// the run's end. So only the last RunIndexed positions of a run are indexed.
constexpr int RunChain = 2;
constexpr size_t RunIndexed = 4;

constexpr int MinMatch = 4; // a run's hash covers four bytes
constexpr int MaxMatch = 258;
constexpr uint32_t WindowSize = 1u << 15;
constexpr uint32_t WindowMask = WindowSize - 1;
// The slot of position p in the chain table is reused by p + WindowSize, so
// a candidate must be nearer than that.
constexpr uint32_t MaxDistance = WindowSize - 1;
constexpr int HashBits = 15;

// Symbols per block: each block gets a Huffman code fitted to its own symbols.
constexpr size_t BlockSymbols = 16383;

constexpr int LengthCodes = 29;
constexpr int DistanceCodes = 30;
constexpr int LitLenSymbols = 286;
// The fixed code is defined over 288 symbols; the last two, never sent,
// still shift the codes of the longer lengths.
constexpr int FixedLitLenSymbols = 288;
constexpr int EndOfBlock = 256;
constexpr int MaxCodeBits = 15;
constexpr int MaxCodeLengthBits = 7;
constexpr int CodeLengthSymbols = 19;

constexpr uint16_t lengthBase[LengthCodes] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                              15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                              67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lengthExtra[LengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// The extra bits of each literal/length symbol: 0 for literals.
struct SymbolExtra
{
    uint8_t bits[LitLenSymbols] = {};
    constexpr SymbolExtra()
    {
        for (int c = 0; c < LengthCodes; ++c)
            bits[257 + c] = lengthExtra[c];
    }
};
constexpr SymbolExtra symbolExtra;
constexpr uint16_t distanceBase[DistanceCodes] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
// A literal's symbol carries NoDistance, a code of no bits and no extra bits
// (the last entry), so a block's symbols are written without telling
// literals from matches: a branch mispredicted on every other symbol.
constexpr int NoDistance = DistanceCodes;
constexpr uint8_t distanceExtra[DistanceCodes + 1] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                      4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                      9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t codeLengthOrder[CodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

struct CodeTables
{
    uint8_t lengthCode[MaxMatch + 1];
    uint8_t distanceCode[512]; // distance - 1 below 256, else 256 + ((distance - 1) >> 7)

    CodeTables()
    {
        for (int c = 0; c < LengthCodes; ++c) {
            const int end = c + 1 < LengthCodes ? lengthBase[c + 1] : MaxMatch + 1;
            for (int l = lengthBase[c]; l < end; ++l)
                lengthCode[l] = uint8_t(c);
        }
        lengthCode[MaxMatch] = LengthCodes - 1; // 258 has a code of its own
        for (int c = 0; c < DistanceCodes; ++c) {
            const int end = c + 1 < DistanceCodes ? distanceBase[c + 1] : 32769;
            for (int d = distanceBase[c]; d < end; ++d) {
                if (d <= 256)
                    distanceCode[d - 1] = uint8_t(c);
                else
                    distanceCode[256 + ((d - 1) >> 7)] = uint8_t(c);
            }
        }
    }

    int distance(uint32_t d) const
    {
        return d <= 256 ? distanceCode[d - 1] : distanceCode[256 + ((d - 1) >> 7)];
    }
};

const CodeTables &tables()
{
    static const CodeTables t;
    return t;
}

uint32_t load32(const uchar *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint64_t load64(const uchar *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

uint32_t hash4(uint32_t v)
{
    return (v * 0x9E3779B1u) >> (32 - HashBits);
}

// Of the five bytes at the bottom of v.
uint32_t hash5(uint64_t v)
{
    return uint32_t(((v << 24) * 0x9E3779B97F4A7C15ull) >> (64 - HashBits));
}

// How many bytes from a and b agree, up to max.
int matchLength(const uchar *a, const uchar *b, int max)
{
    int n = 0;
    while (n + 8 <= max) {
        const uint64_t x = load64(a + n) ^ load64(b + n);
        if (x)
            return n + (__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < max && a[n] == b[n])
        ++n;
    return n;
}

// Whether a match at a and b could be longer than best bytes: the bytes up
// to best must agree, and the last of them, the likeliest to differ, are
// compared as one word before any match is measured from its start. On a
// textured tile, a quarter of the candidates that the one byte at best let
// through then fell short; the word turns away two thirds of those.
bool mayBeLonger(const uchar *a, const uchar *b, int best)
{
    return best >= 7 ? load64(a + best - 7) == load64(b + best - 7)
                     : load32(a + best - 3) == load32(b + best - 3);
}

// Whether the four bytes are one value repeated.
bool isRun(uint32_t fourBytes)
{
    return fourBytes == (fourBytes & 0xff) * 0x01010101u;
}

// How many of the bytes from p, at most max, are b.
size_t runLength(const uchar *p, uchar b, size_t max)
{
    const uint64_t pattern = 0x0101010101010101ull * b;
    size_t n = 0;
    while (n + 8 <= max) {
        const uint64_t x = load64(p + n) ^ pattern;
        if (x)
            return n + size_t(__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < max && p[n] == b)
        ++n;
    return n;
}

// One literal or match as the block will send it: the literal/length
// symbol and, for a match, the length's extra bits and the distance's code
// and extra bits, worked out once when the match is found (a literal's
// distance code is NoDistance).
struct Symbol
{
    uint16_t litLen;
    uint16_t lengthExtra;
    uint16_t distanceExtra;
    uint8_t distanceCode;
};

// How often each symbol occurs in the pending block.
struct Counts
{
    uint32_t litLen[LitLenSymbols];
    uint32_t distance[DistanceCodes];
    uint64_t extraBits;

    void clear() { std::memset(this, 0, sizeof *this); }

    Symbol literal(uchar byte)
    {
        ++litLen[byte];
        return {byte, 0, 0, NoDistance};
    }

    Symbol match(int length, uint32_t distance)
    {
        const CodeTables &t = tables();
        const int lc = t.lengthCode[length];
        const int dc = t.distance(distance);
        ++litLen[257 + lc];
        ++this->distance[dc];
        extraBits += lengthExtra[lc] + distanceExtra[dc];
        return {uint16_t(257 + lc), uint16_t(length - lengthBase[lc]),
                uint16_t(distance - distanceBase[dc]), uint8_t(dc)};
    }
};

// Sorts the keys (frequency << 16 | symbol, in symbol order) into ascending
// order: a radix sort on the frequency, a byte per pass, which keeps equal
// frequencies in symbol order. A comparison sort mispredicted about every
// other compare on such keys, and was the larger part of a tile's Huffman
// codes. A few keys (the distance and code length alphabets) are sorted by
// insertion, cheaper there than a pass over 256 counters.
void sortByFrequency(uint64_t *keys, int count)
{
    if (count <= 32) {
        for (int i = 1; i < count; ++i) {
            const uint64_t key = keys[i];
            int j = i;
            for (; j > 0 && keys[j - 1] > key; --j)
                keys[j] = keys[j - 1];
            keys[j] = key;
        }
        return;
    }
    uint64_t highest = 0;
    for (int i = 0; i < count; ++i)
        highest = std::max(highest, keys[i]);
    std::array<uint64_t, LitLenSymbols> buffer;
    uint64_t *from = keys, *to = buffer.data();
    for (int shift = 16; highest >> shift; shift += 8) {
        std::array<int, 257> start{};
        for (int i = 0; i < count; ++i)
            ++start[size_t((from[i] >> shift & 0xff) + 1)];
        for (size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        for (int i = 0; i < count; ++i)
            to[start[size_t(from[i] >> shift & 0xff)]++] = from[i];
        std::swap(from, to);
    }
    if (from != keys)
        std::copy(from, from + count, keys);
}

// Code lengths for an alphabet, at most maxBits long, from the frequencies:
// an optimal Huffman code (Moffat and Katajainen's in-place method on the
// sorted frequencies), its longest codes then shortened by moving leaves
// down until the lengths fit, which costs little as only rare symbols are
// that long. Every alphabet gets at least two codes, so each code is
// complete, as every decoder accepts.
void codeLengths(const uint32_t *freq, int n, int maxBits, uint8_t *lengths)
{
    // Frequency and symbol in one key, so the sort compares plain integers.
    std::array<uint64_t, LitLenSymbols> used;
    int count = 0;
    for (int s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (freq[s])
            used[size_t(count++)] = uint64_t(freq[s]) << 16 | uint64_t(s);
    }
    for (int s = 0; count < 2; ++s) { // a lone symbol still needs a complete code
        if (!freq[s])
            used[size_t(count++)] = uint64_t(1) << 16 | uint64_t(s);
    }
    sortByFrequency(used.data(), count);

    std::array<uint32_t, LitLenSymbols> a;
    for (int i = 0; i < count; ++i)
        a[size_t(i)] = uint32_t(used[size_t(i)] >> 16);
    // Moffat-Katajainen: first the parents' weights, then depths, then the
    // leaves' depths, all in place.
    a[0] += a[1];
    int root = 0, leaf = 2;
    for (int next = 1; next < count - 1; ++next) {
        if (leaf >= count || a[size_t(root)] < a[size_t(leaf)]) {
            a[size_t(next)] = a[size_t(root)];
            a[size_t(root++)] = uint32_t(next);
        } else {
            a[size_t(next)] = a[size_t(leaf++)];
        }
        if (leaf >= count || (root < next && a[size_t(root)] < a[size_t(leaf)])) {
            a[size_t(next)] += a[size_t(root)];
            a[size_t(root++)] = uint32_t(next);
        } else {
            a[size_t(next)] += a[size_t(leaf++)];
        }
    }
    a[size_t(count - 2)] = 0;
    for (int next = count - 3; next >= 0; --next)
        a[size_t(next)] = a[a[size_t(next)]] + 1;
    int available = 1, depthUsed = 0, depth = 0;
    root = count - 2;
    int next = count - 1;
    while (available > 0) {
        while (root >= 0 && int(a[size_t(root)]) == depth) {
            ++depthUsed;
            --root;
        }
        while (available > depthUsed) {
            a[size_t(next--)] = uint32_t(depth);
            --available;
        }
        available = 2 * depthUsed;
        ++depth;
        depthUsed = 0;
    }

    // a[i] is now the length of used[i]; lengths fall as frequencies rise.
    std::array<int, 64> perLength{};
    for (int i = 0; i < count; ++i)
        ++perLength[std::min<size_t>(a[size_t(i)], 63)];
    for (int l = maxBits + 1; l < 64; ++l) {
        perLength[size_t(maxBits)] += perLength[size_t(l)];
        perLength[size_t(l)] = 0;
    }
    uint32_t kraft = 0;
    for (int l = 1; l <= maxBits; ++l)
        kraft += uint32_t(perLength[size_t(l)]) << (maxBits - l);
    while (kraft > (1u << maxBits)) {
        --perLength[size_t(maxBits)];
        for (int l = maxBits - 1; l > 0; --l) {
            if (perLength[size_t(l)]) {
                --perLength[size_t(l)];
                perLength[size_t(l + 1)] += 2;
                break;
            }
        }
        --kraft;
    }
    int i = 0;
    for (int l = maxBits; l > 0; --l)
        for (int k = 0; k < perLength[size_t(l)]; ++k)
            lengths[used[size_t(i++)] & 0xffff] = uint8_t(l);
}

struct ReversedBytes
{
    uint8_t table[256];
    ReversedBytes()
    {
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                r |= (v >> b & 1) << (7 - b);
            table[v] = uint8_t(r);
        }
    }
};
const ReversedBytes reversedBytes;

// Canonical codes for the lengths, bit-reversed for the LSB-first stream.
void canonicalCodes(const uint8_t *lengths, int n, uint16_t *codes)
{
    int perLength[MaxCodeBits + 1] = {};
    for (int s = 0; s < n; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    uint32_t next[MaxCodeBits + 2] = {};
    uint32_t code = 0;
    for (int l = 1; l <= MaxCodeBits; ++l) {
        code = (code + uint32_t(perLength[l - 1])) << 1;
        next[l] = code;
    }
    for (int s = 0; s < n; ++s) {
        const int l = lengths[s];
        if (!l)
            continue;
        const uint32_t c = next[l]++;
        const uint32_t reversed =
            (uint32_t(reversedBytes.table[c & 0xff]) << 8 | reversedBytes.table[c >> 8]) >>
            (16 - l);
        codes[s] = uint16_t(reversed);
    }
}

class BitWriter
{
public:
    explicit BitWriter(std::vector<uchar> &out) : m_out(out) {}

    // Room for `bytes` more output bytes.
    void reserve(size_t bytes)
    {
        if (m_out.size() < m_pos + bytes + 16)
            m_out.resize(std::max(m_out.size() * 2, m_pos + bytes + 16));
    }

    // Up to 56 bits at once. Whole bytes go out at every call, eight bytes
    // stored and the position moved past the complete ones, so fewer than 8
    // bits wait in the buffer and no call branches on it.
    void put(uint64_t value, int bits)
    {
        Cursor c = cursor();
        c.put(value, bits);
        resume(c);
    }

    void alignToByte()
    {
        if (m_count > 0)
            m_out[m_pos++] = uchar(m_bits);
        m_bits = 0;
        m_count = 0;
    }

    void putBytes(const uchar *data, size_t n)
    {
        std::memcpy(&m_out[m_pos], data, n);
        m_pos += n;
    }

    size_t position() const { return m_pos; }

    // The writer's state as plain values, for a loop of puts: the compiler
    // keeps them in registers, where the members had to be reloaded after
    // every store, as a store of bytes may change anything.
    struct Cursor
    {
        uchar *at;
        uint64_t bits;
        int count;

        void put(uint64_t value, int n)
        {
            bits |= value << count;
            count += n;
            qToLittleEndian(quint64(bits), at); // deflate's bits go LSB first
            at += count >> 3;
            bits >>= count & ~7;
            count &= 7;
        }
    };
    // Valid until the next reserve(); puts through it need the room reserved.
    Cursor cursor() { return {m_out.data() + m_pos, m_bits, m_count}; }
    void resume(const Cursor &c)
    {
        m_pos = size_t(c.at - m_out.data());
        m_bits = c.bits;
        m_count = c.count;
    }

private:
    std::vector<uchar> &m_out;
    size_t m_pos = 0;
    uint64_t m_bits = 0;
    int m_count = 0;
};

class BlockWriter
{
public:
    BlockWriter(BitWriter &bits, const uchar *data) : m_bits(bits), m_data(data) {}

    // The symbols, which cover `bytes` input bytes from `start`, as one or
    // more blocks in the cheapest form.
    void write(const Symbol *symbols, size_t count, Counts &counts, size_t start, size_t bytes,
               bool last)
    {
        uint32_t *litLen = counts.litLen;
        const uint32_t *dist = counts.distance;
        const uint64_t extraBits = counts.extraBits;
        litLen[EndOfBlock] = 1;

        codeLengths(litLen, LitLenSymbols, MaxCodeBits, m_litLenLengths);
        m_litLenLengths[286] = m_litLenLengths[287] = 0; // a fixed block may have set them
        codeLengths(dist, DistanceCodes, MaxCodeBits, m_distLengths);
        const uint64_t dynamicBits = 3 + headerBits() + extraBits +
                                     weighted(litLen, m_litLenLengths, LitLenSymbols) +
                                     weighted(dist, m_distLengths, DistanceCodes);
        uint64_t fixedBits = 3 + extraBits + 5 * weighted(dist, nullptr, DistanceCodes);
        for (int s = 0; s < LitLenSymbols; ++s)
            fixedBits += uint64_t(litLen[s]) * fixedLength(s);
        const size_t storedChunks = std::max<size_t>(1, (bytes + 65534) / 65535);
        const uint64_t storedBits = 8 * uint64_t(bytes) + storedChunks * (3 + 7 + 32);

        m_bits.reserve(bytes + 5 * storedChunks + 1024);
        if (storedBits < std::min(dynamicBits, fixedBits)) {
            writeStored(start, bytes, last);
            return;
        }
        m_bits.put(last ? 1 : 0, 1);
        if (dynamicBits < fixedBits) {
            m_bits.put(2, 2);
            writeHeader();
        } else {
            m_bits.put(1, 2);
            for (int s = 0; s < FixedLitLenSymbols; ++s)
                m_litLenLengths[s] = uint8_t(fixedLength(s));
            for (int s = 0; s < DistanceCodes; ++s)
                m_distLengths[s] = 5;
        }
        canonicalCodes(m_litLenLengths, FixedLitLenSymbols, m_litLenCodes);
        canonicalCodes(m_distLengths, DistanceCodes, m_distCodes);
        BitWriter::Cursor out = m_bits.cursor();
        for (size_t i = 0; i < count; ++i) {
            // A match's length code and extra bits and its distance's, at
            // most 15 + 5 + 15 + 13 bits, in one go; a literal's code alone.
            const Symbol s = symbols[i];
            const int n = m_litLenLengths[s.litLen];
            const int lengthBits = n + symbolExtra.bits[s.litLen];
            const int dc = s.distanceCode;
            const int d = m_distLengths[dc];
            const uint64_t distance = m_distCodes[dc] | uint64_t(s.distanceExtra) << d;
            out.put(m_litLenCodes[s.litLen] | uint64_t(s.lengthExtra) << n | distance << lengthBits,
                    lengthBits + d + distanceExtra[dc]);
        }
        out.put(m_litLenCodes[EndOfBlock], m_litLenLengths[EndOfBlock]);
        m_bits.resume(out);
    }

private:
    static int fixedLength(int symbol)
    {
        return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    }

    static uint64_t weighted(const uint32_t *freq, const uint8_t *lengths, int n)
    {
        uint64_t sum = 0;
        for (int s = 0; s < n; ++s)
            sum += uint64_t(freq[s]) * (lengths ? lengths[s] : 1);
        return sum;
    }

    // Run-length codes the two alphabets' lengths (symbols 16, 17 and 18)
    // and fits the code-length code; returns the dynamic header's size.
    uint64_t headerBits()
    {
        m_litLenCount = LitLenSymbols;
        while (m_litLenCount > 257 && !m_litLenLengths[m_litLenCount - 1])
            --m_litLenCount;
        m_distCount = DistanceCodes;
        while (m_distCount > 1 && !m_distLengths[m_distCount - 1])
            --m_distCount;
        uint8_t all[LitLenSymbols + DistanceCodes];
        std::memcpy(all, m_litLenLengths, size_t(m_litLenCount));
        std::memcpy(all + m_litLenCount, m_distLengths, size_t(m_distCount));
        const int n = m_litLenCount + m_distCount;

        m_runCount = 0;
        for (int i = 0; i < n;) {
            const uint8_t length = all[i];
            int run = 1;
            while (i + run < n && all[i + run] == length)
                ++run;
            i += run;
            if (!length) {
                while (run >= 11) {
                    const int r = std::min(run, 138);
                    m_runs[m_runCount++] = {18, uint8_t(r - 11)};
                    run -= r;
                }
                if (run >= 3) {
                    m_runs[m_runCount++] = {17, uint8_t(run - 3)};
                    run = 0;
                }
            } else {
                m_runs[m_runCount++] = {length, 0};
                --run;
                while (run >= 3) {
                    const int r = std::min(run, 6);
                    m_runs[m_runCount++] = {16, uint8_t(r - 3)};
                    run -= r;
                }
            }
            while (run-- > 0)
                m_runs[m_runCount++] = {length, 0};
        }

        uint32_t freq[CodeLengthSymbols] = {};
        for (int i = 0; i < m_runCount; ++i)
            ++freq[m_runs[i].symbol];
        codeLengths(freq, CodeLengthSymbols, MaxCodeLengthBits, m_codeLengthLengths);
        m_codeLengthCount = CodeLengthSymbols;
        while (m_codeLengthCount > 4 &&
               !m_codeLengthLengths[codeLengthOrder[m_codeLengthCount - 1]])
            --m_codeLengthCount;

        uint64_t bits = 5 + 5 + 4 + 3 * uint64_t(m_codeLengthCount);
        for (int s = 0; s < CodeLengthSymbols; ++s)
            bits += uint64_t(freq[s]) * m_codeLengthLengths[s];
        bits += 2 * freq[16] + 3 * freq[17] + 7 * freq[18];
        return bits;
    }

    void writeHeader()
    {
        uint16_t codes[CodeLengthSymbols] = {};
        canonicalCodes(m_codeLengthLengths, CodeLengthSymbols, codes);
        m_bits.put(uint32_t(m_litLenCount - 257), 5);
        m_bits.put(uint32_t(m_distCount - 1), 5);
        m_bits.put(uint32_t(m_codeLengthCount - 4), 4);
        for (int i = 0; i < m_codeLengthCount; ++i)
            m_bits.put(m_codeLengthLengths[codeLengthOrder[i]], 3);
        static const int repeatBits[3] = {2, 3, 7};
        for (int i = 0; i < m_runCount; ++i) {
            const Run r = m_runs[i];
            m_bits.put(codes[r.symbol], m_codeLengthLengths[r.symbol]);
            if (r.symbol >= 16)
                m_bits.put(r.repeat, repeatBits[r.symbol - 16]);
        }
    }

    void writeStored(size_t start, size_t bytes, bool last)
    {
        do {
            const size_t n = std::min<size_t>(bytes, 65535);
            bytes -= n;
            m_bits.put(last && !bytes ? 1 : 0, 1);
            m_bits.put(0, 2);
            m_bits.alignToByte();
            const uchar header[4] = {uchar(n), uchar(n >> 8), uchar(~n), uchar(~n >> 8)};
            m_bits.putBytes(header, 4);
            m_bits.putBytes(m_data + start, n);
            start += n;
        } while (bytes);
    }

    struct Run
    {
        uint8_t symbol;
        uint8_t repeat;
    };

    BitWriter &m_bits;
    const uchar *m_data;
    uint8_t m_litLenLengths[FixedLitLenSymbols] = {};
    uint8_t m_distLengths[DistanceCodes + 1] = {}; // NoDistance: 0 bits
    uint16_t m_litLenCodes[FixedLitLenSymbols];
    uint16_t m_distCodes[DistanceCodes + 1] = {};
    uint8_t m_codeLengthLengths[CodeLengthSymbols];
    int m_litLenCount = 0, m_distCount = 0, m_codeLengthCount = 0;
    Run m_runs[LitLenSymbols + DistanceCodes];
    int m_runCount = 0;
};

// The match finder's index, kept per thread. Positions are stored offset by
// `base`, which moves past every stream, so entries left by an earlier
// stream read as older than any of this one's and the tables need no
// clearing.
//
// Only the head table must start at zero (no position yet); calloc gives it
// from pages the system has already cleared. A chain entry is read only for a
// position indexed in this stream and still within the window, whose entry
// was written when it was indexed, so the chain table needs no clearing, nor
// does the symbol buffer: a thread's first tile then pays for neither.
struct MatchIndex
{
    struct Free
    {
        void operator()(void *p) const { std::free(p); }
    };
    std::unique_ptr<uint32_t[], Free> head{
        static_cast<uint32_t *>(std::calloc(size_t(1) << HashBits, sizeof(uint32_t)))};
    std::unique_ptr<uint32_t[]> chain{new uint32_t[WindowSize]};
    uint32_t base = 1;
    size_t end = 0; // of the stream
    std::unique_ptr<Symbol[]> symbols{new Symbol[BlockSymbols]};
    Counts counts;

    MatchIndex()
    {
        if (!head)
            throw std::bad_alloc();
    }

    void startStream(size_t size)
    {
        end = size;
        if (uint64_t(base) + size + WindowSize >= 0xFFFFFFFFull) {
            std::fill_n(head.get(), size_t(1) << HashBits, 0);
            base = 1;
        }
    }

    void endStream(size_t size) { base += uint32_t(size) + WindowSize; }

    // Indexes position p and returns the previous entry of its hash. The
    // hash of a run's position covers four bytes (see insertRange()), of
    // any other five where there are eight to read: in a textured tile's
    // sparse specks many positions share four bytes (a value and three
    // zeros) and few share five, so four-byte chains were walked mostly past
    // candidates that could not give a longer match, while a match of four
    // saves little over literals. That took 5 % off such tiles' time, their
    // files 0-3 % larger.
    uint32_t insert(const uchar *data, uint32_t p)
    {
        const uint32_t w = load32(data + p);
        uint32_t &h = head[isRun(w) || p + 8 > end ? hash4(w) : hash5(load64(data + p))];
        const uint32_t previous = h;
        h = base + p;
        chain[p & WindowMask] = previous;
        return previous;
    }

    // Indexes positions from..to-1 (each with four bytes after it). Inside a
    // run of one byte value every position has the same hash, so each one's
    // predecessor is simply the position before it: written straight,
    // without the round trip through the head entry that makes one-by-one
    // insertion crawl there.
    void insertRange(const uchar *data, size_t from, size_t to)
    {
        for (size_t p = from; p < to;) {
            const uint32_t w = load32(data + p);
            if (!isRun(w)) {
                insert(data, uint32_t(p++));
                continue;
            }
            // Only the run's last positions (see RunChain), each one's
            // predecessor the position before it.
            const size_t last = p + runLength(data + p + 4, uchar(w), to - 1 - p);
            const size_t first = last + 1 - p > RunIndexed ? last + 1 - RunIndexed : p;
            uint32_t &h = head[hash4(w)];
            chain[first & WindowMask] = h;
            for (size_t q = first + 1; q <= last; ++q)
                chain[q & WindowMask] = base + uint32_t(q) - 1;
            h = base + uint32_t(last);
            p = last + 1;
        }
    }
};

} // namespace

size_t DeflateWriter::compress(const uchar *data, size_t size, size_t rowBytes,
                               std::vector<uchar> &out)
{
    if (rowBytes > MaxDistance)
        rowBytes = 0;
    try {
        thread_local MatchIndex index;
        index.startStream(size);
        BitWriter bits(out);
        bits.reserve(2);
        bits.put(0x78 | (0x9c << 8), 16); // 32 K window, default level
        BlockWriter blocks(bits, data);

        Symbol *symbols = index.symbols.get();
        size_t symbolCount = 0;
        size_t blockStart = 0; // first input byte of the pending symbols
        size_t covered = 0;    // input bytes the symbols so far stand for
        Counts &counts = index.counts;
        counts.clear();
        auto emitLiteral = [&](size_t p) {
            symbols[symbolCount++] = counts.literal(data[p]);
            ++covered;
        };
        auto flushIfFull = [&]() {
            if (symbolCount < BlockSymbols)
                return;
            blocks.write(symbols, symbolCount, counts, blockStart, covered - blockStart, false);
            counts.clear();
            symbolCount = 0;
            blockStart = covered;
        };

        // Lazy matching: a match found at i is held while i + 1 is tried,
        // and taken unless i + 1 starts a longer one.
        const uint32_t base = index.base;
        int pendingLength = 0;
        uint32_t pendingDistance = 0;
        bool pending = false;
        for (size_t i = 0; i < size;) {
            int length = 0;
            uint32_t distance = 0;
            if (i + MinMatch <= size) {
                uint32_t candidate = index.insert(data, uint32_t(i));
                const int maxLength = int(std::min<size_t>(MaxMatch, size - i));
                if (!(pending && pendingLength >= MaxLazy)) {
                    int best = pending ? std::max(pendingLength, MinMatch - 1) : MinMatch - 1;
                    const int nice = std::min(NiceLength, maxLength);
                    int chainLeft =
                        pending && pendingLength >= GoodLength ? MaxChain / 4 : MaxChain;
                    const uchar *current = data + i;
                    const uint32_t head4 = load32(current);
                    if (isRun(head4))
                        chainLeft = std::min(chainLeft, RunChain);
                    while (chainLeft-- > 0 && candidate >= base && best < maxLength) {
                        const uint32_t p = candidate - base;
                        const uint32_t d = uint32_t(i) - p;
                        if (d > MaxDistance)
                            break;
                        const uchar *match = data + p;
                        if (mayBeLonger(match, current, best) && load32(match) == head4) {
                            const int l = matchLength(match, current, maxLength);
                            if (l > best) {
                                best = l;
                                length = l;
                                distance = d;
                                if (l >= nice)
                                    break;
                            }
                        }
                        const uint32_t next = index.chain[p & WindowMask];
                        if (next >= candidate)
                            break;
                        candidate = next;
                    }
                    // Inside a run, the same byte a row up, when longer: the
                    // index skips the inside of long runs, so the chains miss
                    // where the run's rows line up. Elsewhere the chains
                    // already hold the row above; trying it at every position
                    // cost a run of textured tiles 1-2 % of its time, for
                    // files 0.02 % smaller. Nearer matches of the same length
                    // are cheaper, so it comes last.
                    if (rowBytes && i >= rowBytes && best < maxLength && isRun(head4)) {
                        const uchar *above = current - rowBytes;
                        const int l = mayBeLonger(above, current, best) && load32(above) == head4
                                          ? matchLength(above, current, maxLength)
                                          : 0;
                        if (l > best) {
                            best = length = l;
                            distance = uint32_t(rowBytes);
                        }
                    }
                }
            }

            if (pending && pendingLength >= MinMatch && length <= pendingLength) {
                // The held match at i - 1 wins; index what it covers.
                const size_t matchStart = i - 1;
                const size_t end = matchStart + size_t(pendingLength);
                symbols[symbolCount++] = counts.match(pendingLength, pendingDistance);
                covered += size_t(pendingLength);
                size_t from = i + 1;
                if (pendingLength > MaxIndexed)
                    from = std::max(from, end - size_t(MaxIndexed));
                index.insertRange(data, from, std::min(end, size - (MinMatch - 1)));
                i = end;
                pending = false;
                pendingLength = 0;
            } else {
                if (pending)
                    emitLiteral(i - 1);
                pending = true;
                pendingLength = length;
                pendingDistance = distance;
                ++i;
            }
            flushIfFull();
        }
        if (pending)
            emitLiteral(size - 1);
        blocks.write(symbols, symbolCount, counts, blockStart, covered - blockStart, true);
        index.endStream(size);

        bits.reserve(8);
        const uint32_t adler = libdeflate_adler32(1, data, size);
        const uchar trailer[4] = {uchar(adler >> 24), uchar(adler >> 16), uchar(adler >> 8),
                                  uchar(adler)};
        bits.alignToByte();
        bits.putBytes(trailer, 4);
        return bits.position();
    } catch (const std::bad_alloc &) {
        return 0;
    }
}
