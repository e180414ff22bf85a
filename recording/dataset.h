// Reader of binary dataset files: a 24-byte header (magic text and the
// byte position of the first record) followed by 12-byte sample records.
#ifndef RECORDING_DATASET_H
#define RECORDING_DATASET_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "tumblewatch.h"

struct DataSet {
    FILE* file;  // null for a dataset read from memory
};

// Opens path and positions it at the first record; null when the file
// is not a regular file, cannot be opened, has the wrong magic, ends inside
// its header or gives a negative record position. The handle is allocated
// here and freed by DataSetClose.
DataSet* DataSetOpen(const char* path);

// DataSetOpen that says why it failed: on null, *reason holds the failure
// in plain words (which header check failed, for a file that is not a
// dataset).
DataSet* DataSetOpenChecked(const char* path, std::string* reason);

// DataSetOpenChecked over size bytes in memory instead of a file: the
// same checks, the same records. The bytes are not copied and must stay
// alive and unchanged until DataSetClose; null bytes count as none. Null
// on failure, with the reason in *reason.
DataSet* DataSetOpenMemory(const unsigned char* bytes, size_t size, std::string* reason);

// Reads up to count whole records; returns the number read, 0 at the end.
int DataSetRead(DataSet* dataSet, ImuSample* records, int count);

// True when a read failed (not merely reached the end of the file).
bool DataSetFailed(const DataSet* dataSet);

// Closes the file and frees the handle; null is accepted.
void DataSetClose(DataSet* dataSet);

#endif
