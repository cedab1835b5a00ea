# ROM package reader and transfer engine: sources and tests.
