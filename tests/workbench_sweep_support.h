// What the sweep tests share: a folder of generated recordings with
// subjects, and runs of the tumblewatch program.
#ifndef TESTS_WORKBENCH_SWEEP_SUPPORT_H
#define TESTS_WORKBENCH_SWEEP_SUPPORT_H

#include <string>
#include <vector>

#include "test_support.h"

// Eight generated recordings, four falls and four ADLs of four subjects
// (s01..s04, one fall and one ADL each), as datasets in one folder.
struct SubjectSet {
    TempDir dir;
    SubjectSet();
};

// The one set of the test program, written when first asked for.
const SubjectSet& Subjects();

// Runs the tumblewatch program in cwd (ended after ten minutes).
BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args);

#endif
