#include "sim/statevector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "simd.h"

namespace talvo::sim {

void check_statevector_size(std::uint64_t n_qubits) {
    if (n_qubits > kMaxStatevectorQubits) throw SizeLimit("SizeViolation: run_statevector requires n_qubits <= 24");
}

// ---------------------------------------------------------------------------
// Gate table.

namespace {

// cos(pi/4) and sin(pi/4) as doubles: they differ in the last bit.
constexpr double kR = 0.7071067811865476;
constexpr double kSinQuarterPi = 0.7071067811865475;

struct Complex {
    double re;
    double im;
};

// (p + iq)(u + iv) = (pu - qv) + i(qu + pv), each product rounded on its own.
Complex mul(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im}; }

// Cosine and sine from the platform's maths library, each on its own, as the
// calling package's math.cos and math.sin compute them.
Complex expi(double angle) { return {std::cos(angle), std::sin(angle)}; }

// 2^q as an index, saturating for qubits that cannot be addressed at all.
std::uint64_t bit_index(std::uint64_t q) { return q >= 64 ? ~std::uint64_t{0} : std::uint64_t{1} << q; }

std::uint64_t add_saturating(std::uint64_t x, std::uint64_t y) { return x + y < x ? ~std::uint64_t{0} : x + y; }

double param(const std::vector<double>& params, std::size_t i) {
    if (i >= params.size()) index_fault(params.size(), i);
    return params[i];
}

GateOp single(Complex m00, Complex m01, Complex m10, Complex m11) {
    GateOp op{GateKind::Single, 0, 0, {m00.re, m00.im, m01.re, m01.im, m10.re, m10.im, m11.re, m11.im}};
    return op;
}

// The 2x2 matrix of a single-qubit gate, reading its parameters.
GateOp single_qubit_gate(const std::string& name, const std::vector<double>& params) {
    const Complex zero{0.0, 0.0}, one{1.0, 0.0};
    if (name == "h") return single({kR, 0.0}, {kR, 0.0}, {kR, 0.0}, {-kR, 0.0});
    if (name == "x") return single(zero, one, one, zero);
    if (name == "y") return single(zero, {0.0, -1.0}, {0.0, 1.0}, zero);
    if (name == "z") return single(one, zero, zero, {-1.0, 0.0});
    if (name == "s") return single(one, zero, zero, {0.0, 1.0});
    if (name == "t") return single(one, zero, zero, {kR, kSinQuarterPi});
    if (name == "rx" || name == "ry" || name == "rz") {
        double half = param(params, 0) * 0.5;
        const double s = std::sin(half), c = std::cos(half);
        if (name == "rx") return single({c, 0.0}, {0.0, -s}, {0.0, -s}, {c, 0.0});
        if (name == "ry") return single({c, 0.0}, {-s, 0.0}, {s, 0.0}, {c, 0.0});
        return single({c, -s}, zero, zero, {c, s});
    }
    if (name == "u") {
        double theta = param(params, 0);
        double phi = param(params, 1);
        double lambda = param(params, 2);
        const double s = std::sin(theta * 0.5), c = std::cos(theta * 0.5);
        Complex neg_s{-s, -0.0};  // -(s + 0i)
        return single({c, 0.0}, mul(neg_s, expi(lambda)), mul({s, 0.0}, expi(phi)),
                      mul({c, 0.0}, expi(phi + lambda)));
    }
    throw InvalidInput("'" + name + "' is not a single-qubit gate");
}

}  // namespace

std::vector<GateOp> compile_circuit(const std::vector<Instruction>& instructions, unsigned n) {
    const std::uint64_t len = std::uint64_t{1} << n;
    std::vector<GateOp> ops;
    ops.reserve(instructions.size());
    for (const auto& [name, qubits, params] : instructions) {
        if (qubits.empty()) index_fault(0, 0);
        if (qubits.size() == 1) {
            GateOp op = single_qubit_gate(name, params);
            std::uint64_t q = qubits[0];
            // The first pair (0, 2^q) already leaves the state.
            if (q >= n) index_fault(len, bit_index(q));
            op.a = op.b = static_cast<unsigned>(q);
            ops.push_back(op);
            continue;
        }
        std::uint64_t a = qubits[0], b = qubits[1];
        GateKind kind;
        if (name == "cx") {
            kind = GateKind::CX;
        } else if (name == "swap") {
            kind = GateKind::Swap;
        } else if (name == "cz") {
            kind = GateKind::CZ;
        } else {
            throw InvalidInput("'" + name + "' is not a supported two-qubit gate");
        }
        if (kind == GateKind::CZ) {
            // No index has a bit outside the register set: nothing to negate.
            if (a >= n || b >= n) continue;
        } else {
            // Exchanges start from indices with bit a set and bit b clear:
            // there are none when a lies outside the register or a == b.
            if (a >= n || a == b) continue;
            // The first such index, 2^a, pairs with an index past the end.
            if (b >= n) index_fault(len, kind == GateKind::CX ? add_saturating(bit_index(a), bit_index(b)) : bit_index(b));
        }
        ops.push_back(GateOp{kind, static_cast<unsigned>(a), static_cast<unsigned>(b), {}});
    }
    return ops;
}

