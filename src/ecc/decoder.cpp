#include "ecc/decoder.h"

#include <algorithm>
#include <bit>
#include <string>

#include "errors.h"

namespace talvo::ecc {

std::vector<Mask> stabilizer_masks(std::uint64_t n_data, const std::vector<QubitList>& supports) {
    if (n_data > kMaxDecoderQubits) throw SizeLimit("SizeViolation: lookup decoding requires n_data <= 26");
    if (supports.size() > kMaxDecoderStabilizers)
        throw SizeLimit("SizeViolation: lookup decoding requires at most 32 Z-stabilizers");
    std::vector<Mask> masks;
    masks.reserve(supports.size());
    for (const QubitList& support : supports) {
        Mask m = 0;
        for (std::uint64_t q : support) {
            if (q >= n_data)
                throw InvalidInput("stabilizer references data qubit " + std::to_string(q) + " but n_data is " +
                                   std::to_string(n_data));
            m |= Mask{1} << q;
        }
        masks.push_back(m);
    }
    return masks;
}

namespace {

// Slot keys: (weight << kWeightShift) | counter. Counters stay below 2^26 and
// weights at or below 26, so a smaller key is a lighter pattern or, at equal
// weight, one met earlier; an empty slot holds the largest key.
constexpr unsigned kWeightShift = 27;
constexpr std::uint32_t kCounterBits = (std::uint32_t{1} << kWeightShift) - 1;
constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

// The inner loops run over the low kSplit bits of a pattern with a table of
// that many entries (small enough to stay in the first-level cache), the outer
// loops over the remaining high bits.
constexpr unsigned kSplit = 11;

Mask reverse_bits(Mask x, unsigned n) {
    Mask r = 0;
    for (unsigned i = 0; i < n; ++i) r |= ((x >> i) & 1) << (n - 1 - i);
    return r;
}

unsigned parity(std::uint64_t x) { return static_cast<unsigned>(__builtin_parityll(x)); }

// The XOR of bit_coord[t] over the set bits t of every value below 2^bits,
// and its number of set bits.
struct HalfTable {
    std::vector<std::uint32_t> coord, weight;

    HalfTable(const std::uint32_t* bit_coord, unsigned bits)
        : coord(std::size_t{1} << bits, 0), weight(std::size_t{1} << bits, 0) {
        for (std::size_t x = 1; x < coord.size(); ++x) {
            coord[x] = coord[x & (x - 1)] ^ bit_coord[std::countr_zero(x)];
            weight[x] = weight[x >> 1] + static_cast<std::uint32_t>(x & 1);
        }
    }
};

// The tables of an n-bit pattern split into its low kSplit bits (or all n
// when fewer) and the remaining high bits; bit t of the pattern has the
// coordinates bit_coord[t].
struct SplitTables {
    unsigned lo_bits, hi_bits;
    HalfTable lo, hi;

