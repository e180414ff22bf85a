"""python3 -m tumblewatch sweep|tune: the sweep and the search on a Dask cluster (see _cli)."""

import sys

from ._cli import main

if __name__ == "__main__":
    sys.exit(main())
