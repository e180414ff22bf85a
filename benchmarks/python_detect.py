"""The Python module's detect beside the C++ detector, and two Python threads at once.

    python3 benchmarks/python_detect.py BUILD_DIR [--samples N] [--runs R]

Writes the benchmark's sample stream (standing, walking, a fall; N samples,
default 2,000,000) as a dataset in a temporary folder, then measures, best
of R runs each (default 5), interleaved:

1. the C++ detector's samples per second (BUILD_DIR/benchmarks/detect_rate)
   and tumblewatch.detect's on the same samples, and their ratio
   (aim: at least 90 %);
2. two Python threads each calling detect on the N samples at once, against
   the same two calls one after the other (aim: at most 0.6 times as long:
   the GIL is released while the detector runs), and, for the machine's own
   share, two C++ detector processes at once against one after the other.

Nothing here checks a timing: it prints the figures.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--samples", type=int, default=2_000_000)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = args.build.resolve()
    sys.path.insert(0, str(build / "python"))
    import numpy as np

    import tumblewatch

    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as work:
        data = Path(work) / "stream.bin"
        subprocess.run([str(build / "benchmarks" / "replay_scaling"), "write", str(args.samples), str(data)],
                       check=True, stdout=subprocess.DEVNULL)
        samples = tumblewatch.read_recording(data)
        n = len(samples)

        cpp, python = [], []
        codes = None
        for _ in range(args.runs):
            out = subprocess.run([str(build / "benchmarks" / "detect_rate"), str(data), "1"], check=True,
                                 capture_output=True, text=True).stdout
            cpp.append(float(out.split("samples_per_second=")[1]))
            start = time.perf_counter()
            codes = tumblewatch.detect(samples)
            python.append(n / (time.perf_counter() - start))
        alarms = int(np.count_nonzero(codes))
        print(f"detect over {n:,} samples ({alarms} alarms), best of {args.runs}:")
        print(f"  C++ detector       {max(cpp) / 1e6:6.2f} M samples/s")
        print(f"  tumblewatch.detect {max(python) / 1e6:6.2f} M samples/s  ({max(python) / max(cpp):.1%} of C++)")

        def one_after_the_other():
            start = time.perf_counter()
            tumblewatch.detect(samples)
            tumblewatch.detect(samples)
            return time.perf_counter() - start

        def at_once():
            threads = [threading.Thread(target=tumblewatch.detect, args=(samples,)) for _ in range(2)]
            start = time.perf_counter()
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            return time.perf_counter() - start

        rate = [str(build / "benchmarks" / "detect_rate"), str(data), "1"]

        def processes(together):
            start = time.perf_counter()
            if together:
                running = [subprocess.Popen(rate, stdout=subprocess.DEVNULL) for _ in range(2)]
                for p in running:
                    p.wait()
            else:
                for _ in range(2):
                    subprocess.run(rate, check=True, stdout=subprocess.DEVNULL)
            return time.perf_counter() - start

        serial, parallel, cpp_serial, cpp_parallel = [], [], [], []
        for _ in range(args.runs):
            serial.append(one_after_the_other())
            parallel.append(at_once())
            cpp_serial.append(processes(False))
            cpp_parallel.append(processes(True))
        print(f"two calls of detect, best of {args.runs}: one after the other {min(serial):.3f} s, "
              f"in two threads at once {min(parallel):.3f} s ({min(parallel) / min(serial):.2f}x)")
        print(f"two C++ detector processes (loading included), best of {args.runs}: one after the other "
              f"{min(cpp_serial):.3f} s, at once {min(cpp_parallel):.3f} s "
              f"({min(cpp_parallel) / min(cpp_serial):.2f}x)")


if __name__ == "__main__":
    main()
