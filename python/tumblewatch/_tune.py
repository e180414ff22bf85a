"""python3 -m tumblewatch tune: optuna's multi-objective search on a cluster.

The client asks optuna for a population of trials at a time, sends only
their parameters to the workers (each worker holds the recordings), tells
optuna every trial's sensitivity (up) and false alarms per hour (down) in
trial order, and appends each trial to --out as a row of the sweep's
format, numbered by trial. Since a whole population is evaluated before
optuna hears of any of it, the trials depend on the seed alone, not on the
number of workers or the order in which they finish.
"""

from __future__ import annotations

import argparse
import math
import os
from typing import Any, Dict, List, Sequence, Tuple

from . import _tumblewatch
from ._cli import (EXIT_OK, EXIT_STOPPED, EXIT_UNREADABLE, Failure, RowsFile, Stopped, _connect, _disconnect, _load,
                   arguments_of, check_outputs, error, plan_of, report, summarize)

# Trials per task, relative to the workers' threads: two tasks per thread
# and population.
_TASKS_PER_THREAD = 2

Range = Tuple[str, int, int]


def parse_ranges(texts: Sequence[str]) -> List[Range]:
    """The ranges ("NAME=LO:HI", already checked by the plan) as (name, lo, hi)."""
    out = []
    for text in texts:
        name, _, bounds = text.partition("=")
        low, _, high = bounds.partition(":")
        out.append((name, int(low), int(high)))
    return out


def check_ranges(ranges: Sequence[Range], base: Tuple[int, ...]) -> None:
    """Refuses a range in which the detector accepts no value on the base
    configuration: optuna could only draw configurations it refuses."""
    for name, low, high in ranges:
        # The detector's rules each bound one parameter: the ends, the value
        # next to the lower one and the base's own value (which it accepts),
        # brought into the range, find an accepted value when there is one.
        candidates = {low, min(low + 1, high), high, min(max(_value_of(base, name), low), high)}
        reasons = [_tumblewatch.refusal(base, name, v) for v in sorted(candidates)]
        if all(reasons):
            raise Failure(f"--range {name}={low}:{high}: the detector refuses every value of it ({reasons[0]}); "
                          "the search could draw nothing it accepts")


def _value_of(base: Tuple[int, ...], name: str) -> int:
    from ._config import _NAMES

    return base[list(_NAMES).index(name)]


def sampler_of(name: str, seed: int, population: int) -> Any:
    """optuna's sampler by name, seeded."""
    from ._search import sampler_of as of

    return of(name, seed, population)


def description_of(plan: Dict[str, Any], options: argparse.Namespace) -> str:
    """The output's description: what the search ran on and how, in words; the
    base configuration named as in a sweep's."""
    from ._search import description

    return description(plan["description"].split("; ", 1)[0], options.trials, options.sampler, options.population,
                       options.seed, options.ranges, plan["base_changes"], options.folds)


def run_tune(options: argparse.Namespace) -> int:
    """Runs the search of the options; returns the exit status."""
    from . import _cluster
    from ._search import Search, SearchError, read_kept

    if options.trials < 1:
        raise Failure(f"--trials: expected at least 1 trial, got {options.trials}")
    if options.trials > options.max_trials:
        raise Failure(f"--trials {options.trials}: more than --max-trials {options.max_trials} (the search keeps "
                      "every trial in memory)")
    if not options.ranges:
        raise Failure("tune needs at least one --range NAME=LO:HI")
    if options.seed >= 2**32:
        raise Failure(f"--seed {options.seed}: the search takes seeds 0 to 4294967295")
    arguments = arguments_of(options, [], options.ranges, options.trials, 2**63 - 1)
    plan = plan_of(arguments)
    ranges = parse_ranges(options.ranges)
    check_ranges(ranges, arguments[2])
    check_outputs(options, arguments)
    exists = os.path.exists(options.out) and os.path.getsize(options.out) > 0
    if options.resume and not os.path.lexists(options.out):
        raise Failure(f"--resume: --out {options.out}: no such file (nothing to continue)")
    if exists and not options.resume:
        raise Failure(f"--out {options.out} exists: continue the search with --resume, or give another file")

    client, cluster = _connect(options)
    job = _cluster.ClusterSweep(client, arguments, plan, options.send_data)
    try:
        _load(job, options)
        sweep_id = _tumblewatch.sweep_id(
            f"tune|{job.sweep_id}|{options.sampler}|{options.population}|{options.seed}|{options.trials}")
        header = _tumblewatch.sweep_header(arguments, sweep_id, description_of(plan, options))
        search = Search(ranges, options.trials, options.sampler, options.seed, options.population)
        keep = 0
        if exists:
            try:
                with open(options.out, "rb") as f:
                    kept = read_kept(f.read(), header, ranges, options.population, f"--resume {options.out}")
                search.replay(kept, f"--resume {options.out}")
            except OSError as e:
                raise Failure(f"--out {options.out}: cannot be read: {e.strerror}") from None
            except SearchError as e:
                raise Failure(str(e)) from None
            keep = kept.keep
        rows = RowsFile(options.out, keep, header)
        progress = _cluster.Progress("trials", options.trials - len(search.study.trials), not options.quiet)
        per_task = max(1, math.ceil(options.population / (_TASKS_PER_THREAD * job.threads)))
        try:
            search.run(lambda trials: job.evaluate(trials, per_task, progress), rows.write,
                       lambda _: progress.show())
        except Stopped:
            raise Failure(f"stopped; the trials so far are kept in {options.out} (continue with --resume)",
                          EXIT_STOPPED) from None
        except _cluster.ClusterError as e:
            raise Failure(f"{e}; the trials so far are kept in {options.out} (continue with --resume)") from None
        finally:
            progress.end()
            rows.close()
        refused = search.refused
        if search.all_refused():
            raise Failure(f"every one of the {len(refused)} trials was refused by the detector, e.g. trial "
                          f"{refused[0][0]}: {refused[0][1]}; no row was written: narrow the --range bounds to "
                          "values the detector accepts")
        if refused:
            error(f"{len(refused)} trials refused by the detector and not told to the search, e.g. trial "
                  f"{refused[0][0]}: {refused[0][1]}")
        if search.undefined:
            error(f"{search.undefined} trials with an undefined sensitivity or false alarm rate (no falls or no "
                  "daily activities among the recordings) were not told to the search")
        summary = summarize(job, options.out, "tumblewatch tune", "trial", options.trials, options.trials,
                            len(refused), progress)
        report(options, summary, "tumblewatch tune", sweep_id)
        return EXIT_UNREADABLE if job.failures or plan["skipped"] else EXIT_OK
    finally:
        job.close()
        _disconnect(client, cluster)
