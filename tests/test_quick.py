"""The quick first stage: a few examples of every kernel's model comparison,
run before the rest of the suite (conftest.py puts this file first), so that a
fault in any kernel fails a test within seconds of the start. The full runs of
the same comparisons, with many more examples, follow in their own files."""
import math

from hypothesis import Phase, given, settings, strategies as st

import test_analog
import test_bisect
import test_build
import test_cutting
import test_ecc
import test_frame
import test_ising
import test_leaks
import test_packaging
import test_runs
import test_simd
import test_spectrum
import test_stackelberg
import test_statevector
import test_vrp


def quick(test, *strategies, examples=12):
    """A model comparison of another file on a few fixed examples, unshrunk."""
    @settings(max_examples=examples, derandomize=True, database=None, deadline=None, phases=[Phase.generate])
    @given(st.tuples(*strategies))
    def run(args):
        test.hypothesis.inner_test(*args)
    return run


# Exhaustive QUBO and Ising scans, and the key sort behind the spectrum.
test_spectrum_scan = quick(test_spectrum.test_matches_reference, test_spectrum.qubos(), examples=20)
test_ising_norm = quick(test_ising.test_norm_matches_model, test_ising.norm_inputs(), examples=20)
test_ising_solver = quick(test_ising.test_solver_matches_model, test_ising.solver_inputs(), examples=20)
test_spectrum_non_finite = quick(test_spectrum.test_non_finite_weights_match_reference,
                                 test_spectrum.qubos(max_vars=7, weights=test_spectrum.non_finite_weights))


def test_spectrum_wide_and_extreme_keys():
    test_spectrum.test_documented_examples()
    test_spectrum.test_vector_path_against_reference_at_twelve_variables()
    test_spectrum.test_key_saturates_at_two_to_the_sixty_three()
    test_spectrum.test_fourteen_variables_bucketed_sort([((2, 9), math.inf)])
    test_spectrum.test_one_far_weight_leaves_an_oversized_bucket([1.0 + k / 7 for k in range(13)])
    test_ising.test_norm_sums_linear_terms_first_in_every_lane()


def test_scans_on_this_instruction_set():
    test_simd.test_this_set_matches_the_models()
    test_simd.test_unknown_value_fails_at_import()  # every offered set can be chosen by name


# Gate-model simulation.
test_statevector_circuits = quick(test_statevector.test_random_circuits_match_model_bit_for_bit,
                                  test_statevector.circuit(max_n=7), examples=15)
test_statevector_faults = quick(test_statevector.test_bad_instructions_fail_like_model,
                                test_statevector.circuit(min_n=0, max_n=4, max_gates=8, bad=True))


def test_statevector_blocks_and_zeros():
    test_statevector.test_u_gates_on_upper_qubits_of_a_complex_state()
    test_statevector.test_u_gate_keeps_the_sign_of_an_exact_zero()
    test_statevector.test_negation_leaves_negative_zeros()
    n = 13
    spread = [("h", [q], []) for q in range(n)] + [("t", [q], []) for q in range(0, n, 2)]
    test_statevector.check(spread + [("cx", [12, 0], []), ("swap", [1, 12], []), ("cz", [11, 12], []),
                                     ("u", [12], [0.5, 1.5, 2.5]), ("rx", [3], [0.25])], n)
    test_statevector.test_qudit_simulator()


# Noisy runs on the pool.
test_runs_model = quick(test_runs.test_matches_model, test_runs.problems(), examples=20)


def test_runs_examples_and_errors():
    test_runs.test_documented_runs()
    test_runs.test_long_term_lists_give_every_run_its_energy()
    test_runs.test_faults_and_conversion_errors()


# The argument binding shared by every entry point.
def test_argument_binding():
    for case in test_frame.BINDING_ERRORS:
        test_frame.test_binding_and_conversion_errors(*case)
    test_stackelberg.test_conversion_errors()

# Surface codes, the lookup decoder, criticality and patch selection.
test_ecc_lookup = quick(test_ecc.test_lookup_matches_reference, test_ecc.supports_st)
test_ecc_failure = quick(test_ecc.test_failure_matches_reference, *test_ecc.FAILURE_ARGS)
test_ecc_criticality = quick(test_ecc.test_criticality_matches_reference, test_ecc.qubo_st, st.integers(0, 8))
test_ecc_select = quick(test_ecc.test_select_matches_reference, *test_ecc.SELECT_ARGS)


def test_ecc_patches_and_rates():
    for d in range(0, 6):
        test_ecc.test_patch_matches_reference(d)
    test_ecc.test_distance3_failure_counts_and_values()
    test_ecc.test_remap_circuit()
    test_ecc.test_decoder_error_order()
    test_ecc.test_select_cases_and_record()


# Scoring, front ends, cutting and the analog compilers.
test_stackelberg_solve = quick(test_stackelberg.test_solve_matches_model, *test_stackelberg.SOLVE_ARGS, examples=20)


def test_stackelberg_examples():
    test_stackelberg.test_scoring_examples()
    test_stackelberg.test_oscillation_penalty()
    test_stackelberg.test_repr_rounding()
test_vrp_terms = quick(test_vrp.test_matches_model, *test_vrp.MODEL_ARGS, examples=6)
test_bisect_ties = quick(test_bisect.test_ties_match_model, test_bisect.tie_graphs)
test_bisect_floats = quick(test_bisect.test_floats_and_faults_match_model, test_bisect.float_graphs)
test_cutting_model = quick(test_cutting.test_matches_model, test_cutting.cases(), examples=15)


def test_cutting_labels():
    test_cutting.test_documented_reconstructions()
    test_cutting.test_empty_and_many_labels()


test_analog_encoding = quick(test_analog.test_encoding_matches_model, *test_analog.ENCODING_ARGS)
test_analog_coupling = quick(test_analog.test_coupling_correction_matches_model, *test_analog.COUPLING_ARGS)
test_analog_detuning = quick(test_analog.test_detuning_correction_matches_model, *test_analog.DETUNING_ARGS)
test_analog_rabi = quick(test_analog.test_rabi_correction_matches_model, test_analog.floats, test_analog.floats)


def test_analog_examples():
    test_analog.test_grid_placement()
    test_analog.test_rydberg_controls()
    test_analog.test_correction_examples()


# The module object and the build: one module per process however it is
# initialised, the leak check's measure, the release targets and runners.
def test_one_module_object():
    test_frame.test_second_initialisation_returns_the_same_module()
    test_build.test_init_function_called_again_returns_the_one_module()


def test_leak_measure():
    test_leaks.test_allocated_blocks_measure_flags_a_kept_object_per_call()


def test_release_workflow_targets_and_runners():
    test_packaging.test_workflow_builds_and_tests_every_cibuildwheel_target()
    test_packaging.test_workflow_asks_for_no_retired_runner()
