# Tests of the pages, the worker and the start-up.
