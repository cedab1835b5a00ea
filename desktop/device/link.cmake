# Link monitor, wrappers and service client: sources and tests.
