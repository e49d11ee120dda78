"""Memory and reference-count checks: every entry called many times on good
and on bad input keeps the process's memory flat and leaves the reference
counts of its arguments as they were.

As a script: python tests/leakcheck.py [calls per entry]  (default 10000)."""
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


def check_entry(label, get_fn, args, calls):
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
    gc.collect()
    before_refs = refcounts(good) + refcounts(bad)
    before = rss_kib()
    for _ in range(calls):
        once(good)
        once(bad)
    gc.collect()
    growth = rss_kib() - before
    after_refs = refcounts(good) + refcounts(bad)
    return growth, before_refs == after_refs


def main(calls):
    worst = 0
    failures = []
    for label, get_fn, args in entries():
        growth, refs_ok = check_entry(label, get_fn, args, calls)
        worst = max(worst, growth)
        print(f"{label:<52} {growth:6d} KiB   refcounts {'kept' if refs_ok else 'CHANGED'}")
        if not refs_ok:
            failures.append(label)
    print(f"largest growth over {calls} good + {calls} bad calls per entry: {worst} KiB")
    return failures, worst


if __name__ == "__main__":
    failures, worst = main(int(sys.argv[1]) if len(sys.argv) > 1 else 10000)
    sys.exit(1 if failures else 0)
