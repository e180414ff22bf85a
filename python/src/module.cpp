// The compiled part of the tumblewatch Python package: the detector and
// the workbench on numpy arrays. The package's Python code (tumblewatch/)
// checks and documents the arguments and builds the frames; these
// functions do the work.
#include "binding.h"

PYBIND11_MODULE(_tumblewatch, m)
{
    m.doc() = "The compiled core of the tumblewatch package; use the package itself.";
    BindConfig(m);
    BindDetector(m);
    BindWorkbench(m);
    BindCluster(m);
    BindScan(m);
}
