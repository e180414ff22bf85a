"""The search of ``tune``, shared by the command line and :func:`tumblewatch.tune`.

optuna is asked for a population of trials at a time; the whole population
is evaluated (on a cluster or on this machine) before optuna hears of any of
it, and is told in trial order, so the trials depend on the seed alone. Each
population's rows are written at once.

A search is continued from the rows an interrupted run kept: the study is
rebuilt by asking for the same trials again (the seeded sampler gives the
same ones) and telling it the kept figures, with no evaluation. The last
population of which rows are kept may have been cut short, so it runs again
from its start; the rows then are those of an uninterrupted run.
"""

from __future__ import annotations

import csv
import io
import json
import math
import warnings
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

Range = Tuple[str, int, int]
# (row text, the detector's refusal, sensitivity, false alarms per hour)
Result = Tuple[str, str, float, float]
Evaluator = Callable[[List[Tuple[int, List[int]]]], List[Result]]


class SearchError(Exception):
    """A search that cannot go on (a file that is not of it); the message says why."""


class Kept:
    """The rows of an earlier run of the same search: by trial number, the
    varied values, sensitivity and false alarms per hour; the populations
    replayed from them and the bytes of the file to keep."""

    def __init__(self) -> None:
        self.rows: Dict[int, Tuple[List[int], float, float]] = {}
        self.populations = 0
        self.keep = 0


def _number(value: Any) -> float:
    if value is None or value == "":
        return math.nan
    try:
        return float(value)
    except (TypeError, ValueError):
        return math.nan


def read_kept(data: bytes, header: str, ranges: Sequence[Range], population: int, what: str) -> Kept:
    """The rows of data (an output file) that a continued search keeps: every
    population before the last one of which a row is there. SearchError when
    data does not begin with header (another search, or other options)."""
    text = data.decode("utf-8", "surrogateescape")
    if not text.startswith(header):
        first = text.split("\n", 1)[0]
        raise SearchError(f"{what}: holds another search, or the same with other options ({first[:120]!r}); "
                          "continue it with the options it was started with, or give another file")
    kept = Kept()
    kept.keep = len(header.encode("utf-8", "surrogateescape"))
    body = text[len(header):]
    jsonl = header.startswith("{")
    columns = None if jsonl else next(csv.reader([header.split("\n")[1]]))
    offsets = []  # (trial number, byte offset of its line, values, sensitivity, false alarms)
    at = kept.keep
    for line in body.split("\n")[:-1]:  # complete lines only
        size = len(line.encode("utf-8", "surrogateescape")) + 1
        try:
            if jsonl:
                row = json.loads(line)
            else:
                row = dict(zip(columns or [], next(csv.reader(io.StringIO(line)))))
            number = int(row["config"])
            values = [int(row[name]) for name, _, _ in ranges]
        except (ValueError, KeyError, TypeError, StopIteration):
            raise SearchError(f"{what}: a row that cannot be read at byte {at}") from None
        offsets.append((number, at, values, _number(row.get("sensitivity")),
                        _number(row.get("false_alarms_per_hour"))))
        at += size
    if not offsets:
        return kept
    last = max(number for number, *_ in offsets) // population
    kept.populations = last
    kept.keep = at
    for number, offset, values, sensitivity, false_alarms in offsets:
        if number // population >= last:
            kept.keep = offset
            break
        kept.rows[number] = (values, sensitivity, false_alarms)
    return kept


def sampler_of(name: str, seed: int, population: int) -> Any:
    """optuna's sampler by name, seeded."""
    import optuna

    if name == "nsga2":
        return optuna.samplers.NSGAIISampler(population_size=max(2, population), seed=seed)
    if name == "tpe":
        return optuna.samplers.TPESampler(seed=seed)
    return optuna.samplers.RandomSampler(seed=seed)


class Search:
    """One search: the study, its trials so far, the refused and the undefined ones."""

    def __init__(self, ranges: Sequence[Range], trials: int, sampler: str, seed: int, population: int) -> None:
        import optuna

        optuna.logging.set_verbosity(optuna.logging.WARNING)
        warnings.filterwarnings("ignore", category=optuna.exceptions.ExperimentalWarning)
        self.ranges = list(ranges)
        self.trials = trials
        self.population = population
        self.study = optuna.create_study(directions=["maximize", "minimize"],
                                         sampler=sampler_of(sampler, seed, population))
        self.distributions = {name: optuna.distributions.IntDistribution(low, high) for name, low, high in ranges}
        self.refused: List[Tuple[int, str]] = []
        self.undefined = 0
        self.rows_written = 0

    def _ask(self) -> List[Any]:
        count = min(self.population, self.trials - len(self.study.trials))
        return [self.study.ask(self.distributions) for _ in range(count)]

    def _values(self, trial: Any) -> List[int]:
        return [int(trial.params[name]) for name, _, _ in self.ranges]

    def _tell(self, trial: Any, sensitivity: float, false_alarms: float) -> None:
        import optuna

        if math.isnan(sensitivity) or math.isnan(false_alarms):
            self.undefined += 1
            self.study.tell(trial, state=optuna.trial.TrialState.FAIL)
        else:
            self.study.tell(trial, [sensitivity, false_alarms])

    def replay(self, kept: Kept, what: str) -> None:
        """Rebuilds the study from the kept rows: the same trials asked again,
        told the kept figures (a trial without a row was refused)."""
        import optuna

        for _ in range(kept.populations):
            for trial in self._ask():
                row = kept.rows.get(trial.number)
                if row is None:
                    self.refused.append((trial.number, "refused by the detector (in the earlier run)"))
                    self.study.tell(trial, state=optuna.trial.TrialState.FAIL)
                    continue
                values, sensitivity, false_alarms = row
                if values != self._values(trial):
                    raise SearchError(f"{what}: trial {trial.number} has other values than this search draws; "
                                      "it holds another search")
                self.rows_written += 1
                self._tell(trial, sensitivity, false_alarms)

    def run(self, evaluate: Evaluator, write: Callable[[str], None],
            progress: Optional[Callable[[int], None]] = None) -> None:
        """Evaluates the remaining trials a population at a time, writes each
        population's rows and tells the study."""
        import optuna

        while len(self.study.trials) < self.trials:
            asked = self._ask()
            results = evaluate([(t.number, self._values(t)) for t in asked])
            text = []
            for trial, (row, refusal, sensitivity, false_alarms) in zip(asked, results):
                if refusal:
                    self.refused.append((trial.number, refusal))
                    self.study.tell(trial, state=optuna.trial.TrialState.FAIL)
                    continue
                text.append(row)
                self._tell(trial, sensitivity, false_alarms)
            write("".join(text))
            self.rows_written += len(text)
            if progress is not None:
                progress(len(self.study.trials))

    def all_refused(self) -> bool:
        return self.rows_written == 0 and len(self.refused) > 0


def description(recordings: str, trials: int, sampler: str, population: int, seed: int, ranges: Sequence[str],
                base_changes: Sequence[str], folds: int) -> str:
    """The output's description: what the search ran on and how, in words; the
    base configuration named as in a sweep's."""
    names = {"nsga2": "NSGA-II", "tpe": "TPE", "random": "random"}
    parts = [recordings,
             f"{trials} trials of optuna's {names[sampler]} search (sensitivity up, false alarms per hour down), "
             f"{population} at a time, seed {seed}",
             " ".join(f"range {r}" for r in ranges),
             "base " + (" ".join(base_changes) if base_changes else "defaults")]
    if folds > 0:
        parts.append(f"{folds} folds")
    return "; ".join(parts)
