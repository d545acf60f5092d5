// Compresses arbitrary bytes with the deflate writer and inflates them back
// with libdeflate: anything but the input itself is a fault. The first two
// bytes give the row length the writer is told. Run from the build folder,
// e.g.
//   fuzz/deflatewriter_fuzzer -runs=1000000 -max_len=200000 corpus-work
#include "deflatewriter.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t rowBytes = size_t(data[0]) << 8 | data[1];
    data += 2;
    size -= 2;
    static std::vector<uchar> out;
    const size_t compressed = DeflateWriter::compress(data, size, rowBytes, out);
    if (compressed == 0)
        std::abort();
    std::vector<uchar> back(size + 1);
    size_t got = 0;
    static libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
    if (libdeflate_zlib_decompress(inflater, out.data(), compressed, back.data(), back.size(),
                                   &got) != LIBDEFLATE_SUCCESS ||
        got != size || (size && std::memcmp(back.data(), data, size) != 0))
        std::abort();
    return 0;
}