StateBuffer::StateBuffer(unsigned n, bool mapped) : size_(std::size_t{1} << n) {
    if (mapped) {
        large_ = std::make_unique<LargeBuffer<double>>(2 * size_);
        data_ = large_->data();
    } else {
        small_.resize(2 * size_);
        data_ = small_.data();
    }
    data_[0] = 1.0;
}

// ---------------------------------------------------------------------------
// Kernels. A gate is applied to a "view": 2^(L+k) amplitudes made of 2^k
// contiguous chunks of 2^L amplitudes, chunk c starting `offs[c]` amplitudes
// after `base`. In the view, qubits 0..L-1 are the state's qubits 0..L-1 and
// view qubit L+m is the chunk-index bit m. The whole state is the view with
// L = n, k = 0; a cache block is a view whose chunk bits stand for a few
// higher qubits. Every gate only pairs amplitudes whose indices differ in the
// gate's qubits, so a view that holds all of a gate's qubits holds every pair
// it touches, and pairs are independent of each other.

namespace {

using v4d = simd::Vec<4>;

TALVO_INLINE v4d load(const double* p) { return simd::load<4>(p); }
TALVO_INLINE void store(double* p, v4d v) { simd::store<4>(p, v); }

// A gate in view coordinates.
struct ViewOp {
    double m[8];  // M00, M01, M10, M11 as (re, im)
    GateKind kind;
    unsigned a;
    unsigned b;
};

ViewOp prepare(const GateOp& g, unsigned a, unsigned b) {
    ViewOp v{};
    std::memcpy(v.m, g.m, sizeof v.m);
    v.kind = g.kind;
    v.a = a;
    v.b = b;
    return v;
}

TALVO_INLINE v4d splat(double x) { return v4d{x, x, x, x}; }

struct View {
    double* base;
    const std::uint64_t* offs;  // chunk offsets, in amplitudes
    unsigned L;                 // chunk = 2^L amplitudes
    unsigned bits;              // L + k
};

TALVO_INLINE double* at(const View& w, std::uint64_t v) {
    std::uint64_t mask = (std::uint64_t{1} << w.L) - 1;
    return w.base + 2 * (w.offs[v >> w.L] + (v & mask));
}

// Inserts a zero bit at position p.
TALVO_INLINE std::uint64_t insert_zero(std::uint64_t w, unsigned p) {
    std::uint64_t low = w & ((std::uint64_t{1} << p) - 1);
    return ((w >> p) << (p + 1)) | low;
}

// The kernels, compiled once per variant. Wide: the variant's registers hold
// four doubles, so 4-lane permutations are single instructions; otherwise
// (the generic variant on 2-lane targets) they are written as constructions
// from lanes, which compilers split into 2-lane moves.
template <bool kWide>
struct Kernel {
    template <int A, int B, int C, int D>
    static TALVO_INLINE v4d shuffle(v4d x, v4d y) {
        if constexpr (kWide) {
            return simd::shuffle<A, B, C, D>(x, y);
        } else {
            return simd::shuffle_by_lanes<A, B, C, D>(x, y);
        }
    }


    // Two complex products at once: lanes (0,1) and (2,3) each hold one complex
    // number x; m holds the matrix entries as (re, im) per lane pair and ms the
    // same entries with re and im exchanged. The result is (pu - qv, qu + pv).
    static TALVO_INLINE v4d cmul(v4d m, v4d ms, v4d x) {
        v4d xr = shuffle<0, 0, 2, 2>(x, x);
        v4d xi = shuffle<1, 1, 3, 3>(x, x);
        v4d a = m * xr;   // (pu, qu)
        v4d b = ms * xi;  // (qv, pv)
        return shuffle<0, 5, 2, 7>(a - b, a + b);
    }


