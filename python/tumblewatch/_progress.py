"""The ``progress=`` argument of the long calls: a callable, a progress bar or nothing."""

from __future__ import annotations

import sys
from contextlib import contextmanager
from typing import Any, Callable, Iterator, Optional, Union

ProgressArgument = Union[None, bool, Callable[[int, int], Any]]


class _Bar:
    """A tqdm bar (a widget in Jupyter, a line on a terminal) fed (done, total)."""

    def __init__(self, what: str) -> None:
        try:
            from tqdm.auto import tqdm
        except ImportError:
            raise ModuleNotFoundError("progress=True needs tqdm (Debian: python3-tqdm); pass a callable "
                                      "progress(done, total) instead") from None
        self._bar = tqdm(total=None, unit=f" {what}", leave=False, dynamic_ncols=True)

    def __call__(self, done: int, total: int) -> None:
        if self._bar.total != total:
            self._bar.total = total
        self._bar.update(done - self._bar.n)

    def close(self) -> None:
        self._bar.close()


def _on_terminal() -> bool:
    try:
        return sys.stderr is not None and sys.stderr.isatty()
    except (AttributeError, ValueError):
        return False


@contextmanager
def progress_of(progress: ProgressArgument, what: str) -> Iterator[Optional[Callable[[int, int], Any]]]:
    """The callable (done, total) of a ``progress=`` argument, or None for none.

    None shows a bar when standard error is a terminal and tqdm is installed,
    True always (a widget in Jupyter), False never; a callable is called as it
    is, a few times a second while the work runs (and by the caller once at
    its end). The bar is closed when the block ends.
    """
    if progress is None:
        progress = _on_terminal() and _has_tqdm()
    if progress is False:
        yield None
        return
    if progress is True:
        bar = _Bar(what)
        try:
            yield bar
        finally:
            bar.close()
        return
    if not callable(progress):
        raise TypeError(f"progress: expected True, False, None or a callable progress(done, total), got "
                        f"{type(progress).__name__}")
    yield progress


def _has_tqdm() -> bool:
    try:
        import tqdm  # noqa: F401
    except ImportError:
        return False
    return True
