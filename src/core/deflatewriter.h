#pragma once

#include <QtGlobal>

#include <cstddef>
#include <vector>

// A zlib stream (RFC 1950 around RFC 1951 deflate) for a PNG's filtered rows.
//
// Tiles are mostly plain colour and empty space, which a general compressor
// still walks byte by byte through its match finder. This one follows a
// long match without indexing the bytes inside it, so a blank or flat tile
// costs a fraction of a textured one, while elsewhere it searches about as
// hard as zlib's default level: lazy matching over hash chains, a Huffman
// code of its own per block of symbols, and per block the smallest of the
// dynamic, fixed and stored forms.
//
// Safe to call from several threads at once (the match finder's tables are
// per thread).
class DeflateWriter
{
public:
    // Writes the zlib stream of `size` bytes at `data` into `out` from its
    // start and returns its length; 0 when memory runs out. `out` grows as
    // needed and never shrinks, so a buffer kept for the next stream is not
    // cleared each time. `rowBytes`, when not 0, is the length of the image's
    // rows: inside a run of one byte, the byte a row up is always tried as a
    // match.
    static size_t compress(const uchar *data, size_t size, size_t rowBytes,
                           std::vector<uchar> &out);
};
