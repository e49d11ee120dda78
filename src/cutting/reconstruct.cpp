#include "cutting/reconstruct.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "errors.h"
#include "format.h"
#include "pool.h"

namespace talvo::cutting {

std::string repr(const SampleCoefficient& c) {
    return "SampleCoefficient(sample_index=" + std::to_string(c.sample_index) +
           ", coefficient=" + format_float(c.coefficient) + ")";
}

std::string repr(const SubcircuitSampleCounts& c) {
    return "SubcircuitSampleCounts(sample_index=" + std::to_string(c->sample_index) +
           ", subcircuit_label=" + quote(c->subcircuit_label) + ", shots=" + std::to_string(c->shots) + ")";
}

namespace {

std::string describe(std::uint64_t sample, std::string_view label) {
    return "for sample " + std::to_string(sample) + " / subcircuit " + quote(label);
}

// Whether bitstring k of `h` holds an odd number of '1' characters. In UTF-8
// the byte of '1' never occurs inside another character, so counting bytes
// counts characters. Eight bytes at a time (the padding after the text keeps
// every read in bounds): bytes equal to '1' become zero, each zero byte among
// the first `len` is marked by a 1 in its lowest byte bit, the marks of all
// words are combined byte-wise by exclusive or, and the bytes are summed.
bool odd_ones(const Histogram& h, std::size_t k) {
    static_assert(Histogram::kPadding >= 8, "each read takes 8 bytes");
    constexpr std::uint64_t kOnes = 0x3131313131313131ULL, kLow = 0x7f7f7f7f7f7f7f7fULL;
    const char* p = h.text().data() + h.begin(k);
    std::size_t len = h.end(k) - h.begin(k);
    std::uint64_t marks = 0;
    for (;;) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        w ^= kOnes;
        std::uint64_t zero = (~(((w & kLow) + kLow) | w | kLow)) >> 7;  // 1 in each zero byte
        if (len <= 8) {
            if (len < 8) zero &= (std::uint64_t{1} << (8 * len)) - 1;  // little-endian: first bytes are low
            marks ^= zero;
            break;
        }
        marks ^= zero;
        p += 8;
        len -= 8;
    }
    // The bytes of `marks` are 0 or 1: their sum is in the top byte.
    return ((marks * 0x0101010101010101ULL) >> 56) & 1u;
}

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// (sample index, label number) -> record position. Sample indices usually
// fill a range 0..N-1: then the table is a plain array over (sample - lowest)
// x label. Otherwise it is hashed, with open addressing and linear probing.
class RecordTable {
public:
    static constexpr std::uint32_t npos = std::numeric_limits<std::uint32_t>::max();

    RecordTable(std::size_t n, std::uint64_t lowest, std::uint64_t highest, std::uint32_t n_labels)
        : lowest_(lowest), n_labels_(n_labels) {
        std::uint64_t span = highest - lowest;  // records exist, so highest >= lowest
        if (n > 0 && span < 4 * n && (span + 1) * n_labels <= 4 * n + 64) {
            dense_.assign(static_cast<std::size_t>(span + 1) * n_labels, npos);
            span_ = span;
            return;
        }
        std::size_t cap = 16;
        while (cap < 2 * n) cap *= 2;
        slots_.assign(cap, Slot{0, kEmpty, 0});
        mask_ = cap - 1;
    }

    // Inserts the key unless present; returns false when it was.
    bool insert(std::uint64_t sample, std::uint32_t label, std::uint32_t record) {
        if (!dense_.empty()) {
            std::uint32_t& at = dense_[static_cast<std::size_t>(sample - lowest_) * n_labels_ + label];
            if (at != npos) return false;
            at = record;
            return true;
        }
        for (std::size_t at = hash(sample, label);; at = (at + 1) & mask_) {
            Slot& s = slots_[at];
            if (s.label == kEmpty) {
                s = {sample, label, record};
                return true;
            }
            if (s.sample == sample && s.label == label) return false;
        }
    }

