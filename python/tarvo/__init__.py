"""tarvo: intensity forecasts of tropical cyclones along given tracks.

>>> grids = tarvo.load_grids("demo/data")
>>> ds = tarvo.forecast(tarvo.read_track("demo/track.in"), tarvo.read_params("demo/params.in"), grids)
>>> ds.vmax            # maximum wind every 2 h, knots

The same model, byte for byte, as the ``tarvo`` program.
"""

from . import _core
from ._errors import InputError
from ._forecast import Grids, forecast, forecast_many, load_grids, run_case
from ._track import Params, Track, read_params, read_track

__all__ = ["Grids", "InputError", "Params", "Track", "forecast", "forecast_many", "load_grids",
           "read_params", "read_track", "run_case"]

from ._catalog import (category_of, export_forecasts, forecast_catalog, read_catalog, to_climada,  # noqa: E402
                       write_catalog)

__all__ += ["category_of", "export_forecasts", "forecast_catalog", "read_catalog", "to_climada", "write_catalog"]

from ._environment import environment, potential_intensity  # noqa: E402
from ._tracks_in import from_climada, hindcast_starts, read_tracks  # noqa: E402
from ._verify import verify  # noqa: E402
from ._grids import build_grids, check_grids  # noqa: E402
from ._compare import compare  # noqa: E402

__all__ += ["build_grids", "check_grids", "compare", "environment", "from_climada", "hindcast_starts",
            "potential_intensity", "read_tracks", "verify"]

__version__ = _core.version()  #: "0.9.0", with "+g" and the commit of the build
