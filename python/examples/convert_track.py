"""Converts a recorded WGS-84 track to GCJ-02 and BD-09 and measures its length.

    PYTHONPATH=build/python /usr/bin/python3 python/examples/convert_track.py [TRACK.csv]
"""

import pathlib
import sys

import numpy as np

import orvlib

path = sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2] / "data/demo-walk.csv"
track = np.genfromtxt(path, delimiter=",", names=True)
gcj_lat, gcj_lng = orvlib.convert(track["lat"], track["lng"], src="wgs84", dst="gcj02")
bd_lat, bd_lng = orvlib.convert(gcj_lat, gcj_lng, src="gcj02", dst="bd09")
steps = orvlib.distance(track["lat"][:-1], track["lng"][:-1], track["lat"][1:], track["lng"][1:])
print(f"{len(track)} points, {steps.sum():.0f} m")
print(f"first point  WGS-84 {track['lat'][0]:.6f},{track['lng'][0]:.6f}"
      f"  GCJ-02 {gcj_lat[0]:.6f},{gcj_lng[0]:.6f}  BD-09 {bd_lat[0]:.6f},{bd_lng[0]:.6f}")
