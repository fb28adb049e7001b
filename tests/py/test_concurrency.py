"""Calls from several threads at once, and use of the module in a forked child."""
import os
import signal
import threading
import time

import pytest

import kuv
from conftest import jsonld_page, product_names


def test_calls_from_many_threads_at_once(tmp_path, example_pages):
    pages = list(example_pages.values()) * 5
    failures = []

    def worker(i):
        try:
            out = str(tmp_path / f"g{i}.bin")
            for _ in range(3):
                kuv.build_graph(pages, out)
                assert len(kuv.query(out, "MATCH (p:Product) RETURN p")) >= 4
        except BaseException as error:  # noqa: BLE001
            failures.append(error)

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_other_threads_run_during_a_build(tmp_path):
    pages = [jsonld_page(f"P{i}", f"https://s.example/{i}", sku=f"S{i}") for i in range(2000)]
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        kuv.build_graph(pages, str(tmp_path / "g.bin"))
    finally:
        stop.set()
        thread.join()
    assert ticks


def wait_for_child(pid, timeout):
    """The child's raw wait status; a child still running after `timeout` seconds is killed."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    pytest.fail("forked child hung")


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_child_can_build_again(tmp_path):
    pages = [jsonld_page(f"P{i}", f"https://s.example/{i}", sku=f"S{i}") for i in range(50)]
    kuv.build_graph(pages, str(tmp_path / "parent.bin"))
    child_out = tmp_path / "child.bin"
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            kuv.build_graph(pages, str(child_out))
            kuv.merge_graph(str(child_out), pages[:3], [], str(child_out))
            code = 0
        finally:
            os._exit(code)
    assert wait_for_child(pid, timeout=60) == 0
    assert product_names(child_out) == [f"P{i}" for i in range(50)]
    kuv.build_graph(pages, str(tmp_path / "parent-again.bin"))
