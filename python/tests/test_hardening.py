"""Calls that used to hang, return NaN models or fail with an internal error: each ends at once with a
clear exception (or is interrupted by Ctrl-C)."""

import _thread
import json
import math
import threading

import numpy as np
import pytest

import odefit

_t = 0.05 * np.arange(400)
OSCILLATION = np.column_stack([np.sin(_t), np.cos(_t)])
MODEL = odefit.fit(OSCILLATION, dt=0.05, points=3, model="poly:1")
# 2^41 values: numpy cannot copy it into one contiguous array.
HUGE = np.broadcast_to(np.zeros(2), (2**40, 2))


def with_dt(model, dt):
    state = json.loads(model.to_json())
    state["dt"] = dt
    return odefit.Model.from_json(json.dumps(state))


@pytest.mark.parametrize("method", ["euler", "rk4", "rk56"])
@pytest.mark.parametrize("call, message", [
    (lambda m: MODEL.simulate(OSCILLATION[0], 5, method=m, t0=1e15), "cannot advance the time 1e\\+15"),
    (lambda m: MODEL.simulate(OSCILLATION[0], 5, method=m, t0=-1e300), "cannot advance the time -1e\\+300"),
    (lambda m: with_dt(MODEL, 1e308).simulate(OSCILLATION[0], 3, method=m), "the time would overflow"),
    (lambda m: odefit.efficiency_test(with_dt(MODEL, 1e307), OSCILLATION, pieces=2, length=10, shift=5, method=m),
     "the time would overflow"),
], ids=["t0 1e15", "t0 -1e300", "dt 1e308", "test with dt 1e307"])
def test_times_a_step_cannot_advance_are_refused(call, message, method):
    with pytest.raises(ValueError, match=message):
        call(method)


@pytest.mark.parametrize("X, dt", [(OSCILLATION * 1e200, 0.05), (OSCILLATION, 1e-320)], ids=["1e200", "dt 1e-320"])
def test_a_fit_that_overflows_is_a_numerical_error(X, dt):
    with pytest.raises(odefit.NumericalError, match="overflowed"):
        odefit.fit(X, dt=dt, model="poly:2")


@pytest.mark.parametrize("call", [
    lambda: odefit.fit(HUGE, dt=0.1),
    lambda: MODEL.rhs(HUGE),
    lambda: odefit.efficiency_test(MODEL, HUGE),
], ids=["fit", "rhs", "efficiency_test"])
def test_an_array_too_large_to_copy_is_a_memory_error(call):
    with pytest.raises(MemoryError):
        call()


def test_method_names_are_the_command_lines_too():
    assert MODEL.simulate(OSCILLATION[0], 3, method="rkv").tobytes() == \
        MODEL.simulate(OSCILLATION[0], 3, method="rk56").tobytes()
    with pytest.raises(ValueError, match='unknown integration method "heun" \\(euler, rk4 or rk56'):
        MODEL.simulate(OSCILLATION[0], 3, method="heun")


@pytest.mark.parametrize("call", [
    # 100000 steps in each of 20000 intervals: minutes unless Ctrl-C ends it inside the first ones.
    lambda: MODEL.simulate(OSCILLATION[0], 20000, step=0.05 / 99999),
    lambda: odefit.efficiency_test(MODEL, np.tile(OSCILLATION, (30, 1)), pieces=20, length=10000, shift=1,
                                   step=0.05 / 99999),
], ids=["simulate", "efficiency_test"])
def test_ctrl_c_interrupts_a_long_integration(call):
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        timer.cancel()
