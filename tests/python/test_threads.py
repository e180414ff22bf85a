"""The GIL is released while the detector runs, and the samples are never copied."""

import sys
import threading
import time
import tracemalloc

import numpy as np

import tumblewatch
from conftest import random_samples


def test_other_threads_run_while_detect_runs():
    # While one thread is inside detect, the main thread keeps running: the
    # longest pause it sees is far shorter than the call. With the GIL held
    # the main thread would stand still for the whole call.
    samples = random_samples(3_000_000, seed=11)
    done = threading.Event()
    span = []

    def work():
        start = time.perf_counter()
        tumblewatch.detect(samples)
        span.append(time.perf_counter() - start)
        done.set()

    old = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        last, longest = time.perf_counter(), 0.0
        while not done.is_set():
            now = time.perf_counter()
            longest, last = max(longest, now - last), now
        worker.join()
    finally:
        sys.setswitchinterval(old)
    assert longest < span[0] / 2, f"the main thread stood still {longest:.3f} s of a {span[0]:.3f} s call"


def test_threads_give_the_results_of_one_thread():
    chunks = [random_samples(200_000, seed=s) for s in range(4)]
    expected = [tumblewatch.detect(c) for c in chunks]
    results = [None] * len(chunks)

    def work(i):
        results[i] = tumblewatch.detect(chunks[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(chunks))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_one_detector_shared_by_threads_takes_one_call_at_a_time():
    chunk = random_samples(50_000, seed=5)
    detector = tumblewatch.Detector()
    threads = [threading.Thread(target=detector.process, args=(chunk,)) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert detector.sample_count == 4 * len(chunk)


def test_samples_are_read_in_place():
    samples = random_samples(2_000_000)
    assert tumblewatch._tumblewatch.sample_address(samples) == samples.ctypes.data
    view = samples[100:200]  # a contiguous slice is a view, not a copy
    assert tumblewatch._tumblewatch.sample_address(view) == view.ctypes.data
    readonly = samples.copy()
    readonly.flags.writeable = False
    assert tumblewatch._tumblewatch.sample_address(readonly) == readonly.ctypes.data

    # numpy's allocations are traced: detect allocates its int32 result
    # (8 MB here), never a copy of the 24 MB input.
    tumblewatch.detect(samples[:10])
    tracemalloc.start()
    try:
        tumblewatch.detect(samples)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < samples.nbytes / 2, peak


def test_recordings_read_into_arrays_own_their_memory(generated):
    samples = tumblewatch.read_recording(generated / "walking.bin")
    assert samples.flags.c_contiguous and samples.flags.writeable and samples.base is not None
    codes = tumblewatch.detect(samples)
    del samples
    assert codes.shape[0] > 0