    SplitTables(const std::uint32_t* bit_coord, unsigned n)
        : lo_bits(std::min(n, kSplit)), hi_bits(n - lo_bits), lo(bit_coord, lo_bits), hi(bit_coord + lo_bits, hi_bits) {}
};

}  // namespace

DecoderTable::DecoderTable(unsigned n, const std::vector<Mask>& masks) : n_(n), coord_(n, 0) {
    // Syndrome of each single-qubit error: bit j set when stabilizer j holds it.
    std::vector<std::uint64_t> column(n, 0);
    for (std::size_t j = 0; j < masks.size(); ++j)
        for (unsigned i = 0; i < n; ++i)
            if ((masks[j] >> i) & 1) column[i] |= std::uint64_t{1} << j;

    // Echelon basis of the span of the columns, one vector per leading bit.
    std::uint64_t by_lead[64] = {};
    for (unsigned i = 0; i < n; ++i) {
        std::uint64_t v = column[i];
        while (v) {
            unsigned lead = 63 - static_cast<unsigned>(std::countl_zero(v));
            if (!by_lead[lead]) {
                by_lead[lead] = v;
                break;
            }
            v ^= by_lead[lead];
        }
    }
    // Reduce: clear every other vector's bit at each leading position, lowest
    // first, so the coordinates of a syndrome are its bits at the leading
    // positions.
    std::vector<unsigned> leads;
    for (unsigned b = 0; b < 64; ++b) {
        if (!by_lead[b]) continue;
        for (unsigned lower : leads)
            if ((by_lead[b] >> lower) & 1) by_lead[b] ^= by_lead[lower];
        leads.push_back(b);
    }
    for (unsigned b : leads) basis_.push_back(by_lead[b]);
    for (unsigned i = 0; i < n; ++i) {
        std::uint32_t c = 0;
        for (std::size_t k = 0; k < leads.size(); ++k) c |= static_cast<std::uint32_t>((column[i] >> leads[k]) & 1) << k;
        coord_[i] = c;
    }

    slots_.assign(std::size_t{1} << leads.size(), kEmpty);

    // Counter bit t stands for data qubit n-1-t.
    std::vector<std::uint32_t> counter_coord(n);
    for (unsigned t = 0; t < n; ++t) counter_coord[t] = coord_[n - 1 - t];
    const SplitTables split(counter_coord.data(), n);
    const unsigned lo_bits = split.lo_bits;

    struct Entry {
        std::uint32_t coord, key;
    };
    const std::size_t lo_size = split.lo.coord.size(), hi_size = split.hi.coord.size();
    std::vector<Entry> lo(lo_size);
    for (std::size_t x = 0; x < lo_size; ++x)
        lo[x] = {split.lo.coord[x], (split.lo.weight[x] << kWeightShift) | static_cast<std::uint32_t>(x)};

    std::uint32_t* slots = slots_.data();
    const Entry* lo_end = lo.data() + lo_size;
    for (std::size_t hi = 0; hi < hi_size; ++hi) {
        if ((hi & 63) == 0) poll_interrupt();
        const std::uint32_t base_coord = split.hi.coord[hi];
        const std::uint32_t base_key = (split.hi.weight[hi] << kWeightShift) | static_cast<std::uint32_t>(hi << lo_bits);
        for (const Entry* e = lo.data(); e != lo_end; ++e) {
            std::uint32_t& slot = slots[base_coord ^ e->coord];
            const std::uint32_t key = base_key + e->key;
            slot = key < slot ? key : slot;
        }
    }
}

Mask DecoderTable::counter_to_pattern(std::uint32_t counter) const { return reverse_bits(counter, n_); }

std::uint64_t DecoderTable::syndrome(std::size_t k) const {
    std::uint64_t s = 0;
    for (std::size_t b = 0; b < basis_.size(); ++b)
        if ((k >> b) & 1) s ^= basis_[b];
    return s;
}

Mask DecoderTable::pattern(std::size_t k) const { return counter_to_pattern(slots_[k] & kCounterBits); }

double DecoderTable::failure_sum(Mask logical, const std::vector<double>& weight_prob) && {
    const unsigned n = n_;
    // Each slot becomes the parity of its correction's overlap with the
    // logical support (the counter is the pattern bit-reversed, so the
    // logical mask is reversed the same way).
    const Mask logical_counter = reverse_bits(logical, n);
    for (std::uint32_t& slot : slots_) slot = parity((slot & kCounterBits) & logical_counter);

    // addend[2w + f]: what a pattern of weight w adds, f telling whether it
    // fails. Adding +0.0 leaves every running sum unchanged (the sum starts at
    // +0.0 and so is never -0.0), so every pattern may add its entry and the
    // additions of the failing patterns happen in the same order.
    std::vector<double> addend(2 * (static_cast<std::size_t>(n) + 1), 0.0);
    for (unsigned w = 0; w <= n; ++w) addend[2 * w + 1] = weight_prob[w];

    // Here bit i of the pattern is data qubit i. Split tables carry the
    // coordinates with the parity of the overlap with the logical support in
    // bit 31 (coordinates have at most 26 bits).
    const SplitTables split(coord_.data(), n);
    const unsigned lo_bits = split.lo_bits;
    struct Entry {
        std::uint32_t value, weight;
    };
    const std::size_t lo_size = split.lo.coord.size(), hi_size = split.hi.coord.size();
    std::vector<Entry> lo(lo_size);
    for (std::size_t x = 0; x < lo_size; ++x)
        lo[x] = {split.lo.coord[x] | (parity(x & logical) << 31), split.lo.weight[x]};

    const std::uint32_t* fails = slots_.data();
    const double* add = addend.data();
    const Entry* lo_end = lo.data() + lo_size;
    double sum = 0.0;
    for (std::size_t hi = 0; hi < hi_size; ++hi) {
        if ((hi & 63) == 0) poll_interrupt();
        const std::uint32_t base = split.hi.coord[hi] | (parity((hi << lo_bits) & logical) << 31);
        const std::uint32_t base_weight = split.hi.weight[hi];
        for (const Entry* e = lo.data(); e != lo_end; ++e) {
            const std::uint32_t v = base ^ e->value;
            const std::uint32_t fail = (v >> 31) ^ fails[v & 0x7FFFFFFFu];
            sum += add[((base_weight + e->weight) << 1) | fail];
        }
    }
    return sum;
}

double powi(double x, std::uint64_t e) {
    double r = 1.0;
    for (;;) {
        if (e & 1) r = r * x;
        e /= 2;
        if (e == 0) break;
        x = x * x;
    }
    return r;
}

double logical_failure_probability(std::uint64_t n_data, const std::vector<QubitList>& z_stabilizers,
                                   const QubitList& logical_z, double p) {
    std::vector<Mask> masks = stabilizer_masks(n_data, z_stabilizers);
    const unsigned n = static_cast<unsigned>(n_data);
    DecoderTable table(n, masks);

    Mask logical = 0;
    for (std::uint64_t q : logical_z) {
        if (q >= n_data)
            throw InvalidInput("logical_z references data qubit " + std::to_string(q) + " but n_data is " +
                               std::to_string(n_data));
        logical |= Mask{1} << q;
    }

    const double q = 1.0 - p;
    std::vector<double> weight_prob(n + 1);
    for (unsigned k = 0; k <= n; ++k) weight_prob[k] = powi(p, k) * powi(q, n - k);

    return std::move(table).failure_sum(logical, weight_prob);
}

}  // namespace talvo::ecc
