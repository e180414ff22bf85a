// Binary dataset reader; the format itself is decoded by dataset_format.
#include "dataset.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "dataset_format.h"
#include "safe_files.h"

DataSet* DataSetOpenChecked(const char* path, std::string* reason)
{
    FILE* file = SafeOpenInput(path, reason);
    if (file == nullptr) {
        return nullptr;
    }

    unsigned char header[kDataSetHeaderSize];
    const size_t got = std::fread(header, 1, kDataSetHeaderSize, file);
    if (got != kDataSetHeaderSize && std::ferror(file) != 0) {
        *reason = "cannot be read: " + SafeErrorText(errno);
        std::fclose(file);
        return nullptr;
    }
    int32_t position = 0;
    if (!DataSetDecodeHeader(header, got, &position, reason)) {
        std::fclose(file);
        return nullptr;
    }
    if (std::fseek(file, position, SEEK_SET) != 0) {
        *reason = "not a dataset: cannot seek to record position " + std::to_string(position);
        std::fclose(file);
        return nullptr;
    }

    // (cppcheck misreads the nothrow new as an unused allocation.)
    // cppcheck-suppress [unreadVariable,unusedAllocatedMemory]
    DataSet* dataSet = new (std::nothrow) DataSet{file};
    if (dataSet == nullptr) {
        *reason = "out of memory";
        std::fclose(file);
    }
    return dataSet;
}

DataSet* DataSetOpen(const char* path)
{
    std::string reason;
    return DataSetOpenChecked(path, &reason);
}

int DataSetRead(DataSet* dataSet, ImuSample* records, int count)
{
    int read = 0;
    unsigned char raw[kDataSetRecordSize];
    while (read < count && std::fread(raw, 1, kDataSetRecordSize, dataSet->file) == kDataSetRecordSize) {
        records[read] = DataSetDecodeRecord(raw);
        ++read;
    }
    return read;
}

bool DataSetFailed(const DataSet* dataSet)
{
    return std::ferror(dataSet->file) != 0;
}

void DataSetClose(DataSet* dataSet)
{
    if (dataSet == nullptr) {
        return;
    }
    if (dataSet->file != nullptr) {
        std::fclose(dataSet->file);
    }
    delete dataSet;
}
