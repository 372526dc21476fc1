#include "deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace automerge::detail {

namespace {

// ---- the format's fixed tables ------------------------------------------------

constexpr unsigned kLiterals = 256;
constexpr unsigned kEndBlock = 256;
constexpr unsigned kLCodes = 286;
constexpr unsigned kDCodes = 30;
constexpr unsigned kBlCodes = 19;
constexpr unsigned kHeapSize = 2 * kLCodes + 1;
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxBlBits = 7;

constexpr std::uint8_t kExtraLBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kExtraDBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kExtraBlBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kBlOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Tables {
    std::array<std::uint8_t, 256> length_code{};  // match length - 3 -> length code
    std::array<std::uint8_t, 29> base_length{};
    std::array<std::uint16_t, 30> base_dist{};
    std::array<std::uint16_t, 288> static_lcode{};
    std::array<std::uint8_t, 288> static_llen{};
    std::array<std::uint16_t, 30> static_dcode{};

    static constexpr std::uint16_t reverse(std::uint16_t code, unsigned len) {
        std::uint16_t r = 0;
        for (unsigned i = 0; i < len; ++i) {
            r = static_cast<std::uint16_t>((r << 1) | (code & 1));
            code >>= 1;
        }
        return r;
    }

    constexpr Tables() {
        unsigned length = 0;
        for (unsigned code = 0; code < 28; ++code) {
            base_length[code] = static_cast<std::uint8_t>(length);
            for (unsigned n = 0; n < (1u << kExtraLBits[code]); ++n) length_code[length++] = static_cast<std::uint8_t>(code);
        }
        // Length 258 has a code of its own (28) with no extra bits.
        length_code[length - 1] = 28;
        base_length[28] = 0;
        unsigned dist = 0;
        for (unsigned code = 0; code < 30; ++code) {
            base_dist[code] = static_cast<std::uint16_t>(dist);
            dist += 1u << kExtraDBits[code];
        }
        std::uint16_t bl_count[kMaxBits + 1] = {};
        for (unsigned n = 0; n < 288; ++n) {
            static_llen[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
            ++bl_count[static_llen[n]];
        }
        std::uint16_t next_code[kMaxBits + 1] = {};
        std::uint16_t code = 0;
        for (unsigned bits = 1; bits <= kMaxBits; ++bits) {
            code = static_cast<std::uint16_t>((code + bl_count[bits - 1]) << 1);
            next_code[bits] = code;
        }
        for (unsigned n = 0; n < 288; ++n) static_lcode[n] = reverse(next_code[static_llen[n]]++, static_llen[n]);
        for (unsigned n = 0; n < 30; ++n) static_dcode[n] = reverse(static_cast<std::uint16_t>(n), 5);
    }
};
constexpr Tables kTables;

// Distance code of a distance less 1.
inline unsigned d_code(unsigned dist) {
    if (dist < 4) return dist;
    unsigned top = 31 - static_cast<unsigned>(__builtin_clz(dist));
    return 2 * top + ((dist >> (top - 1)) & 1);
}

// ---- output -----------------------------------------------------------------------

// Bits are gathered in a 64-bit word and stored a word at a time into a
// staging buffer, which is appended to the output in pieces.
class BitWriter {
public:
    explicit BitWriter(Bytes& out) : m_out(out) {}
    ~BitWriter() { spill(); }
    BitWriter(const BitWriter&) = delete;
    BitWriter& operator=(const BitWriter&) = delete;

    // `len` is at most 16.
    void send(std::uint64_t bits, unsigned len) {
        m_bits |= bits << m_count;
        m_count += len;
        if (m_count >= 48) drain();
    }
    // Pads to a byte boundary.
    void align() {
        drain();
        if (m_count > 0) {
            m_stage[m_staged++] = static_cast<std::uint8_t>(m_bits);
            m_bits = 0;
            m_count = 0;
        }
    }
    // Whole bytes written so far.
    std::size_t produced() const { return m_out.size() + m_staged + m_count / 8; }
    void bytes(const std::uint8_t* p, std::size_t n) {
        align();
        spill();
        m_out.insert(m_out.end(), p, p + n);
    }

private:
    // Stores the whole bytes of the word (up to 7).
    void drain() {
        for (unsigned i = 0; i < 8; ++i) m_stage[m_staged + i] = static_cast<std::uint8_t>(m_bits >> (8 * i));
        unsigned whole = m_count / 8;
        m_staged += whole;
        m_bits >>= 8 * whole;
        m_count -= 8 * whole;
        if (m_staged >= kStage) spill();
    }
    void spill() {
        m_out.insert(m_out.end(), m_stage, m_stage + m_staged);
        m_staged = 0;
    }

    static constexpr std::size_t kStage = 4096;
    Bytes& m_out;
    std::uint64_t m_bits = 0;
    unsigned m_count = 0;
    std::size_t m_staged = 0;
    std::uint8_t m_stage[kStage + 16];
};

// ---- Huffman trees ----------------------------------------------------------------

struct Node {
    std::uint16_t freq = 0;
    std::uint16_t code = 0;
    std::uint16_t dad = 0;
    std::uint16_t len = 0;
};

struct TreeDesc {
    Node* tree;
    const std::uint8_t* static_len;  // null for the bit-length tree
    const std::uint8_t* extra_bits;
    unsigned extra_base;
    unsigned elems;
    unsigned max_length;
    unsigned max_code = 0;
};

struct Trees {
    Node ltree[kHeapSize];
    Node dtree[2 * kDCodes + 1];
    Node bltree[2 * kBlCodes + 1];
    std::array<std::uint8_t, kDCodes> static_dlen{};
    TreeDesc l{ltree, kTables.static_llen.data(), kExtraLBits, kLiterals + 1, kLCodes, kMaxBits};
    TreeDesc d{dtree, static_dlen.data(), kExtraDBits, 0, kDCodes, kMaxBits};
    TreeDesc bl{bltree, nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits};
    int heap[2 * kLCodes + 1];
    int heap_len = 0;
    int heap_max = 0;
    std::uint8_t depth[2 * kLCodes + 1];
    std::size_t opt_len = 0;
    std::size_t static_len = 0;
    std::uint16_t bl_count[kMaxBits + 1];

    Trees() { static_dlen.fill(5); }

    void init_block() {
        for (unsigned n = 0; n < kLCodes; ++n) ltree[n].freq = 0;
        for (unsigned n = 0; n < kDCodes; ++n) dtree[n].freq = 0;
        for (unsigned n = 0; n < kBlCodes; ++n) bltree[n].freq = 0;
        ltree[kEndBlock].freq = 1;
        opt_len = static_len = 0;
    }

    bool smaller(const Node* tree, int n, int m) const {
        return tree[n].freq < tree[m].freq || (tree[n].freq == tree[m].freq && depth[n] <= depth[m]);
    }

    void pqdownheap(const Node* tree, int k) {
        int v = heap[k];
        int j = k << 1;
        while (j <= heap_len) {
            if (j < heap_len && smaller(tree, heap[j + 1], heap[j])) ++j;
            if (smaller(tree, v, heap[j])) break;
            heap[k] = heap[j];
            k = j;
            j <<= 1;
        }
        heap[k] = v;
    }

    void gen_bitlen(TreeDesc& desc) {
        Node* tree = desc.tree;
        for (auto& c : bl_count) c = 0;
        tree[heap[heap_max]].len = 0;
        int overflow = 0;
        int h;
        for (h = heap_max + 1; h < static_cast<int>(kHeapSize); ++h) {
            int n = heap[h];
            unsigned bits = tree[tree[n].dad].len + 1u;
            if (bits > desc.max_length) {
                bits = desc.max_length;
                ++overflow;
            }
            tree[n].len = static_cast<std::uint16_t>(bits);
            if (n > static_cast<int>(desc.max_code)) continue;
            ++bl_count[bits];
            unsigned xbits = 0;
            if (n >= static_cast<int>(desc.extra_base)) xbits = desc.extra_bits[n - static_cast<int>(desc.extra_base)];
            std::size_t f = tree[n].freq;
            opt_len += f * (bits + xbits);
            if (desc.static_len) static_len += f * (desc.static_len[n] + xbits);
        }
        if (overflow == 0) return;
        do {
            unsigned bits = desc.max_length - 1;
            while (bl_count[bits] == 0) --bits;
            --bl_count[bits];
            bl_count[bits + 1] = static_cast<std::uint16_t>(bl_count[bits + 1] + 2);
            --bl_count[desc.max_length];
            overflow -= 2;
        } while (overflow > 0);
        h = static_cast<int>(kHeapSize);
        for (unsigned bits = desc.max_length; bits != 0; --bits) {
            unsigned n = bl_count[bits];
            while (n != 0) {
                int m = heap[--h];
                if (m > static_cast<int>(desc.max_code)) continue;
                if (tree[m].len != bits) {
                    opt_len += static_cast<std::size_t>(bits) * tree[m].freq;
                    opt_len -= static_cast<std::size_t>(tree[m].len) * tree[m].freq;
                    tree[m].len = static_cast<std::uint16_t>(bits);
                }
                --n;
            }
        }
    }

    void gen_codes(Node* tree, unsigned max_code) {
        std::uint16_t next_code[kMaxBits + 1];
        unsigned code = 0;
        for (unsigned bits = 1; bits <= kMaxBits; ++bits) {
            code = (code + bl_count[bits - 1]) << 1;
            next_code[bits] = static_cast<std::uint16_t>(code);
        }
        for (unsigned n = 0; n <= max_code; ++n) {
            unsigned len = tree[n].len;
            if (len == 0) continue;
            tree[n].code = Tables::reverse(next_code[len]++, len);
        }
    }

    void build_tree(TreeDesc& desc) {
        Node* tree = desc.tree;
        int max_code = -1;
        heap_len = 0;
        heap_max = static_cast<int>(kHeapSize);
        for (unsigned n = 0; n < desc.elems; ++n) {
            if (tree[n].freq != 0) {
                heap[++heap_len] = max_code = static_cast<int>(n);
                depth[n] = 0;
            } else {
                tree[n].len = 0;
            }
        }
        // The format wants at least one distance code, and at least one bit
        // even for a single code: force two codes of non-zero frequency.
        while (heap_len < 2) {
            int node = heap[++heap_len] = max_code < 2 ? ++max_code : 0;
            tree[node].freq = 1;
            depth[node] = 0;
            --opt_len;
            if (desc.static_len) static_len -= desc.static_len[node];
        }
        desc.max_code = static_cast<unsigned>(max_code);
        for (int n = heap_len / 2; n >= 1; --n) pqdownheap(tree, n);
        int node = static_cast<int>(desc.elems);
        do {
            int n = heap[1];
            heap[1] = heap[heap_len--];
            pqdownheap(tree, 1);
            int m = heap[1];
            heap[--heap_max] = n;
            heap[--heap_max] = m;
            tree[node].freq = static_cast<std::uint16_t>(tree[n].freq + tree[m].freq);
            depth[node] = static_cast<std::uint8_t>(std::max(depth[n], depth[m]) + 1);
            tree[n].dad = tree[m].dad = static_cast<std::uint16_t>(node);
            heap[1] = node++;
            pqdownheap(tree, 1);
        } while (heap_len >= 2);
        heap[--heap_max] = heap[1];
        gen_bitlen(desc);
        gen_codes(tree, desc.max_code);
    }

    void scan_tree(Node* tree, unsigned max_code) {
        int prevlen = -1;
        int nextlen = tree[0].len;
        unsigned count = 0, max_count = 7, min_count = 4;
        if (nextlen == 0) max_count = 138, min_count = 3;
        tree[max_code + 1].len = 0xffff;
        for (unsigned n = 0; n <= max_code; ++n) {
            int curlen = nextlen;
            nextlen = tree[n + 1].len;
            if (++count < max_count && curlen == nextlen) continue;
            if (count < min_count) {
                bltree[curlen].freq = static_cast<std::uint16_t>(bltree[curlen].freq + count);
            } else if (curlen != 0) {
                if (curlen != prevlen) ++bltree[curlen].freq;
                ++bltree[16].freq;
            } else if (count <= 10) {
                ++bltree[17].freq;
            } else {
                ++bltree[18].freq;
            }
            count = 0;
            prevlen = curlen;
            if (nextlen == 0) max_count = 138, min_count = 3;
            else if (curlen == nextlen) max_count = 6, min_count = 3;
            else max_count = 7, min_count = 4;
        }
    }

    void send_code(BitWriter& out, const Node* tree, unsigned c) { out.send(tree[c].code, tree[c].len); }

    void send_tree(BitWriter& out, const Node* tree, unsigned max_code) {
        int prevlen = -1;
        int nextlen = tree[0].len;
        unsigned count = 0, max_count = 7, min_count = 4;
        if (nextlen == 0) max_count = 138, min_count = 3;
        for (unsigned n = 0; n <= max_code; ++n) {
            int curlen = nextlen;
            nextlen = tree[n + 1].len;
            if (++count < max_count && curlen == nextlen) continue;
            if (count < min_count) {
                do send_code(out, bltree, static_cast<unsigned>(curlen));
                while (--count != 0);
            } else if (curlen != 0) {
                if (curlen != prevlen) {
                    send_code(out, bltree, static_cast<unsigned>(curlen));
                    --count;
                }
                send_code(out, bltree, 16);
                out.send(count - 3, 2);
            } else if (count <= 10) {
                send_code(out, bltree, 17);
                out.send(count - 3, 3);
            } else {
                send_code(out, bltree, 18);
                out.send(count - 11, 7);
            }
            count = 0;
            prevlen = curlen;
            if (nextlen == 0) max_count = 138, min_count = 3;
            else if (curlen == nextlen) max_count = 6, min_count = 3;
            else max_count = 7, min_count = 4;
        }
    }

    unsigned build_bl_tree() {
        scan_tree(ltree, l.max_code);
        scan_tree(dtree, d.max_code);
        build_tree(bl);
        unsigned max_blindex;
        for (max_blindex = kBlCodes - 1; max_blindex >= 3; --max_blindex)
            if (bltree[kBlOrder[max_blindex]].len != 0) break;
        opt_len += 3 * (static_cast<std::size_t>(max_blindex) + 1) + 5 + 5 + 4;
        return max_blindex;
    }
};

// ---- the official writer's reads ----------------------------------------------------
//
// Its column is read from the encoder into an OutputVector until a read gives
// nothing: a 32-byte probe read when the vector has less room, reads into the
// free capacity of at most 8 KiB (doubling while reads fill it), and a probe
// read when the vector is exactly full at its starting capacity. Each read
// runs the encoder until the read's room is used up or the input ends.

class ReadToEnd {
public:
    explicit ReadToEnd(OutputVector& v) : m_v(v), m_start_cap(v.cap) {}

    bool done() const { return m_done; }

    // Room of the next read.
    std::size_t begin_read() {
        for (;;) {
            switch (m_next) {
            case Next::first:
                if (m_v.cap - m_v.len < kProbe) {
                    m_probe = Probe::first;
                    return kProbe;
                }
                m_next = Next::top;
                break;
            case Next::top:
                if (m_v.len == m_v.cap && m_v.cap == m_start_cap) {
                    m_probe = Probe::top;
                    return kProbe;
                }
                m_next = Next::main;
                break;
            case Next::main:
                if (m_v.len == m_v.cap) m_v.reserve(kProbe);
                m_buf_len = std::min(m_v.cap - m_v.len, m_max_read);
                m_probe = Probe::none;
                return m_buf_len;
            }
        }
    }

    // A read that gave `n` bytes.
    void end_read(std::size_t n) {
        if (m_probe != Probe::none) {
            m_v.append(n);
            if (n == 0) m_done = true;
            m_next = m_probe == Probe::first ? Next::top : Next::main;
            return;
        }
        m_v.len += n;
        if (n == 0) {
            m_done = true;
            return;
        }
        if (m_buf_len >= m_max_read && n == m_buf_len) m_max_read *= 2;
        m_next = Next::top;
    }

private:
    static constexpr std::size_t kProbe = 32;
    enum class Next { first, top, main };
    enum class Probe { none, first, top };
    OutputVector& m_v;
    std::size_t m_start_cap;
    std::size_t m_max_read = 8192;
    std::size_t m_buf_len = 0;
    Next m_next = Next::first;
    Probe m_probe = Probe::none;
    bool m_done = false;
};

// The reads as the encoder sees them: output is delivered into the current
// read's room; a block that fills it ends the read, and the encoder then
// resumes afresh.
class Reads {
public:
    explicit Reads(OutputVector& v) : m_loop(v) {}

    // Starts the first read, with `input_left` bytes not yet taken in.
    void start(std::size_t input_left) { open(input_left); }

    // A block of `n` bytes in mid-stream; true when the read ran out of room
    // and the encoder resumes without its looked-up match.
    bool block(std::size_t n, std::size_t input_left) {
        m_pending += n;
        deliver();
        if (m_room > 0) return false;
        m_loop.end_read(m_got);
        open(input_left);
        return true;
    }

    // The input is all taken in and the lookahead is short: a read that has
    // not been told to finish returns here, and the next pass finishes.
    void input_done() {
        if (m_finishing) return;
        m_finishing = true;
        if (m_got == 0) return;  // nothing read yet: the same read goes on
        m_loop.end_read(m_got);
        open(0);
    }

    // The last block: the reads go on until one gives nothing.
    void finish(std::size_t n) {
        m_pending += n;
        deliver();
        m_loop.end_read(m_got);
        while (!m_loop.done()) {
            std::size_t room = m_loop.begin_read();
            std::size_t k = std::min(m_pending, room);
            m_pending -= k;
            m_loop.end_read(k);
        }
    }

private:
    void deliver() {
        std::size_t k = std::min(m_pending, m_room);
        m_pending -= k;
        m_room -= k;
        m_got += k;
    }
    // Opens reads until one has room left after taking pending output.
    void open(std::size_t input_left) {
        for (;;) {
            m_room = m_loop.begin_read();
            m_got = 0;
            m_finishing = input_left == 0;
            if (m_pending == 0) return;
            deliver();
            if (m_room > 0) return;
            m_loop.end_read(m_got);
        }
    }

    ReadToEnd m_loop;
    std::size_t m_room = 0;
    std::size_t m_got = 0;
    std::size_t m_pending = 0;
    bool m_finishing = false;
};

// ---- the encoder ------------------------------------------------------------------

constexpr std::size_t kWSize = 32768;
constexpr std::size_t kWMask = kWSize - 1;
constexpr std::size_t kWindowSize = 2 * kWSize;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kWantMinMatch = 4;
constexpr std::size_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr std::size_t kMaxDist = kWSize - kMinLookahead;
// The hash keeps 15 bits, so only this many heads are ever used.
constexpr std::size_t kHashSize = 32768;
constexpr std::uint32_t kHashMask = kHashSize - 1;
constexpr std::size_t kLitBufSize = 16384;
// The default level's search: give up the chain after this many probes,
// stop at a match this long, insert a match's strings up to this length.
constexpr unsigned kMaxChain = 128;
constexpr std::size_t kNiceMatch = 128;
constexpr std::size_t kMaxInsert = 16 * 16;

struct Match {
    std::uint16_t start = 0;
    std::uint16_t len = 0;
    std::uint16_t strstart = 0;
    std::uint16_t orgstart = 0;
};

struct Encoder {
    // The window with room for reads past its end.
    std::uint8_t window[kWindowSize + 512];
    std::uint16_t prev[kWSize];
    std::uint16_t head[kHashSize];
    std::uint8_t sym[3 * kLitBufSize];
    std::size_t sym_next = 0;
    Trees trees;

    const std::uint8_t* next_in = nullptr;
    std::size_t avail_in = 0;
    std::size_t strstart = 0;
    std::size_t lookahead = 0;
    std::size_t insert = 0;
    std::ptrdiff_t block_start = 0;
    std::size_t match_start = 0;

    void reset(ByteSpan in) {
        // A fresh stream reads the window only up to a match's length past
        // its input and follows only chains of positions it inserted itself:
        // clear what it reads.
        std::memset(window, 0, in.size() >= kWindowSize ? sizeof window : in.size() + 512);
        std::fill(std::begin(head), std::end(head), std::uint16_t{0});
        next_in = in.data();
        avail_in = in.size();
        strstart = lookahead = insert = match_start = 0;
        block_start = 0;
        sym_next = 0;
        trees.init_block();
    }

    static std::uint32_t hash(std::uint32_t v) { return ((v * 2654435761u) >> 16) & kHashMask; }

    // The hash of the four bytes at `p`, read as a little-endian word.
    static std::uint32_t hash_of(const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
        return hash(v);
    }

    void insert_hashed(std::uint32_t h, std::uint16_t idx) {
        std::uint16_t old = head[h];
        if (old != idx) {
            prev[idx & kWMask] = old;
            head[h] = idx;
        }
    }

    std::uint16_t quick_insert(std::size_t pos) {
        std::uint32_t h = hash_of(window + pos);
        std::uint16_t old = head[h];
        if (old != static_cast<std::uint16_t>(pos)) {
            prev[pos & kWMask] = old;
            head[h] = static_cast<std::uint16_t>(pos);
        }
        return old;
    }

    // Inserts the strings at `count` positions from `pos`, in order. The
    // hashes of four positions come from one 8-byte read (the window has
    // room past its end).
    void insert_strings(std::size_t pos, std::size_t count) {
        const std::uint8_t* p = window + pos;
        std::size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            std::uint64_t v = load<std::uint64_t>(p + i);
            if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
            std::uint32_t h0 = hash(static_cast<std::uint32_t>(v));
            std::uint32_t h1 = hash(static_cast<std::uint32_t>(v >> 8));
            std::uint32_t h2 = hash(static_cast<std::uint32_t>(v >> 16));
            std::uint32_t h3 = hash(static_cast<std::uint32_t>(v >> 24));
            auto idx = static_cast<std::uint16_t>(pos + i);
            insert_hashed(h0, idx);
            insert_hashed(h1, static_cast<std::uint16_t>(idx + 1));
            insert_hashed(h2, static_cast<std::uint16_t>(idx + 2));
            insert_hashed(h3, static_cast<std::uint16_t>(idx + 3));
        }
        for (; i < count; ++i) insert_hashed(hash_of(p + i), static_cast<std::uint16_t>(pos + i));
    }

    void slide_hash() {
        for (auto& v : head) v = v >= kWSize ? static_cast<std::uint16_t>(v - kWSize) : 0;
        for (auto& v : prev) v = v >= kWSize ? static_cast<std::uint16_t>(v - kWSize) : 0;
    }

    void fill_window() {
        for (;;) {
            std::size_t more = kWindowSize - lookahead - strstart;
            if (strstart >= kWSize + kMaxDist) {
                std::memcpy(window, window + kWSize, kWSize);
                match_start = match_start >= kWSize ? match_start - kWSize : 0;
                strstart -= kWSize;
                block_start -= static_cast<std::ptrdiff_t>(kWSize);
                insert = std::min(insert, strstart);
                slide_hash();
                more += kWSize;
            }
            if (avail_in == 0) break;
            std::size_t n = std::min(avail_in, more);
            std::memcpy(window + strstart + lookahead, next_in, n);
            next_in += n;
            avail_in -= n;
            lookahead += n;
            if (lookahead + insert >= kMinMatch) {
                std::size_t str = strstart - insert;
                if (str >= 1) quick_insert(str + 2 - kMinMatch);
                std::size_t count = insert;
                if (lookahead == 1) --count;
                if (count > 0) {
                    insert_strings(str, count);
                    insert -= count;
                }
            }
            if (!(lookahead < kMinLookahead && avail_in != 0)) break;
        }
    }

    template <typename T>
    static T load(const std::uint8_t* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    static std::size_t compare256(const std::uint8_t* a, const std::uint8_t* b) {
        for (std::size_t i = 0; i < 256; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return i + (static_cast<unsigned>(__builtin_ctzll(x ^ y)) >> 3);
        }
        return 256;
    }

    // Walks the chain from `cur` to the first candidate that agrees with the
    // string at `scan` on the `W` bytes at its start and on the `W` bytes that
    // end one past `best_len`: only such a candidate can be longer. False when
    // the chain ends first.
    template <typename W>
    bool next_candidate(std::uint16_t& cur, unsigned& chain, const std::uint8_t* scan, std::size_t best_len,
                        std::size_t limit) const {
        const std::size_t offset = best_len + 1 - sizeof(W);
        const W scan_start = load<W>(scan);
        const W scan_end = load<W>(scan + offset);
        for (;;) {
            if (cur >= strstart) return false;
            const std::uint8_t* m = window + cur;
            if (load<W>(m + offset) == scan_end && load<W>(m) == scan_start) return true;
            if (--chain == 0) return false;
            cur = prev[cur & kWMask];
            if (cur <= limit) return false;
        }
    }

    // The longest match for the string at strstart along the hash chain that
    // starts at `cur`: the first of the longest, as the chain is walked.
    std::pair<std::size_t, std::size_t> longest_match(std::uint16_t cur) const {
        std::size_t found_start = match_start;
        const std::uint8_t* scan = window + strstart;
        std::size_t best_len = kMinMatch - 1;
        unsigned chain = kMaxChain;
        const std::size_t limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
        for (;;) {
            // The check is as wide as the best length allows: 2, 4 or 8 bytes.
            bool candidate = best_len >= 8   ? next_candidate<std::uint64_t>(cur, chain, scan, best_len, limit)
                             : best_len >= 4 ? next_candidate<std::uint32_t>(cur, chain, scan, best_len, limit)
                                             : next_candidate<std::uint16_t>(cur, chain, scan, best_len, limit);
            if (!candidate) break;
            const std::uint8_t* m = window + cur;
            std::size_t len = compare256(scan + 2, m + 2) + 2;
            if (len > best_len) {
                found_start = cur;
                if (len > lookahead) return {lookahead, found_start};
                best_len = len;
                if (best_len >= kNiceMatch) return {best_len, found_start};
            }
            if (--chain == 0) break;
            cur = prev[cur & kWMask];
            if (cur <= limit) break;
        }
        return {best_len, found_start};
    }

    bool tally_lit(std::uint8_t c) {
        sym[sym_next++] = 0;
        sym[sym_next++] = 0;
        sym[sym_next++] = c;
        ++trees.ltree[c].freq;
        return sym_next == 3 * kLitBufSize - 3;
    }

    bool tally_dist(std::size_t dist, std::size_t len) {
        sym[sym_next++] = static_cast<std::uint8_t>(dist);
        sym[sym_next++] = static_cast<std::uint8_t>(dist >> 8);
        sym[sym_next++] = static_cast<std::uint8_t>(len);
        --dist;
        ++trees.ltree[kTables.length_code[len] + kLiterals + 1].freq;
        ++trees.dtree[d_code(static_cast<unsigned>(dist))].freq;
        return sym_next == 3 * kLitBufSize - 3;
    }

    void insert_match(Match m) {
        if (lookahead <= m.len + kWantMinMatch) return;
        if (m.len < kWantMinMatch) {
            ++m.strstart;
            --m.len;
            if (m.len > 0 && m.strstart >= m.orgstart) {
                if (m.strstart + m.len > m.orgstart) insert_strings(m.strstart, m.len);
                else insert_strings(m.strstart, static_cast<std::size_t>(m.orgstart - m.strstart + 1));
            }
            return;
        }
        if (m.len <= kMaxInsert && lookahead >= kWantMinMatch) {
            --m.len;
            ++m.strstart;
            if (m.strstart >= m.orgstart) {
                if (m.strstart + m.len > m.orgstart) insert_strings(m.strstart, m.len);
                else insert_strings(m.strstart, static_cast<std::size_t>(m.orgstart - m.strstart + 1));
            } else if (m.orgstart < m.strstart + m.len) {
                insert_strings(m.orgstart, static_cast<std::size_t>(m.strstart + m.len - m.orgstart));
            }
        } else {
            m.strstart = static_cast<std::uint16_t>(m.strstart + m.len);
            if (m.strstart >= kMinMatch - 2) quick_insert(m.strstart + 2 - kMinMatch);
        }
    }

    // Moves the next match left over the tail of the current one when that
    // leaves the current one at most a literal.
    void fizzle(Match& current, Match& next) const {
        if (current.len <= 1) return;
        if (current.len > 1 + next.start) return;
        if (current.len > 1 + next.strstart) return;
        if (window[next.start - current.len + 1] != window[next.strstart - current.len + 1]) return;
        std::uint16_t limit = next.strstart > kMaxDist ? static_cast<std::uint16_t>(next.strstart - kMaxDist) : 0;
        Match c = current, n = next;
        std::size_t changed = 0;
        for (std::size_t k = 1; k <= next.start && window[next.start - k] == window[next.strstart - k]; ++k) {
            if (c.len < 1 || n.strstart <= limit || n.len >= 256 || n.start <= 1) break;
            --n.strstart;
            --n.start;
            ++n.len;
            --c.len;
            ++changed;
        }
        if (changed == 0) return;
        if (c.len <= 1 && n.len != 2) {
            ++n.orgstart;
            current = c;
            next = n;
        }
    }

    bool emit(const Match& m) {
        bool flush = false;
        if (m.len < kWantMinMatch) {
            for (std::uint16_t k = 0; k < m.len; ++k) {
                flush |= tally_lit(window[strstart]);
                --lookahead;
            }
            return flush;
        }
        flush |= tally_dist(static_cast<std::size_t>(m.strstart - m.start), m.len - kMinMatch);
        lookahead -= m.len;
        return flush;
    }

    Match find_at(std::size_t pos, std::uint16_t hash_head) const {
        Match m;
        m.strstart = m.orgstart = static_cast<std::uint16_t>(pos);
        auto dist = static_cast<std::ptrdiff_t>(pos) - static_cast<std::ptrdiff_t>(hash_head);
        if (dist <= static_cast<std::ptrdiff_t>(kMaxDist) && dist > 0 && hash_head != 0) {
            auto [len, start] = longest_match(hash_head);
            m.len = static_cast<std::uint16_t>(len);
            m.start = static_cast<std::uint16_t>(start);
        } else {
            m.start = 0;
            m.len = 1;
        }
        return m;
    }

    void compress_block(BitWriter& out, const Node* ltree, const Node* dtree) {
        for (std::size_t sx = 0; sx < sym_next; sx += 3) {
            unsigned dist = sym[sx] | (static_cast<unsigned>(sym[sx + 1]) << 8);
            unsigned lc = sym[sx + 2];
            if (dist == 0) {
                out.send(ltree[lc].code, ltree[lc].len);
                continue;
            }
            unsigned code = kTables.length_code[lc];
            out.send(ltree[code + kLiterals + 1].code, ltree[code + kLiterals + 1].len);
            if (unsigned extra = kExtraLBits[code]) out.send(lc - kTables.base_length[code], extra);
            --dist;
            code = d_code(dist);
            out.send(dtree[code].code, dtree[code].len);
            if (unsigned extra = kExtraDBits[code]) out.send(dist - kTables.base_dist[code], extra);
        }
        out.send(ltree[kEndBlock].code, ltree[kEndBlock].len);
    }

    void flush_block(BitWriter& out, bool last) {
        std::size_t stored_len = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(strstart) - block_start);
        bool have_buf = block_start >= 0;
        std::size_t opt_lenb, static_lenb;
        unsigned max_blindex = 0;
        if (sym_next == 0) {
            opt_lenb = static_lenb = 0;
            trees.static_len = 7;
        } else {
            trees.build_tree(trees.l);
            trees.build_tree(trees.d);
            max_blindex = trees.build_bl_tree();
            opt_lenb = (trees.opt_len + 3 + 7) >> 3;
            static_lenb = (trees.static_len + 3 + 7) >> 3;
            if (static_lenb <= opt_lenb) opt_lenb = static_lenb;
        }
        if (stored_len + 4 <= opt_lenb && have_buf) {
            out.send(last ? 1 : 0, 3);
            out.align();
            std::uint8_t lens[4] = {static_cast<std::uint8_t>(stored_len), static_cast<std::uint8_t>(stored_len >> 8),
                                    static_cast<std::uint8_t>(~stored_len), static_cast<std::uint8_t>(~stored_len >> 8)};
            out.bytes(lens, 4);
            out.bytes(window + block_start, stored_len);
        } else if (static_lenb == opt_lenb) {
            out.send((1u << 1) + (last ? 1 : 0), 3);
            static Node static_l[288], static_d[30];
            static const bool ready = [] {
                for (unsigned n = 0; n < 288; ++n) static_l[n] = {0, kTables.static_lcode[n], 0, kTables.static_llen[n]};
                for (unsigned n = 0; n < 30; ++n) static_d[n] = {0, kTables.static_dcode[n], 0, 5};
                return true;
            }();
            (void)ready;
            compress_block(out, static_l, static_d);
        } else {
            out.send((2u << 1) + (last ? 1 : 0), 3);
            unsigned lcodes = trees.l.max_code + 1, dcodes = trees.d.max_code + 1, blcodes = max_blindex + 1;
            out.send(lcodes - 257, 5);
            out.send(dcodes - 1, 5);
            out.send(blcodes - 4, 4);
            for (unsigned rank = 0; rank < blcodes; ++rank) out.send(trees.bltree[kBlOrder[rank]].len, 3);
            trees.send_tree(out, trees.ltree, lcodes - 1);
            trees.send_tree(out, trees.dtree, dcodes - 1);
            compress_block(out, trees.ltree, trees.dtree);
        }
        trees.init_block();
        sym_next = 0;
        if (last) out.align();
        block_start = static_cast<std::ptrdiff_t>(strstart);
    }

    void compress(BitWriter& out, Reads& reads) {
        Match current, next;
        reads.start(avail_in);
        for (;;) {
            if (lookahead < kMinLookahead) {
                fill_window();
                if (lookahead < kMinLookahead && avail_in == 0) reads.input_done();
                if (lookahead == 0) break;
                next.len = 0;
            }
            if (next.len > 0) {
                current = next;
                next.len = 0;
            } else {
                std::uint16_t hash_head = 0;
                if (lookahead >= kWantMinMatch) hash_head = quick_insert(strstart);
                current = find_at(strstart, hash_head);
                if (current.len < kWantMinMatch) current.len = 1;
                if (current.start >= current.strstart) current.len = 1;
            }
            insert_match(current);
            if (lookahead > kMinLookahead &&
                static_cast<std::size_t>(current.strstart + current.len) < kWindowSize - kMinLookahead) {
                strstart = static_cast<std::size_t>(current.strstart + current.len);
                std::uint16_t hash_head = quick_insert(strstart);
                next = find_at(strstart, hash_head);
                if (next.start >= next.strstart) next.len = 1;
                if (next.len < kWantMinMatch) next.len = 1;
                else fizzle(current, next);
                strstart = current.strstart;
            } else {
                next.len = 0;
            }
            bool flush = emit(current);
            strstart += current.len;
            if (flush) {
                std::size_t before = out.produced();
                flush_block(out, false);
                if (reads.block(out.produced() - before, avail_in)) next.len = 0;
            }
        }
        insert = std::min(strstart, kMinMatch - 1);
        std::size_t before = out.produced();
        flush_block(out, true);
        reads.finish(out.produced() - before);
    }
};

}  // namespace

void deflate_compatible(ByteSpan in, Bytes& out, OutputVector& vector) {
    // About 300 KiB of state: kept per thread and cleared for each stream.
    thread_local std::unique_ptr<Encoder> encoder;
    if (!encoder) encoder = std::make_unique<Encoder>();
    encoder->reset(in);
    BitWriter bits(out);
    Reads reads(vector);
    encoder->compress(bits, reads);
}

}  // namespace automerge::detail
