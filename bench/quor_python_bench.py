"""Python iteration of a track's samples beside the same walk in C++, in the same process on the
same fileset (50,000 samples of 1 KiB in two files). Prints both rates and the ratio
(pct_of_cpp: Python's sample rate as a percentage of C++'s). Run with the package on PYTHONPATH:
    PYTHONPATH=build/release/python python3 bench/quor_python_bench.py
"""

import sys
import tempfile
import time

import quormediafiles as qmf

SAMPLES, SIZE, ROUNDS = 50_000, 1024, 5


def main():
    with tempfile.TemporaryDirectory() as root:
        path = f"{root}/bench.qmf"
        payload = bytes(range(256)) * (SIZE // 256)
        flags = qmf.SampleFlags.KEY_FRAME | qmf.SampleFlags.VIDEO
        with qmf.Writer(path, [qmf.Track(id=1, name="bench", video=True)],
                        max_file_size_kib=40 * 1024, max_files=4) as w:
            for i in range(SAMPLES):
                w.write(1, 10 * i, flags, payload)
        with qmf.open(path) as fs:
            py_best = cpp_best = float("inf")
            for _ in range(ROUNDS):  # alternate, keep the best of each
                t0 = time.process_time()
                total = 0
                for s in fs.samples(1):
                    total += s.payload[0]
                t1 = time.process_time()
                count = qmf._native.TEST_walk_in_cpp(fs, 1)
                t2 = time.process_time()
                py_best, cpp_best = min(py_best, t1 - t0), min(cpp_best, t2 - t1)
            assert count == SAMPLES
    py_rate, cpp_rate = SAMPLES / py_best, SAMPLES / cpp_best
    print(f"python_items_s={py_rate:.0f} cpp_items_s={cpp_rate:.0f} "
          f"pct_of_cpp={100 * py_rate / cpp_rate:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
