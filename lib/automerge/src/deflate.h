// Raw DEFLATE output that matches the official writer's bytes.
//
// The official implementation compresses long columns with its own DEFLATE
// encoder at the default level: a hash-chained LZ77 search (128 probes,
// lazy matching), blocks cut where its code buffer fills, static codes for
// blocks under 48 bytes, stored blocks where coding would not pay. zlib
// chooses other matches and other Huffman codes, so its output differs on
// anything but tiny inputs. This encoder makes the same choices, so that a
// saved document is byte for byte the official one. Reading uses zlib.
#pragma once

#include "encoding.h"

namespace automerge::detail {

// Compresses `in` as one raw DEFLATE stream (no zlib header), appending to `out`.
void deflate_compatible(ByteSpan in, Bytes& out);

}  // namespace automerge::detail
