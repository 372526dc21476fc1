// Raw DEFLATE output that matches the official writer's bytes.
//
// The official implementation compresses long columns with its own DEFLATE
// encoder at the default level: a hash-chained LZ77 search over 4-byte
// hashes (128 probes, nice length 128) that looks one match ahead and may
// shift that next match left over the current one, blocks of 16,383 symbols,
// and per block the smallest of stored, fixed-code and dynamic-code output,
// with trees built the classic way. zlib and other encoders choose other
// matches and other blocks, so their output differs. This encoder makes the
// same choices, so that a saved document is byte for byte the official one.
// Reading uses zlib.
#pragma once

#include <algorithm>

#include "encoding.h"

namespace automerge::detail {

// The official writer appends a document's columns, in order, to one growing
// byte vector: plain columns are copied in, compressed ones are read from
// the encoder into the vector's free capacity, a step at a time. When a step
// runs out of room right after a block, the encoder resumes the next block
// without the match it had already looked up, so the bytes that follow
// depend on the vector's length and capacity. This models that vector.
struct OutputVector {
    std::size_t len = 0;
    std::size_t cap = 0;

    // Room for `n` more bytes, grown the way the official writer's vectors grow.
    void reserve(std::size_t n) {
        if (cap - len >= n) return;
        cap = std::max({cap * 2, len + n, std::size_t{8}});
    }
    // A plain column of `n` bytes copied in.
    void append(std::size_t n) {
        reserve(n);
        len += n;
    }
};

// Compresses `in` as one raw DEFLATE stream (no zlib header), appending to
// `out`, as the official writer does when it appends the column to `vector`
// (which is updated).
void deflate_compatible(ByteSpan in, Bytes& out, OutputVector& vector);

// The same for a stream written on its own (into an empty vector).
inline void deflate_compatible(ByteSpan in, Bytes& out) {
    OutputVector vector;
    deflate_compatible(in, out, vector);
}

}  // namespace automerge::detail
