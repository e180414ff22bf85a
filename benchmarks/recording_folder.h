// A folder of generated, labelled recordings for the workbench
// benchmarks: datasets of ten minutes of wear each (16 unless asked
// otherwise), named as falls and ADLs of five subjects, in a fresh folder
// under $TMPDIR that goes with the object.
#ifndef BENCHMARKS_RECORDING_FOLDER_H
#define BENCHMARKS_RECORDING_FOLDER_H

#include <string>

class RecordingFolder {
public:
    explicit RecordingFolder(int recordings = 16);
    ~RecordingFolder();
    RecordingFolder(const RecordingFolder&) = delete;
    RecordingFolder& operator=(const RecordingFolder&) = delete;

    // Empty when the folder could not be written.
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

#endif
