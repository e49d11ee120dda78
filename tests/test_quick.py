"""The quick first stage: a few examples of every kernel's model comparison,
run before the rest of the suite (conftest.py puts this file first), so that a
fault in any kernel fails a test within seconds of the start. The full runs of
the same comparisons, with many more examples, follow in their own files."""
import math
import os
import shutil
import tempfile
import unicodedata
from pathlib import Path

import pytest
from hypothesis import Phase, given, settings, strategies as st

import test_analog
import test_bisect
import test_build
import test_conventions
import test_cutting
import test_ecc
import test_example
import test_frame
import test_ising
import test_leaks
import test_packaging
import test_pages
import test_pickle
import test_runs
import test_simd
import test_small_calls
import test_spectrum
import test_stackelberg
import test_statevector
import test_threads
import test_vrp


def quick(test, *strategies, examples=12):
    """A model comparison of another file on a few fixed examples, unshrunk."""
    @settings(max_examples=examples, derandomize=True, database=None, deadline=None, phases=[Phase.generate])
    @given(st.tuples(*strategies))
    def run(args):
        test.hypothesis.inner_test(*args)
    return run


# First, what every entry shares (cheap, and the boundary and the pool are
# under every kernel): sizes 0 and 1, ordered sums, several faults in one
# input, conversion hooks, lying lengths, the collector, the fault report, the
# argument-count messages; and the pool's threads in a fresh interpreter.
def test_conventions_of_every_entry(capfd):
    test_conventions.test_sizes_zero_and_one_keep_their_signs()
    test_conventions.test_sums_follow_the_stated_order()
    test_conventions.test_first_of_several_faults_is_reported()
    test_conventions.test_hooks_raising_subclasses_come_through_unchanged()
    for claim in (0, 5, 10**10):
        test_conventions.test_lengths_that_lie(claim)
    test_conventions.test_collector_flag_is_restored()
    test_conventions.test_fault_report_on_standard_error(capfd)
    test_conventions.test_argument_count_messages()


@pytest.mark.native_only
@pytest.mark.counts_threads
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_pool_threads(tmp_path):
    test_conventions.test_pool_starts_only_for_real_work()
    if test_runs.can_lay_quota_files():
        for cpus in (0.5, 1.5):
            test_runs.test_cpu_quota_limits_the_workers(tmp_path, cpus)


def test_own_size_violation_version_and_install():
    # The module's own SizeViolation and its note, the version, the objects a
    # pip build keeps, and the pages' code width and headline figures.
    for case in test_frame.FALLBACK_CASES:
        test_frame.test_size_limits_without_the_calling_package(*case)
    test_frame.test_size_error_without_the_calling_package_prints_one_readable_report()
    test_packaging.test_module_version_is_the_project_version_outside_all()
    test_pages.test_width_check_sees_code_and_only_code()
    test_pages.test_headline_formats()
    for rel in sorted(test_pages.headline.PAGES):
        test_pages.test_pages_quote_the_headline_record(rel)
    if shutil.which("cmake"):
        with tempfile.TemporaryDirectory() as tmp:
            test_packaging.test_pip_builds_keep_their_objects_across_build_environments(Path(tmp))


# Pickled records: every class's round trip and state layout, and tampered states.
def test_pickling():
    for make in test_pickle.EDGE_CASES:
        test_pickle.test_edge_cases_round_trip(make)
    for case in test_pickle.TAMPERED:
        test_pickle.test_tampered_state_is_an_ordinary_error(*case)
    test_pickle.test_fields_that_are_no_attributes_travel()
    test_pickle.test_classes_gain_no_other_member()
    for data, name, fields in test_pickle.WRITTEN:
        test_pickle.test_written_pickles_load(data, name, fields)


def test_sweep_example_functions():
    test_example.test_sweep_threshold_serially(test_example.load(test_example.SWEEP, "sweep_example"))


# Small inputs' own paths: the state from the heap, pool jobs on the caller.
def test_small_and_large_paths():
    test_small_calls.test_statevector_result_shares_only_positive_zeros()
    test_small_calls.test_coupling_result_shares_only_equal_site_ints()
    test_small_calls.test_statevector_both_sides_of_the_crossover(test_small_calls.MAPPED_QUBITS)
    test_small_calls.test_runs_both_sides_of_the_threshold(test_small_calls.INLINE_STEPS // 8)
    test_small_calls.test_one_run_of_many_terms_runs_on_the_caller()
    test_small_calls.test_reconstruction_terms_both_sides_of_the_threshold(test_small_calls.INLINE_STEPS)
    test_small_calls.test_reconstruction_records_both_sides_of_the_threshold(test_small_calls.INLINE_STEPS // 8)
    for entry in ("statevector", "runs", "reconstruct"):
        test_small_calls.test_collector_state_is_kept_on_both_paths(entry)


@pytest.mark.native_only  # counts threads
@pytest.mark.counts_threads
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_small_jobs_start_no_threads():
    for at_threshold in ("runs", "terms", "records"):
        test_small_calls.test_small_jobs_start_no_worker_threads(at_threshold)


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
    test_ising.test_norm_errors()
    test_spectrum.test_twenty_variables_end_to_end()
    test_simd.test_this_set_matches_the_models_on_larger_cases()


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
    test_statevector.test_phase_gates_keep_signed_zeros_beyond_a_block()
    for case in test_statevector.INDEX_FAULTS:
        test_statevector.test_index_faults(*case)


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
    test_frame.test_three_or_more_missing_arguments_take_a_serial_comma()
    test_frame.test_type_error_prefix_keeps_the_cause()
    test_stackelberg.test_conversion_errors()
    test_ising.test_reentrant_conversion_meets_borrow_flags()

# Calls at once: borrows refused only on their own thread, the collector left
# as found and paused while a result is built, the GIL kept for the whole call,
# the module's error classes made once.
def test_threads_borrows_collector_and_gil():
    test_ising.test_reentrant_conversion_meets_borrow_flags()
    test_threads.test_a_setter_on_another_thread_is_no_conflict()
    test_threads.test_reentrant_record_conversion_is_refused()
    test_threads.test_overlapping_calls_leave_the_collector_as_they_found_it()
    test_threads.test_run_statevector_builds_its_result_without_a_collection()
    if not test_threads.FREE_THREADED:
        test_threads.test_no_call_releases_the_gil()
    test_frame.test_size_violation_fetched_lazily_and_kept()
    test_threads.test_first_errors_from_many_threads_share_one_class()


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
    # A register wide enough for the table to be built from two halves.
    test_ecc.test_wider_patterns_match_reference.hypothesis.inner_test((12, [[k, k + 1] for k in range(11)], [0, 5]), 0.1)
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
    test_cutting.test_errors_in_order()
    test_cutting.test_record_conventions()
    if unicodedata.unidata_version == "14.0.0":  # the version of the module's table
        test_cutting.test_quoted_form_escapes_exactly_the_unprintable_characters()


test_cutting_records = quick(test_cutting.test_records_and_reprs, *test_cutting.RECORD_ARGS)


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
    test_leaks.test_entries_keep_no_object()


def test_release_workflow_targets_and_runners():
    test_packaging.test_workflow_builds_and_tests_every_cibuildwheel_target()
    test_packaging.test_workflow_asks_for_no_retired_runner()
