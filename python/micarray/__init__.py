"""Two-microphone speech enhancement: keeps the talker the array is pointed at.

The engine is the compiled module micarray._micarray, whose names are re-exported here;
micarray.batch enhances many files on a Dask cluster.
"""
from ._micarray import *  # noqa: F401,F403 (enhance, Stream, version, MIN_RATE, MAX_RATE)
