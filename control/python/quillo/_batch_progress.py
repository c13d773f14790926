"""How quillo.batch shows a run's progress on standard error."""

from __future__ import annotations

import sys
import time



class Progress:
    """Counts and shows how the run goes: a status line redrawn in place when standard error is
    a terminal, otherwise a plain line at each further tenth of the run (and at least once a
    minute). Failures are always printed, one line each."""

    def __init__(self, total: int, quiet: bool, stream=None) -> None:
        self.stream = stream or sys.stderr
        self.total = total
        self.quiet = quiet
        self.terminal = self.stream.isatty() and not quiet
        self.counts = {"converted": 0, "skipped": 0, "failed": 0}
        self.started = time.monotonic()
        self.last_draw = 0.0
        self.last_plain = time.monotonic()
        self.next_tenth = 1

    @property
    def done(self) -> int:
        return sum(self.counts.values())

    def line(self) -> str:
        done = self.done
        elapsed = time.monotonic() - self.started
        percent = 100 * done // self.total if self.total else 100
        rate = self.counts["converted"] / elapsed if elapsed > 0 else 0.0
        text = (f"{done}/{self.total} ({percent}%): {self.counts['converted']} converted, "
                f"{self.counts['skipped']} skipped, {self.counts['failed']} failed")
        if rate > 0 and done < self.total:
            remaining = (self.total - done) / rate
            text += f", {rate:.1f} files/s, about {_duration(remaining)} left"
        return text

    def count(self, status: str) -> None:
        self.counts[status] += 1
        now = time.monotonic()
        if self.terminal:
            if now - self.last_draw >= 0.1 or self.done == self.total:
                self.last_draw = now
                self.stream.write("\r\x1b[K" + self.line())
                self.stream.flush()
        elif not self.quiet and self.total:
            tenth = 10 * self.done // self.total
            if tenth >= self.next_tenth or now - self.last_plain >= 60:
                self.next_tenth = tenth + 1
                self.last_plain = now
                self.stream.write(f"quillo.batch: {self.line()}\n")
                self.stream.flush()

    def uncount(self, status: str) -> None:
        self.counts[status] -= 1

    def say(self, text: str) -> None:
        if self.terminal:
            self.stream.write("\r\x1b[K")
        self.stream.write(f"quillo.batch: {text}\n")
        if self.terminal:
            self.stream.write(self.line())
        self.stream.flush()

    def restart(self) -> None:
        """Starts the clock again (once the cluster is up: its start is not conversion time)."""
        self.started = time.monotonic()

    def finish(self) -> None:
        if self.terminal:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


def _duration(seconds: float) -> str:
    seconds = int(seconds + 0.5)
    if seconds < 60:
        return f"{seconds} s"
    minutes, seconds = divmod(seconds, 60)
    if minutes < 60:
        return f"{minutes} min {seconds:02d} s"
    hours, minutes = divmod(minutes, 60)
    return f"{hours} h {minutes:02d} min"
