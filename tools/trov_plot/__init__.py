"""trov-plot: Rietveld figures for a journal, drawn from trov-export's full-precision files.

errors (the two failures a user is told of), export (asking trov-export for
the files and running it), loading (the files as columns), figure (drawing
helpers that take an Axes and data) and cli (the command line).
"""
