// Binary dataset reader; the format itself is decoded by dataset_format.
// Records are read ahead in blocks.
#include "dataset.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "dataset_format.h"
#include "safe_files.h"

namespace {

// The reader behind a DataSet handle: the handle, then a block of the
// file read ahead, so that records come from memory and the file is read
// in blocks of many records, not 12 bytes at a time. DataSetOpenChecked
// hands out the address of the first member; the functions below convert
// it back.
constexpr size_t kBlockRecords = 4096;

struct BlockReader {
    DataSet handle;  // first member: a DataSet* is a BlockReader*
    size_t next;     // first unread byte of block
    size_t end;      // end of the bytes read into block
    bool atEnd;      // the file has no more bytes (or a read failed)
    unsigned char block[kBlockRecords * kDataSetRecordSize];
};

static_assert(std::is_standard_layout<BlockReader>::value, "a DataSet* must convert to its BlockReader*");

BlockReader* ReaderOf(DataSet* dataSet)
{
    return reinterpret_cast<BlockReader*>(dataSet);
}

// Makes at least one whole record available in the block unless the file
// ends first; a piece of a record left at the end of the block moves to
// its start and the block is topped up after it. False when no whole
// record is left: a trailing piece shorter than a record is not one.
bool FillBlock(BlockReader* r)
{
    if (r->end - r->next >= kDataSetRecordSize) {
        return true;
    }
    if (r->atEnd) {
        return false;
    }
    const size_t kept = r->end - r->next;
    std::memmove(r->block, r->block + r->next, kept);
    const size_t read = std::fread(r->block + kept, 1, sizeof r->block - kept, r->handle.file);
    if (read < sizeof r->block - kept) {
        r->atEnd = true;  // the end of the file, or a read error, which ends the records alike
    }
    r->next = 0;
    r->end = kept + read;
    return r->end >= kDataSetRecordSize;
}

}  // namespace

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
    BlockReader* reader = new (std::nothrow) BlockReader{DataSet{file}, 0, 0, false, {}};
    if (reader == nullptr) {
        *reason = "out of memory";
        std::fclose(file);
        return nullptr;
    }
    return &reader->handle;
}

DataSet* DataSetOpen(const char* path)
{
    std::string reason;
    return DataSetOpenChecked(path, &reason);
}

int DataSetRead(DataSet* dataSet, ImuSample* records, int count)
{
    BlockReader* r = ReaderOf(dataSet);
    int read = 0;
    while (read < count && FillBlock(r)) {
        records[read] = DataSetDecodeRecord(r->block + r->next);
        r->next += kDataSetRecordSize;
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
    BlockReader* r = ReaderOf(dataSet);
    if (r->handle.file != nullptr) {
        std::fclose(r->handle.file);
    }
    delete r;
}