    // The matrix for four pairs at a time, real and imaginary parts of four
    // amplitudes in separate vectors.
    struct Matrix4 {
        v4d p00, q00, p01, q01, p10, q10, p11, q11;
        TALVO_INLINE explicit Matrix4(const double* m)
            : p00(splat(m[0])), q00(splat(m[1])), p01(splat(m[2])), q01(splat(m[3])),
              p10(splat(m[4])), q10(splat(m[5])), p11(splat(m[6])), q11(splat(m[7])) {}

        // Amplitudes x0..x3 are at xa (two) and xb (two), y0..y3 at ya and yb.
        TALVO_INLINE void apply(double* xa, double* xb, double* ya, double* yb) const {
            v4d x0 = load(xa), x1 = load(xb), y0 = load(ya), y1 = load(yb);
            v4d xr = shuffle<0, 4, 2, 6>(x0, x1), xi = shuffle<1, 5, 3, 7>(x0, x1);
            v4d yr = shuffle<0, 4, 2, 6>(y0, y1), yi = shuffle<1, 5, 3, 7>(y0, y1);
            v4d nxr = (p00 * xr - q00 * xi) + (p01 * yr - q01 * yi);
            v4d nxi = (q00 * xr + p00 * xi) + (q01 * yr + p01 * yi);
            v4d nyr = (p10 * xr - q10 * xi) + (p11 * yr - q11 * yi);
            v4d nyi = (q10 * xr + p10 * xi) + (q11 * yr + p11 * yi);
            store(xa, shuffle<0, 4, 2, 6>(nxr, nxi));
            store(xb, shuffle<1, 5, 3, 7>(nxr, nxi));
            store(ya, shuffle<0, 4, 2, 6>(nyr, nyi));
            store(yb, shuffle<1, 5, 3, 7>(nyr, nyi));
        }
    };

    // new x = M00 x + M01 y, new y = M10 x + M11 y over `count` (even) pairs of
    // runs, each complex product (p + iq)(u + iv) as (pu - qv) + i(qu + pv).
    static TALVO_INLINE void pair_runs(const ViewOp& g, double* x, double* y, std::uint64_t count) {
        const double* m = g.m;
        if (count % 4 != 0) {
            // Two pairs per step, each amplitude whole in one vector half.
            const v4d m00{m[0], m[1], m[0], m[1]}, m00s{m[1], m[0], m[1], m[0]};
            const v4d m01{m[2], m[3], m[2], m[3]}, m01s{m[3], m[2], m[3], m[2]};
            const v4d m10{m[4], m[5], m[4], m[5]}, m10s{m[5], m[4], m[5], m[4]};
            const v4d m11{m[6], m[7], m[6], m[7]}, m11s{m[7], m[6], m[7], m[6]};
            for (std::uint64_t i = 0; i < 2 * count; i += 4) {
                v4d vx = load(x + i), vy = load(y + i);
                store(x + i, cmul(m00, m00s, vx) + cmul(m01, m01s, vy));
                store(y + i, cmul(m10, m10s, vx) + cmul(m11, m11s, vy));
            }
            return;
        }
        const Matrix4 mv(m);
        for (std::uint64_t i = 0; i < 2 * count; i += 8) mv.apply(x + i, x + i + 4, y + i, y + i + 4);
    }

