"""The two ways a run of trov-plot ends early, each told in one line."""


class PlotError(Exception):
    """A problem with the experiment or its files: status 1."""


class UsageError(PlotError):
    """Words on the command line that make no sense: status 2."""
