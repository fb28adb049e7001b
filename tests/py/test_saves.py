"""Saves as a user meets them after a fork, and in a directory that other users share."""
import fcntl
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import kuv
from conftest import numbered_pages, product_names, run_child

# Forks from a second thread while the main thread's build holds the turn on its temporary file:
# the main thread runs the signal handler between two pieces of the save, and stays in it until
# the fork is done. A third thread's save is waiting for that turn meanwhile. The child then saves
# through the same temporary path, or idles; the parent saves through it again. Prints what
# happened as JSON.
FORK_WHILE_SAVING = """
    import fcntl, json, os, signal, sys, threading, time, kuv
    pages_file, out, child_out, role = sys.argv[1:5]
    pages = json.load(open(pages_file))
    temp = out + ".tmp"
    turn_held, forked, children = threading.Event(), threading.Event(), []

    def a_save_holds_the_turn():
        try:
            fd = os.open(temp, os.O_RDONLY)
        except FileNotFoundError:
            return False
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return False
        except BlockingIOError:
            return True
        finally:
            os.close(fd)

    def on_signal(*_):
        if not turn_held.is_set() and a_save_holds_the_turn():
            turn_held.set()
            forked.wait()

    def child():
        signal.alarm(20)  # a child that hangs dies instead
        code = 1
        try:
            if role == "saves":
                kuv.build_graph(pages[:10], child_out)
            else:
                time.sleep(30)
            code = 0
        finally:
            os._exit(code)

    def fork_while_the_turn_is_held():
        while not turn_held.wait(0.001):
            os.kill(os.getpid(), signal.SIGUSR1)
        waiting.start()
        time.sleep(0.3)  # its save waits for the turn by now
        pid = os.fork()
        if pid == 0:
            child()
        children.append(pid)
        forked.set()

    other = out[:-len(".bin")] + ".dat"  # the same temporary path
    waiting = threading.Thread(target=kuv.build_graph, args=(pages[:5], other))
    signal.signal(signal.SIGUSR1, on_signal)
    threading.Thread(target=fork_while_the_turn_is_held, daemon=True).start()
    for _ in range(100):  # until a save of it is caught holding the turn
        kuv.build_graph(pages, out)
        if forked.is_set():
            break
    if children:
        waiting.join()
        for _ in range(3):
            kuv.build_graph(pages[:5], other)
        pid, status = os.waitpid(children[0], os.WNOHANG)
        alive = pid == 0
        if alive:
            if role == "idles":
                os.kill(children[0], signal.SIGKILL)
            status = os.waitpid(children[0], 0)[1]
        print(json.dumps({"forked": True, "alive_after_parent_saves": alive, "child_status": status}))
    else:
        print(json.dumps({"forked": False}))
"""


@pytest.mark.parametrize("role", ["saves", "idles"])
def test_a_child_forked_while_a_save_holds_the_turn_holds_no_turn(tmp_path, role):
    pages = numbered_pages(50_000)
    pages_file = tmp_path / "pages.json"
    pages_file.write_text(json.dumps(pages))
    out, child_out = tmp_path / "g.bin", tmp_path / "g"
    outcome = json.loads(run_child(FORK_WHILE_SAVING, pages_file, out, child_out, role, timeout=120).stdout)
    assert outcome["forked"]
    if role == "saves":
        assert outcome["child_status"] == 0
        assert product_names(child_out) == [f"P{i}" for i in range(10)]
    else:
        # The parent's saves went on while the child lived.
        assert outcome["alive_after_parent_saves"]
    assert len(product_names(out)) == 50_000
    assert product_names(tmp_path / "g.dat") == [f"P{i}" for i in range(5)]
    assert not (tmp_path / "g.bin.tmp").exists()


SAVE_FOREVER = """
    import json, sys, kuv
    pages = json.load(open(sys.argv[1]))
    while True:
        kuv.build_graph(pages, sys.argv[2])
"""