    // Qubit 0: each pair is two neighbouring amplitudes (x, y).
    static TALVO_INLINE void pair_adjacent(const ViewOp& g, double* p, std::uint64_t pairs) {
        const double* m = g.m;
        if (pairs % 2 != 0) {
            const v4d c0{m[0], m[1], m[4], m[5]}, c0s{m[1], m[0], m[5], m[4]};
            const v4d c1{m[2], m[3], m[6], m[7]}, c1s{m[3], m[2], m[7], m[6]};
            for (std::uint64_t i = 0; i < 4 * pairs; i += 4) {
                v4d v = load(p + i);
                v4d x = shuffle<0, 1, 0, 1>(v, v);
                v4d y = shuffle<2, 3, 2, 3>(v, v);
                store(p + i, cmul(c0, c0s, x) + cmul(c1, c1s, y));
            }
            return;
        }
        // Two pairs per step. Lanes: (x0, x1, y0, y1). "own" multiplies each lane
        // by its diagonal entry (M00 for x, M11 for y), "other" the opposite
        // amplitude by the off-diagonal entry (M01 y for x, M10 x for y).
        const v4d po{m[0], m[0], m[6], m[6]}, qo{m[1], m[1], m[7], m[7]};
        const v4d pt{m[2], m[2], m[4], m[4]}, qt{m[3], m[3], m[5], m[5]};
        for (std::uint64_t i = 0; i < 4 * pairs; i += 8) {
            v4d v0 = load(p + i), v1 = load(p + i + 4);
            v4d r = shuffle<0, 4, 2, 6>(v0, v1), im = shuffle<1, 5, 3, 7>(v0, v1);
            v4d rs = shuffle<2, 3, 0, 1>(r, r), ims = shuffle<2, 3, 0, 1>(im, im);
            v4d own_r = po * r - qo * im, own_i = qo * r + po * im;
            v4d oth_r = pt * rs - qt * ims, oth_i = qt * rs + pt * ims;
            // new x = M00 x + M01 y, new y = M10 x + M11 y: the x term comes first.
            v4d nr = shuffle<0, 1, 6, 7>(own_r, oth_r) + shuffle<0, 1, 6, 7>(oth_r, own_r);
            v4d ni = shuffle<0, 1, 6, 7>(own_i, oth_i) + shuffle<0, 1, 6, 7>(oth_i, own_i);
            store(p + i, shuffle<0, 4, 2, 6>(nr, ni));
            store(p + i + 4, shuffle<1, 5, 3, 7>(nr, ni));
        }
    }

    static TALVO_INLINE void exchange_runs(double* x, double* y, std::uint64_t count) {
        if (count == 1) {
            std::swap(x[0], y[0]);
            std::swap(x[1], y[1]);
            return;
        }
        for (std::uint64_t i = 0; i < 2 * count; i += 4) {
            v4d vx = load(x + i), vy = load(y + i);
            store(x + i, vy);
            store(y + i, vx);
        }
    }

    // Flips the sign bit of both parts of `count` amplitudes.
    static TALVO_INLINE void negate_run(double* x, std::uint64_t count) {
        const v4d sign = simd::splat<4>(-0.0);
        if (count == 1) {
            x[0] = -x[0];
            x[1] = -x[1];
            return;
        }
        for (std::uint64_t i = 0; i < 2 * count; i += 4) {
            store(x + i, simd::bit_xor<4>(load(x + i), sign));
        }
    }

    static TALVO_INLINE void apply_single(const ViewOp& g, const View& w) {
        const std::uint64_t size = std::uint64_t{1} << w.bits, chunk = std::uint64_t{1} << w.L;
        if (g.a == 0) {
            for (std::uint64_t c = 0; c < (size >> w.L); ++c) pair_adjacent(g, w.base + 2 * w.offs[c], chunk / 2);
            return;
        }
        if (g.a == 1 && chunk >= 8) {
            // Groups (x0, x1, y0, y1): two neighbouring groups make four pairs.
            const Matrix4 mv(g.m);
            for (std::uint64_t c = 0; c < (size >> w.L); ++c) {
                double* p = w.base + 2 * w.offs[c];
                for (std::uint64_t i = 0; i < 2 * chunk; i += 16) mv.apply(p + i, p + i + 8, p + i + 4, p + i + 12);
            }
            return;
        }
        const std::uint64_t half = std::uint64_t{1} << g.a, seg = std::min(half, chunk);
        for (std::uint64_t v0 = 0; v0 < size; v0 += 2 * half) {
            for (std::uint64_t t = 0; t < half; t += seg) pair_runs(g, at(w, v0 + t), at(w, v0 + half + t), seg);
        }
    }

