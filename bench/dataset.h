// Reader of binary dataset files: a 24-byte header (magic text and the
// byte position of the first record) followed by 12-byte sample records.
#ifndef TILT_BENCH_DATASET_H
#define TILT_BENCH_DATASET_H

#include <cstdio>

#include "tumblewatch.h"

struct DataSet {
    FILE* file;
};

// Opens path and positions it at the first record; null when the file
// cannot be opened, has the wrong magic, ends inside its header or gives a
// negative record position.
DataSet* DataSetOpen(const char* path);

// Reads up to count whole records; returns the number read, 0 at the end.
int DataSetRead(DataSet* dataSet, ImuSample* records, int count);

// Closes the file and frees the handle; null is accepted.
void DataSetClose(DataSet* dataSet);

#endif
