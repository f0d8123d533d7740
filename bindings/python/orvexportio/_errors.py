"""The package's exceptions."""


class OrvexError(Exception):
    """Base of every error the package raises about the controller or the library."""


class ControllerTimeout(OrvexError, TimeoutError):
    """The controller did not take a line, or did not answer, in time."""


class LibraryError(OrvexError, OSError):
    """A library file could not be found or loaded, or does not fit this interpreter."""