    // The record of the key, or npos.
    std::uint32_t find(std::uint64_t sample, std::uint32_t label) const {
        if (!dense_.empty()) {
            if (sample < lowest_ || sample - lowest_ > span_ || label >= n_labels_) return npos;
            return dense_[static_cast<std::size_t>(sample - lowest_) * n_labels_ + label];
        }
        for (std::size_t at = hash(sample, label);; at = (at + 1) & mask_) {
            const Slot& s = slots_[at];
            if (s.label == kEmpty) return npos;
            if (s.sample == sample && s.label == label) return s.record;
        }
    }

private:
    static constexpr std::uint32_t kEmpty = npos;
    struct Slot {
        std::uint64_t sample;
        std::uint32_t label;
        std::uint32_t record;
    };
    // Runs of 8 consecutive sample indices of one label land in 8 adjacent
    // slots at a scattered place, so a walk over consecutive samples reads
    // the table in order.
    std::size_t hash(std::uint64_t sample, std::uint32_t label) const {
        std::uint64_t block = mix((sample >> 3) ^ (std::uint64_t{label} * 0x9e3779b97f4a7c15ULL));
        return static_cast<std::size_t>((block << 3) | (sample & 7)) & mask_;
    }

    std::uint64_t lowest_;
    std::uint64_t span_ = 0;
    std::uint32_t n_labels_;
    std::vector<std::uint32_t> dense_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

std::string zero_shots_message(const SampleCounts& c) {
    return "SubcircuitSampleCounts " + describe(c.sample_index, c.subcircuit_label) + " has shots == 0";
}

// What a record is to the terms.
enum : std::uint8_t { kUnused = 0, kUsed = 1, kZeroShots = 2 };

// The parity-signed histogram sum, counts added in histogram order from 0.0.
double signed_sum(const Histogram& h) {
    double sum = 0.0;
    for (std::size_t k = 0; k < h.size(); ++k) {
        // Negation flips the sign bit; done without a branch, as parities
        // are as good as random.
        std::uint64_t n = std::bit_cast<std::uint64_t>(static_cast<double>(h.count(k)));
        sum += std::bit_cast<double>(n ^ (std::uint64_t{odd_ones(h, k)} << 63));
    }
    return sum;
}

}  // namespace

double reconstruct_expectation(const std::vector<SubcircuitSampleCounts>& counts,
                               const std::vector<SampleCoefficient>& coefficients,
                               const std::vector<std::string>& subcircuit_labels) {
    if (subcircuit_labels.empty()) throw InvalidInput("subcircuit_labels must not be empty");

    // Number the distinct labels: those asked for first, then the others.
    std::unordered_map<std::string_view, std::uint32_t> label_ids;
    label_ids.reserve(subcircuit_labels.size() + 16);
    std::string_view last_label;
    std::uint32_t last_id = 0;
    auto label_id = [&](std::string_view s) {
        if (!label_ids.empty() && s == last_label) return last_id;  // records often come label by label
        last_label = s;
        last_id = label_ids.try_emplace(s, static_cast<std::uint32_t>(label_ids.size())).first->second;
        return last_id;
    };
    std::vector<std::uint32_t> wanted(subcircuit_labels.size());
    for (std::size_t l = 0; l < subcircuit_labels.size(); ++l) wanted[l] = label_id(subcircuit_labels[l]);

    // Every record goes into the table, also those no coefficient uses, so
    // that any repeated (sample, label) is reported.
    if (counts.size() >= RecordTable::npos) throw std::bad_alloc();
    std::vector<std::uint32_t> record_label(counts.size());
    std::uint64_t lowest = std::numeric_limits<std::uint64_t>::max(), highest = 0;
    for (std::size_t r = 0; r < counts.size(); ++r) {
        const SampleCounts& c = *counts[r];
        record_label[r] = label_id(c.subcircuit_label);
        lowest = std::min(lowest, c.sample_index);
        highest = std::max(highest, c.sample_index);
    }
    RecordTable table(counts.size(), lowest, highest, static_cast<std::uint32_t>(label_ids.size()));
    for (std::size_t r = 0; r < counts.size(); ++r) {
        const SampleCounts& c = *counts[r];
        if (!table.insert(c.sample_index, record_label[r], static_cast<std::uint32_t>(r))) {
            throw InvalidInput("duplicate SubcircuitSampleCounts " + describe(c.sample_index, c.subcircuit_label));
        }
    }

    // Presence of every (sample, label) pair, coefficient-major; the records
    // found are kept for the terms.
    const std::size_t n_labels = subcircuit_labels.size();
    if (coefficients.size() > std::numeric_limits<std::ptrdiff_t>::max() / sizeof(std::uint32_t) / n_labels) {
        throw std::bad_alloc();  // GCOVR_EXCL_LINE: needs lists of more than 2^61 / labels objects
    }
    // Coefficients times labels can be far more than either list: refuse up
    // front what the machine cannot hold, and poll for Ctrl-C every million
    // or so lookups.
    check_allocation(coefficients.size() * n_labels, sizeof(std::uint32_t));
    std::vector<std::uint32_t> used(coefficients.size() * n_labels);
    std::vector<std::uint8_t> needed(counts.size(), kUnused);
    std::size_t lookups = 0;
    for (std::size_t s = 0; s < coefficients.size(); ++s) {
        lookups += n_labels;
        if (lookups >= (std::size_t{1} << 20)) {
            lookups = 0;
            poll_interrupt();
        }
        for (std::size_t l = 0; l < n_labels; ++l) {
            std::uint32_t r = table.find(coefficients[s].sample_index, wanted[l]);
            if (r == RecordTable::npos) {
                throw InvalidInput("missing SubcircuitSampleCounts " +
                                   describe(coefficients[s].sample_index, subcircuit_labels[l]));
            }
            used[s * n_labels + l] = r;
            needed[r] = kUsed;
        }
    }

    // On the pool (or the calling thread, for little work: the step counts
    // are records plus their bitstrings, and labels per term): first the
    // expectation of every record in use, walking the records in list order
    // (the order they sit in memory), then one term per coefficient from
    // those. A record's expectation is the same whichever
    // term reads it. A zero-shot record fails the term that meets it; the
    // pool reports the lowest failing term, so the error named is that of the
    // first such sample in coefficient order and, within it, of the first
    // such label in list order.
    std::size_t entries = 0;  // histogram entries to sum
    for (std::size_t r = 0; r < counts.size(); ++r) {
        if (needed[r] != kUnused) entries += counts[r]->counts.size();
    }
    std::vector<double> expectation(counts.size());
    pool::for_each(counts.size(), counts.size() + entries, [&](std::size_t r) {
        if (needed[r] == kUnused) return;
        const SampleCounts& c = *counts[r];
        if (c.shots == 0) {
            needed[r] = kZeroShots;
        } else {
            expectation[r] = signed_sum(c.counts) / static_cast<double>(c.shots);
        }
    });
    // The terms go to the pool in batches of about four million label steps
    // (usually one batch), with a poll for Ctrl-C before each. Batches run in
    // coefficient order and a failing batch ends the call, so the failure
    // reported is still the first in coefficient order.
    std::vector<double> terms(coefficients.size());
    const std::size_t batch = std::max<std::size_t>(1, (std::size_t{1} << 22) / n_labels);
    for (std::size_t first = 0; first < coefficients.size(); first += batch) {
        poll_interrupt();
        const std::size_t count = std::min(batch, coefficients.size() - first);
        pool::for_each(count, count * n_labels, [&](std::size_t k) {
            const std::size_t s = first + k;
            double product = 1.0;
            for (std::size_t l = 0; l < n_labels; ++l) {
                std::uint32_t r = used[s * n_labels + l];
                if (needed[r] == kZeroShots) throw InvalidInput(zero_shots_message(*counts[r]));
                product = product * expectation[r];
            }
            terms[s] = coefficients[s].coefficient * product;
        });
    }
    // The sum in coefficient order.
    double sum = -0.0;
    for (double t : terms) sum += t;
    return sum;
}

}  // namespace talvo::cutting
