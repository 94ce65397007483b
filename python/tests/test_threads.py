"""Runs from several Python threads, the GIL, and cancellation."""
import gc
import threading
import time

import numpy as np
import pytest

import cblob
from conftest import live_blocks, read, sample_files, tables_equal


def noise(size, seed):
    return np.random.default_rng(seed).integers(0, 256, size=(size, size), dtype=np.uint8)


def analyse_all(images):
    return [cblob.analyze(image, keep_runs=True, min_area=3).table() for image in images]


def test_parallel_runs_give_the_serial_results():
    images = [read(path) for path in sample_files()] + [noise(700, 1)]
    serial = analyse_all(images)
    outputs, errors = {}, []

    def work(name, order):
        try:
            for _ in range(2):
                tables = analyse_all([images[i] for i in order])
                outputs.setdefault(name, []).append([tables[order.index(i)] for i in range(len(images))])
        except Exception as e:  # reported by the main thread
            errors.append(e)

    forward = list(range(len(images)))
    threads = [threading.Thread(target=work, args=("a", forward)),
               threading.Thread(target=work, args=("b", forward[::-1]))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for name in ("a", "b"):
        for tables in outputs[name]:
            for got, expected in zip(tables, serial):
                tables_equal(got, expected)


def test_the_gil_is_released_during_a_run():
    image = noise(3000, 2)
    window = {}

    def run():
        window["start"] = time.perf_counter()
        cblob.analyze(image, threshold=128)
        window["end"] = time.perf_counter()

    ticks = []
    thread = threading.Thread(target=run)
    thread.start()
    while thread.is_alive():
        ticks.append(time.perf_counter())
    thread.join()
    start, end = window["start"], window["end"]
    middle = (start + (end - start) / 3, end - (end - start) / 3)
    # This thread kept running Python code while the other one was inside the library.
    assert sum(1 for t in ticks if middle[0] < t < middle[1]) > 10


def test_a_set_event_stops_the_run(coins):
    gc.collect()
    before = live_blocks()
    stop = threading.Event()
    stop.set()
    with pytest.raises(cblob.Cancelled) as failure:
        cblob.analyze(coins, threshold=130, cancel=stop)
    assert isinstance(failure.value, cblob.Error)
    assert failure.value.status_name == "csys_err_stopRequested"
    del failure
    gc.collect()
    assert live_blocks() == before
    assert len(cblob.analyze(coins, threshold=130, cancel=threading.Event())) > 0


def test_an_event_set_from_another_thread_stops_a_long_run():
    image = noise(4000, 3)
    stop = threading.Event()
    timer = threading.Timer(0.05, stop.set)
    timer.start()
    started = time.perf_counter()
    try:
        with pytest.raises(cblob.Cancelled):
            for _ in range(200):  # until the event is seen
                cblob.analyze(image, threshold=128, keep_runs=True, cancel=stop)
    finally:
        timer.cancel()
    assert time.perf_counter() - started < 30


def test_a_callback_stops_the_run_and_its_exception_propagates(coins):
    image = noise(2000, 4)
    calls = []

    def after_three():
        calls.append(1)
        return len(calls) >= 3

    gc.collect()
    before = live_blocks()
    with pytest.raises(cblob.Cancelled):
        cblob.analyze(image, soft=(100, 150), keep_runs=True, cancel=after_three)
    assert len(calls) == 3

    def broken():
        raise KeyError("from the callback")

    with pytest.raises(KeyError, match="from the callback"):
        cblob.analyze(coins, threshold=130, cancel=broken)
    gc.collect()
    assert live_blocks() == before
