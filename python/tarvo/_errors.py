"""The error every bad input ends in."""


class InputError(ValueError):
    """A track, parameters, grids or a catalog that cannot be used.

    Attributes
    ----------
    path : str or None
        The file, or the name given to the track, that the error is about.
    line : int or None
        The line in that file, where one applies.
    """

    def __init__(self, message, path=None, line=None):
        super().__init__(message)
        self.path = path
        self.line = line