    // For every run of `count` consecutive view indices v whose bits at
    // positions lo and hi (lo <= hi; one bit if equal) are those of `ones`:
    // exchanges the run with the run at v ^ toggle (Negate false) or negates it
    // (Negate true). Runs never cross a chunk.
    template <bool Negate>
    static TALVO_INLINE void for_runs(const View& w, unsigned lo, unsigned hi, std::uint64_t ones, std::uint64_t toggle) {
        const unsigned L = w.L;
        const std::uint64_t chunk = std::uint64_t{1} << L, chunks = std::uint64_t{1} << (w.bits - L);
        const unsigned fixed[2] = {lo, hi}, n_fixed = lo == hi ? 1 : 2;
        unsigned inner[2], outer[2], n_in = 0, n_out = 0;
        for (unsigned i = 0; i < n_fixed; ++i) {
            unsigned p = fixed[i];
            if (p < L) {
                inner[n_in++] = p;
            } else {
                outer[n_out++] = p - L;
            }
        }
        const std::uint64_t ones_in = ones & (chunk - 1), ones_out = ones >> L;
        const std::uint64_t toggle_in = toggle & (chunk - 1), toggle_out = toggle >> L;
        const std::uint64_t run = n_in ? std::uint64_t{1} << inner[0] : chunk;
        for (std::uint64_t co = 0; co < (chunks >> n_out); ++co) {
            std::uint64_t c = co;
            for (unsigned j = 0; j < n_out; ++j) c = insert_zero(c, outer[j]);
            c |= ones_out;
            double* px = w.base + 2 * w.offs[c];
            double* py = w.base + 2 * w.offs[c ^ toggle_out];
            for (std::uint64_t r = 0; r < (chunk >> n_in); r += run) {
                std::uint64_t t = r;
                for (unsigned j = 0; j < n_in; ++j) t = insert_zero(t, inner[j]);
                t |= ones_in;
                if constexpr (Negate) {
                    negate_run(px + 2 * t, run);
                } else {
                    exchange_runs(px + 2 * t, py + 2 * (t ^ toggle_in), run);
                }
            }
        }
    }

    // cx: every index with bit a set and bit b clear trades places with the one
    // with b set; swap: with the one with a clear and b set.
    static TALVO_INLINE void apply_exchange(const ViewOp& g, const View& w) {
        const std::uint64_t A = std::uint64_t{1} << g.a, B = std::uint64_t{1} << g.b;
        for_runs<false>(w, std::min(g.a, g.b), std::max(g.a, g.b), A, g.kind == GateKind::CX ? B : A | B);
    }

    // cz: every amplitude with bits a and b set is negated.
    static TALVO_INLINE void apply_cz(const ViewOp& g, const View& w) {
        const std::uint64_t mask = (std::uint64_t{1} << g.a) | (std::uint64_t{1} << g.b);
        for_runs<true>(w, std::min(g.a, g.b), std::max(g.a, g.b), mask, 0);
    }

