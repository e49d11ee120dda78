// Python bindings of the lookup decoder and the logical failure probability.
#include "ecc/decoder.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::Ref;
using py::to_py;

py::Member& member_build_ecc_lookup_table() {
    static py::Function f(
        "build_ecc_lookup_table",
        "Build the minimum-weight syndrome-to-correction lookup table of a surface code\n"
        "patch by exhaustive enumeration over all `2^n_data` X-error patterns.\n\n"
        "Mirrors the table construction of `talvo.ecc.decoder.LookupDecoder`: the\n"
        "enumeration order, and therefore the tie-breaking between corrections of equal\n"
        "weight, match that Python code exactly.\n\n"
        "# Arguments\n"
        "* `n_data` - number of data qubits, at most 26.\n"
        "* `z_stabilizers` - Z-stabilizer supports, each a list of data-qubit indices.\n\n"
        "# Returns\n"
        "A list of `(syndrome_bits, error_bits)` pairs in increasing syndrome order, one for\n"
        "every realizable syndrome: `syndrome_bits[j]` is the parity of stabilizer j and\n"
        "`error_bits[i]` is 1 when data qubit i is in the chosen correction.\n\n"
        "# Errors\n"
        "`SizeViolation` when `n_data > 26` or there are more than 32 stabilizers.",
        [](Arg<std::uint64_t, "n_data"> n_data,
           Arg<std::vector<ecc::QubitList>, "z_stabilizers"> stabilizers) -> PyObject* {
            std::vector<ecc::Mask> masks = ecc::stabilizer_masks(n_data.value, stabilizers.value);
            const unsigned n = static_cast<unsigned>(n_data.value);
            const std::size_t m = masks.size();
            ecc::DecoderTable table(n, masks);

            // Each row becomes a tuple of two lists of small ints.
            check_allocation(table.size(), py::estimate::small_int_list_pair_in_list(m, n));
            Ref rows = py::own(PyList_New(static_cast<Py_ssize_t>(table.size())));
            std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> row{
                std::vector<std::uint8_t>(m), std::vector<std::uint8_t>(n)};
            for (std::size_t k = 0; k < table.size(); ++k) {
                if ((k & 0xFFFF) == 0) poll_interrupt();
                const std::uint64_t s = table.syndrome(k);
                const ecc::Mask e = table.pattern(k);
                for (std::size_t j = 0; j < m; ++j) row.first[j] = static_cast<std::uint8_t>((s >> j) & 1);
                for (unsigned i = 0; i < n; ++i) row.second[i] = static_cast<std::uint8_t>((e >> i) & 1);
                PyList_SetItem(rows.get(), static_cast<Py_ssize_t>(k), to_py(row));
            }
            return rows.release();
        });
    return f;
}

py::Member& member_logical_failure_probability() {
    static py::Function f(
        "logical_failure_probability",
        "Exact logical X-error rate of a surface code patch under independent per-qubit\n"
        "bit-flip noise, decoded with the minimum-weight lookup decoder.\n\n"
        "Brute force over all `2^n_data` error patterns: each pattern is weighted by its\n"
        "exact binomial probability `p^w (1-p)^(n_data-w)` and counts as a failure when\n"
        "`error XOR correction` overlaps `logical_z` on an odd number of qubits. Mirrors\n"
        "the enumeration loop of `talvo.ecc.certificate.certify_logical_qubit`.\n\n"
        "# Arguments\n"
        "* `n_data` - number of data qubits, at most 26.\n"
        "* `z_stabilizers` - Z-stabilizer supports, each a list of data-qubit indices.\n"
        "* `logical_z` - support of the logical Z operator.\n"
        "* `physical_error_rate` - flip probability of each data qubit.\n\n"
        "# Errors\n"
        "`SizeViolation` when `n_data > 26` or there are more than 32 stabilizers.",
        [](Arg<std::uint64_t, "n_data"> n_data, Arg<std::vector<ecc::QubitList>, "z_stabilizers"> stabilizers,
           Arg<ecc::QubitList, "logical_z"> logical_z, Arg<double, "physical_error_rate"> p) -> PyObject* {
            return to_py(ecc::logical_failure_probability(n_data.value, stabilizers.value, logical_z.value, p.value));
        });
    return f;
}

}  // namespace talvo::bind
