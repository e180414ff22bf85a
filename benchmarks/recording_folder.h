// A folder of generated, labelled recordings for the workbench
// benchmarks: 16 datasets of ten minutes of wear each, named as falls and
// ADLs with subjects, in a fresh folder under $TMPDIR that goes with the
// object.
#ifndef BENCHMARKS_RECORDING_FOLDER_H
#define BENCHMARKS_RECORDING_FOLDER_H

#include <string>

class RecordingFolder {
public:
    RecordingFolder();
    ~RecordingFolder();
    RecordingFolder(const RecordingFolder&) = delete;
    RecordingFolder& operator=(const RecordingFolder&) = delete;

    // Empty when the folder could not be written.
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

#endif