    // Applies `count` gates to every block: block number i places its bits at
    // the positions `free_bits` (the qubits outside the view), the view's own
    // qubits are 0..L-1 and the chunk bits of `offs`.
    static TALVO_INLINE void apply_blocks_impl(double* state, const ViewOp* ops, std::size_t count, unsigned L, unsigned k,
                                       const std::uint64_t* offs, const unsigned* free_bits, unsigned f) {
        for (std::uint64_t i = 0; i < (std::uint64_t{1} << f); ++i) {
            // A group of many gates is a long pass: look for an interrupt every
            // 64 blocks (the state is thrown away when the call ends with one).
            if ((i & 63) == 63) poll_interrupt();
            std::uint64_t start = 0;
            for (unsigned j = 0; j < f; ++j) start |= ((i >> j) & 1) << free_bits[j];
            View w{state + 2 * start, offs, L, L + k};
            for (std::size_t g = 0; g < count; ++g) {
                const ViewOp& op = ops[g];
                switch (op.kind) {
                    case GateKind::Single: apply_single(op, w); break;
                    case GateKind::CX:
                    case GateKind::Swap: apply_exchange(op, w); break;
                    case GateKind::CZ: apply_cz(op, w); break;
                }
            }
        }
    }
};


void apply_blocks_generic(double* state, const ViewOp* ops, std::size_t count, unsigned L, unsigned k,
                          const std::uint64_t* offs, const unsigned* free_bits, unsigned f) {
    Kernel<false>::apply_blocks_impl(state, ops, count, L, k, offs, free_bits, f);
}

#if TALVO_SIMD_X86
// The AVX-512 level runs this variant too: the kernel works on 4-lane vectors.
TALVO_TARGET_AVX2 void apply_blocks_avx2(double* state, const ViewOp* ops, std::size_t count, unsigned L,
                                         unsigned k, const std::uint64_t* offs, const unsigned* free_bits,
                                         unsigned f) {
    Kernel<true>::apply_blocks_impl(state, ops, count, L, k, offs, free_bits, f);
}
#endif

void apply_blocks(double* state, const ViewOp* ops, std::size_t count, unsigned L, unsigned k,
                  const std::uint64_t* offs, const unsigned* free_bits, unsigned f) {
#if TALVO_SIMD_X86
    if (simd::active() >= simd::Level::Avx2) {
        apply_blocks_avx2(state, ops, count, L, k, offs, free_bits, f);
        return;
    }
#endif
    apply_blocks_generic(state, ops, count, L, k, offs, free_bits, f);
}

std::uint64_t qubit_mask(const GateOp& op) { return (std::uint64_t{1} << op.a) | (std::uint64_t{1} << op.b); }

// Scratch space reused by every group of one run, so applying a gate
// allocates nothing.
struct Scratch {
    std::vector<ViewOp> ops;
    std::vector<std::uint64_t> offs;
};

// Applies ops[first, last) block by block over the qubits `high` (all >= L).
void apply_group(double* state, unsigned n, const GateOp* first, const GateOp* last, unsigned L,
                 std::uint64_t high, Scratch& scratch) {
    unsigned high_qubits[64], k = 0;
    unsigned view_of[64];
    for (unsigned q = 0; q < L; ++q) view_of[q] = q;
    for (unsigned q = L; q < n; ++q) {
        if ((high >> q) & 1) {
            view_of[q] = L + k;
            high_qubits[k++] = q;
        }
    }
    std::vector<std::uint64_t>& offs = scratch.offs;
    if (offs.size() < (std::size_t{1} << k)) offs.resize(std::size_t{1} << k);
    for (std::size_t c = 0; c < (std::size_t{1} << k); ++c) {
        std::uint64_t o = 0;
        for (unsigned m = 0; m < k; ++m) o |= ((c >> m) & 1) << high_qubits[m];
        offs[c] = o;
    }
    unsigned free_bits[64], f = 0;
    for (unsigned q = L; q < n; ++q) {
        if (!((high >> q) & 1)) free_bits[f++] = q;
    }
    ViewOp* ops = scratch.ops.data();
    std::size_t count = 0;
    for (const GateOp* g = first; g != last; ++g) ops[count++] = prepare(*g, view_of[g->a], view_of[g->b]);
    apply_blocks(state, ops, count, L, k, offs.data(), free_bits, f);
}

}  // namespace

void apply_circuit(double* state, unsigned n, const std::vector<GateOp>& ops, unsigned block_qubits) {
    if (ops.empty()) return;
    Scratch scratch{std::vector<ViewOp>(ops.size()), std::vector<std::uint64_t>(64)};
    if (block_qubits == 0 || n <= block_qubits) {
        // Every gate on the whole state, or the whole state is one block.
        if (block_qubits == 0) {
            for (const GateOp& g : ops) {
                poll_interrupt();
                apply_group(state, n, &g, &g + 1, n, 0, scratch);
            }
        } else {
            apply_group(state, n, ops.data(), ops.data() + ops.size(), n, 0, scratch);
        }
        return;
    }
    const unsigned chunk = std::min(kChunkQubits, block_qubits);
    const std::uint64_t low = (std::uint64_t{1} << chunk) - 1;
    std::size_t i = 0;
    while (i < ops.size()) {
        // Take gates while the qubits above the chunk fit in the block.
        std::uint64_t high = qubit_mask(ops[i]) & ~low;
        std::size_t j = i + 1;
        while (j < ops.size()) {
            std::uint64_t next = high | (qubit_mask(ops[j]) & ~low);
            if (chunk + static_cast<unsigned>(std::popcount(next)) > block_qubits) break;
            high = next;
            ++j;
        }
        // Widen the chunks as far as the block allows: the largest L with
        // L + |high qubits >= L| <= block_qubits.
        unsigned L = chunk;
        while (L < n) {
            std::uint64_t above = high & ~((std::uint64_t{2} << L) - 1);
            if (L + 1 + static_cast<unsigned>(std::popcount(above)) > block_qubits) break;
            ++L;
        }
        poll_interrupt();  // each group is one pass over the state
        apply_group(state, n, ops.data() + i, ops.data() + j, L, high & ~((std::uint64_t{1} << L) - 1), scratch);
        i = j;
    }
}

}  // namespace talvo::sim
