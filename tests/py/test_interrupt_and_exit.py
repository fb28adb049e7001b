"""Ctrl-C during a long call, and interpreter exit while a daemon thread is inside one.

Each case runs in a child process, so a hang or a crash fails the test instead of the run."""
import fcntl
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import kuv
from conftest import jsonld_page, numbered_pages

# Work that would take tens of seconds to finish: a page heavy enough to take milliseconds
# to extract, repeated; a relation pattern with hundreds of millions of bindings.
HEAVY_COPIES = 100_000
HEAVY_FILES = 10_000
STAR_PAGES = 20_000
CALLS = {
    "build_graph": "kuv.build_graph([page] * HEAVY_COPIES, out)",
    "build_graph_from_dir": "kuv.build_graph_from_dir(html_dir, out)",
    "merge_graph": "kuv.merge_graph(star, [page] * HEAVY_COPIES, [], out)",
    "query": "kuv.query(star, 'MATCH (a:Product)-->(b)<--(c:Product) RETURN count(*)')",
}
PRELUDE = """
import sys, threading, time, kuv
page, html_dir, star, out = open(sys.argv[1], encoding="utf-8").read(), *sys.argv[2:5]
HEAVY_COPIES = {copies}
"""


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    root = tmp_path_factory.mktemp("long-calls")
    filler = "".join(f'<div class="c{i}"><span>item {i}</span><a href="/x/{i}">link</a></div>' for i in range(1000))
    page = root / "heavy.html"
    page.write_text(jsonld_page("Heavy", "https://s.example/heavy", sku="H").replace("<body>", "<body>" + filler))
    html_dir = root / "html"
    html_dir.mkdir()
    for i in range(HEAVY_FILES):
        os.symlink(page, html_dir / f"p{i}.html")
    star = root / "star.bin"  # every product points at the one brand
    kuv.build_graph(numbered_pages(STAR_PAGES), str(star))
    return [str(page), str(html_dir), str(star)]


def start_child(script, inputs, out):
    code = PRELUDE.format(copies=HEAVY_COPIES) + textwrap.dedent(script)
    return subprocess.Popen([sys.executable, "-c", code, *inputs, str(out)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def finish(child, timeout):
    try:
        return child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail(f"the child was still running after {timeout} s")


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("handler, raised", [
    ("", "KeyboardInterrupt"),
    ("import signal\ndef stop(*_): raise RuntimeError('stop')\nsignal.signal(signal.SIGINT, stop)\n", "RuntimeError stop"),
], ids=["default-handler", "raising-handler"])
def test_a_signal_stops_a_long_call_and_leaves_the_output_untouched(tmp_path, inputs, call, handler, raised):
    out = tmp_path / "g.bin"
    out.write_text("previous")
    child = start_child(handler + f"""
print("ready", flush=True)
try:
    {CALLS[call]}
    print("finished")
except BaseException as e:
    print(type(e).__name__, e)
""", inputs, out)
    assert child.stdout.readline() == "ready\n"
    time.sleep(0.5)  # well inside the call
    child.send_signal(signal.SIGINT)
    signalled = time.monotonic()
    stdout, stderr = finish(child, timeout=60)
    assert (stdout.strip(), child.returncode) == (raised, 0), stderr
    assert time.monotonic() - signalled < 5  # finishing the work would take far longer
    assert out.read_text() == "previous"
    assert sorted(os.listdir(tmp_path)) == ["g.bin"]


def test_a_signal_stops_a_save_waiting_for_its_turn(tmp_path, inputs):
    out = tmp_path / "g.bin"
    out.write_text("previous")
    with open(tmp_path / "g.bin.tmp", "w") as other_save:  # another save's turn on the temporary file
        fcntl.flock(other_save, fcntl.LOCK_EX)
        child = start_child("""
print("ready", flush=True)
try:
    kuv.build_graph([page], out)
    print("finished")
except BaseException as e:
    print(type(e).__name__)
""", inputs, out)
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.5)  # the save is waiting by now
        child.send_signal(signal.SIGINT)
        stdout, stderr = finish(child, timeout=10)
    assert (stdout.strip(), child.returncode) == ("KeyboardInterrupt", 0), stderr
    assert out.read_text() == "previous"
    assert (tmp_path / "g.bin.tmp").read_text() == ""


@pytest.mark.parametrize("work", [
    CALLS["build_graph"],
    CALLS["build_graph_from_dir"],
    CALLS["query"],
    # short calls back to back, so that one of them ends while the interpreter shuts down
    "while True: kuv.build_graph([page] * 20, out)",
], ids=["build_graph", "build_graph_from_dir", "query", "short-calls"])
def test_exit_is_prompt_with_a_daemon_thread_inside_a_call(tmp_path, inputs, work):
    child = start_child(f"""
def work():
    {work}
threading.Thread(target=work, daemon=True).start()
time.sleep(0.5)
sys.exit(3)
""", inputs, tmp_path / "g.bin")
    started = time.monotonic()
    stdout, stderr = finish(child, timeout=60)
    assert (child.returncode, stderr) == (3, "")
    assert time.monotonic() - started < 10
