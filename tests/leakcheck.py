"""Memory and reference-count checks: every entry called many times on good
and on bad input keeps the process's memory flat and leaves the reference
counts of its arguments as they were.

As a script: python tests/leakcheck.py [--blocks] [calls per entry]  (default 10000).
With --blocks the measure is the interpreter's count of allocated memory
blocks (sys.getallocatedblocks), exact on a debug build where resident memory
is too coarse: a call that keeps even one object shows as a growth of at least
one block per call. (A debug build's total reference count is no measure for
this module: built for the stable ABI, it changes reference counts inline,
without updating that total.)"""
import contextlib
import gc
import resource
import sys

import fuzzing


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


def bad_variant(args):
    """The valid arguments with the first one replaced by a wrong type."""
    return (object(),) + tuple(args[1:]) if args else (1,)


def entries():
    for label, get, args, inst_spec in fuzzing.targets():
        if inst_spec is None:
            yield label, (lambda g=get: g()), args
        else:
            make, method = inst_spec
            yield label, (lambda m=make, me=method: getattr(m(), me)), args


def refcounts(objs):
    # Small ints, floats and strings are shared interpreter-wide, so their
    # counts move with unrelated code; the containers and records passed in
    # are the caller's own objects.
    return [sys.getrefcount(o) for o in objs if not isinstance(o, (int, float, str, type(None)))]


@contextlib.contextmanager
def frozen_heap():
    """Every object alive now left out of the collector's passes until the
    end: each check collects several times, and in a long test session a full
    pass over everything the earlier tests keep costs a tenth of a second."""
    gc.collect()
    gc.freeze()
    try:
        yield
    finally:
        gc.unfreeze()


def check_entry(label, get_fn, args, calls, measure="rss"):
    fn = get_fn()
    good = args()
    bad = bad_variant(good)

    def once(a):
        try:
            fn(*a)
        except BaseException as e:  # noqa: B036 - PanicException is a BaseException
            if isinstance(e, (KeyboardInterrupt, SystemError)):
                raise

    for _ in range(200):  # warm up caches, free lists and the pool
        once(good)
        once(bad)
    size = sys.getallocatedblocks if measure == "blocks" else rss_kib
    gc.collect()
    before_refs = refcounts(good) + refcounts(bad)
    # The interpreter's own caches (specialised code among them) may still
    # take a few hundred blocks once, after the warm-up: counted in blocks, a
    # leak is growth in each of two rounds, so the smaller round is the measure.
    growth = None
    for _ in range(2 if measure == "blocks" else 1):
        gc.collect()
        before = size()
        for _ in range(calls):
            once(good)
            once(bad)
        gc.collect()
        grown = size() - before
        growth = grown if growth is None else min(growth, grown)
    after_refs = refcounts(good) + refcounts(bad)
    return growth, before_refs == after_refs


def blocks_leaked(blocks, calls):
    """Whether a growth of `blocks` allocated blocks over `calls` good and as
    many bad calls is a leak: the interpreter's own caches settle within a few
    dozen blocks, a kept object costs at least one block per call."""
    return blocks >= max(calls // 2, 64)


def main(calls, measure="rss"):
    worst = 0
    failures = []
    with frozen_heap():
        for label, get_fn, args in entries():
            growth, refs_ok = check_entry(label, get_fn, args, calls, measure)
            worst = max(worst, growth)
            if measure == "blocks":
                leaked = blocks_leaked(growth, calls)
                print(f"{label:<52} {growth:6d} blocks {'LEAKED' if leaked else 'flat'}"
                      f"   refcounts {'kept' if refs_ok else 'CHANGED'}", flush=True)
                if leaked:
                    failures.append(label)
            else:
                print(f"{label:<52} {growth:6d} KiB   refcounts {'kept' if refs_ok else 'CHANGED'}", flush=True)
            if not refs_ok and label not in failures:
                failures.append(label)
    unit = "blocks" if measure == "blocks" else "KiB"
    print(f"largest growth over {calls} good + {calls} bad calls per entry: {worst} {unit}")
    if failures:
        print("failed:", ", ".join(failures))
    return failures, worst


if __name__ == "__main__":
    argv = sys.argv[1:]
    measure = "rss"
    if argv and argv[0] == "--blocks":
        measure = "blocks"
        argv = argv[1:]
    failures, worst = main(int(argv[0]) if argv else 10000, measure)
    sys.exit(1 if failures else 0)
