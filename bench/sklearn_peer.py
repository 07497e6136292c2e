#!/usr/bin/python3
# The peer for engine_bench: a scikit-learn tree fitted on the same CSV (unknown values
# as -999, read as they are). Prints load and fit time, the RSS after the fit and the
# process's peak RSS.
#
#   sklearn_peer.py FILE.csv
import resource
import sys
import time

import numpy as np
from sklearn.tree import DecisionTreeClassifier


def rss_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


t0 = time.monotonic()
data = np.loadtxt(sys.argv[1], delimiter=",", skiprows=1)
x, y = data[:, :-1], data[:, -1]
t1 = time.monotonic()
tree = DecisionTreeClassifier(criterion="entropy", min_samples_leaf=2).fit(x, y)
t2 = time.monotonic()
print(f"rows {len(y)}, fields {x.shape[1]}, nodes {tree.tree_.node_count}")
print(f"load {t1 - t0:.3f} s, fit {t2 - t1:.3f} s")
print(f"rss after fit {rss_mb():.0f} MB, peak {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.0f} MB")
