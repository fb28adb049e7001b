"""Calls from several threads at once, and use of the module in a forked child."""
import concurrent.futures
import os
import signal
import threading
import time

import kuv
from conftest import numbered_pages, product_names


def test_calls_from_many_threads_at_once(tmp_path, example_pages):
    def worker(i):
        out = str(tmp_path / f"g{i}.bin")
        for _ in range(3):
            kuv.build_graph(example_pages * 5, out)
            assert len(kuv.query(out, "MATCH (p:Product) RETURN p")) >= 4

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        for future in [pool.submit(worker, i) for i in range(8)]:
            future.result()


def test_other_threads_run_during_a_build(tmp_path):
    pages = numbered_pages(4000)
    ticks, stop = [], threading.Event()

    def ticker():
        while not stop.wait(0.001):
            ticks.append(time.monotonic())

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        start = time.monotonic()
        kuv.build_graph(pages, str(tmp_path / "g.bin"))
        end = time.monotonic()
    finally:
        stop.set()
        thread.join()
    assert sum(start < tick < end for tick in ticks) >= 3


def test_forked_child_can_build_again(tmp_path):
    pages = numbered_pages(50)
    kuv.build_graph(pages, str(tmp_path / "parent.bin"))
    child_out = str(tmp_path / "child.bin")
    pid = os.fork()
    if pid == 0:
        signal.alarm(60)  # a hung child dies instead of blocking the run
        code = 1
        try:
            kuv.build_graph(pages, child_out)
            kuv.merge_graph(child_out, pages[:3], [], child_out)
            code = 0
        finally:
            os._exit(code)
    assert os.waitpid(pid, 0)[1] == 0
    assert product_names(child_out) == [f"P{i}" for i in range(50)]
    kuv.build_graph(pages, str(tmp_path / "parent-again.bin"))
