"""The package's version: the project's version, which CMakeLists.txt also
states (a test checks that the two agree)."""

__version__ = "1.1.0"
