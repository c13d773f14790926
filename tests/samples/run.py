"""Runs one test module of the samples for ctest: the usual unittest report, and exit status 77
(which ctest shows as "skipped") when every test of the module was skipped, with the reasons."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def main(name):
    suite = unittest.defaultTestLoader.loadTestsFromName(name)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if not result.wasSuccessful():
        return 1
    # A class skipped in setUpClass is reported as a skip that is not a test of its own.
    skipped_tests = [test for test, _ in result.skipped if isinstance(test, unittest.TestCase)]
    if result.skipped and result.testsRun == len(skipped_tests):
        reasons = sorted({reason for _, reason in result.skipped})
        print("All tests skipped: " + "; ".join(reasons))
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