def held_by_a_save(path):
    try:
        with open(path, "rb") as file:
            fcntl.flock(file, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return False  # closing the file lets go of the lock
    except FileNotFoundError:
        return False
    except BlockingIOError:
        return True


def test_a_save_killed_while_it_holds_the_turn_leaves_a_leftover_the_next_save_empties(tmp_path):
    pages_file = tmp_path / "pages.json"
    pages_file.write_text(json.dumps(numbered_pages(50_000)))
    out, temp = tmp_path / "g.bin", tmp_path / "g.bin.tmp"
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(SAVE_FOREVER), str(pages_file), str(out)])
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if held_by_a_save(temp):
                child.send_signal(signal.SIGSTOP)
                if held_by_a_save(temp):  # still: stopped while it holds the turn
                    break
                child.send_signal(signal.SIGCONT)
    finally:
        child.kill()
        child.wait()
    assert held_by_a_save(temp) is False and temp.stat().st_size > 0  # the killed save's partial graph
    kuv.build_graph(numbered_pages(3), str(out))
    assert product_names(out) == ["P0", "P1", "P2"]
    assert not temp.exists()

STRANGER, SAVER = 4343, 4242  # only the ids matter: no accounts are needed
STRANGERS_BYTES = b"the stranger's bytes"


def outcome_as(uid, call):
    """Runs `call` in a forked child whose user and group ids are `uid`: "ok", or the error it raised."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        text = "the child failed"
        try:
            os.setgroups([])
            os.setgid(uid)
            os.setuid(uid)
            call()
            text = "ok"
        except BaseException as error:
            text = f"{type(error).__name__}: {error}"
        finally:
            os.write(write_end, text.encode())
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as reader:
        text = reader.read()
    os.waitpid(pid, 0)
    return text


@pytest.mark.skipif(os.geteuid() != 0, reason="changes user ids: runs as root")
@pytest.mark.parametrize("saver, sticky, raised", [
    (0, True, None),
    (SAVER, True, "ValueError: write tmp graph.bin"),
    (SAVER, False, None),
], ids=["root-in-a-sticky-directory", "user-in-a-sticky-directory", "user-in-a-shared-directory"])
def test_another_users_file_at_the_temporary_path_never_becomes_the_output(saver, sticky, raised):
    shared = tempfile.mkdtemp()  # where every user can go, unlike pytest's own folders
    stranger = None
    try:
        os.chmod(shared, 0o1777 if sticky else 0o777)
        out, planted = os.path.join(shared, "g.bin"), os.path.join(shared, "g.bin.tmp")
        stranger = os.open(planted, os.O_RDWR | os.O_CREAT, 0o666)  # the stranger keeps it open
        os.fchmod(stranger, 0o666)
        os.fchown(stranger, STRANGER, STRANGER)
        os.write(stranger, STRANGERS_BYTES)
        before = os.stat(planted)
        outcome = outcome_as(saver, lambda: kuv.build_graph(numbered_pages(3), out))
        if raised:
            assert outcome == raised
            after = os.stat(planted)
            assert (after.st_ino, after.st_uid, after.st_mode, after.st_mtime_ns) == \
                (before.st_ino, before.st_uid, before.st_mode, before.st_mtime_ns)
            assert os.pread(stranger, 100, 0) == STRANGERS_BYTES
            assert not os.path.exists(out)
            return
        assert outcome == "ok"
        saved = os.stat(out)
        mask = os.umask(0)
        os.umask(mask)
        assert (saved.st_uid, stat.S_IMODE(saved.st_mode)) == (saver, 0o666 & ~mask)
        assert saved.st_ino != before.st_ino
        os.pwrite(stranger, b"garbage" * 1000, 0)
        assert product_names(out) == ["P0", "P1", "P2"]
        assert not os.path.exists(planted)
    finally:
        if stranger is not None:
            os.close(stranger)
        shutil.rmtree(shared)
