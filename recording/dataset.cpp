// Binary dataset reader; the format itself is decoded by dataset_format.
// Records are read ahead in blocks, from a file or from bytes in memory:
// both go through the same header checks and the same block reader.
#include "dataset.h"

#include <algorithm>
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
    DataSet handle;               // first member: a DataSet* is a BlockReader*
    const unsigned char* memory;  // the bytes read instead of handle.file, else null
    size_t memorySize;            // bytes at memory
    size_t memoryAt;              // the next byte of memory to read
    size_t next;                  // first unread byte of block
    size_t end;                   // end of the bytes read into block
    bool atEnd;                   // the file has no more bytes (or a read failed)
    unsigned char block[kBlockRecords * kDataSetRecordSize];
};

static_assert(std::is_standard_layout<BlockReader>::value, "a DataSet* must convert to its BlockReader*");

BlockReader* ReaderOf(DataSet* dataSet)
{
    return reinterpret_cast<BlockReader*>(dataSet);
}

// Up to size bytes from the reader's source into out, as fread gives them.
size_t ReadSource(BlockReader* r, unsigned char* out, size_t size)
{
    if (r->memory == nullptr) {
        return std::fread(out, 1, size, r->handle.file);
    }
    const size_t n = std::min(size, r->memorySize - r->memoryAt);
    if (n > 0) {
        std::memcpy(out, r->memory + r->memoryAt, n);
    }
    r->memoryAt += n;
    return n;
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
    const size_t read = ReadSource(r, r->block + kept, sizeof r->block - kept);
    if (read < sizeof r->block - kept) {
        r->atEnd = true;  // the end of the file, or a read error, which ends the records alike
    }
    r->next = 0;
    r->end = kept + read;
    return r->end >= kDataSetRecordSize;
}

// Reads and checks the header of the reader's source and moves to the
// first record. False with the reason; the caller then frees the reader.
bool StartRecords(BlockReader* r, std::string* reason)
{
    unsigned char header[kDataSetHeaderSize];
    const size_t got = ReadSource(r, header, kDataSetHeaderSize);
    if (got != kDataSetHeaderSize && r->memory == nullptr && std::ferror(r->handle.file) != 0) {
        *reason = "cannot be read: " + SafeErrorText(errno);
        return false;
    }
    int32_t position = 0;
    if (!DataSetDecodeHeader(header, got, &position, reason)) {
        return false;
    }
    if (r->memory != nullptr) {
        // A position past the end leaves no records, as in a file.
        r->memoryAt = std::min(static_cast<size_t>(position), r->memorySize);
    } else if (std::fseek(r->handle.file, position, SEEK_SET) != 0) {
        *reason = "not a dataset: cannot seek to record position " + std::to_string(position);
        return false;
    }
    return true;
}

// A reader over file or memory (one of them null); null when out of memory.
BlockReader* NewReader(FILE* file, const unsigned char* memory, size_t memorySize, std::string* reason)
{
    // (cppcheck misreads the nothrow new as an unused allocation.)
    // cppcheck-suppress [unreadVariable,unusedAllocatedMemory]
    // The block is left uninitialised: it is always filled before it is read.
    BlockReader* reader = new (std::nothrow) BlockReader;
    if (reader == nullptr) {
        *reason = "out of memory";
        return nullptr;
    }
    reader->handle.file = file;
    reader->memory = memory;
    reader->memorySize = memorySize;
    reader->memoryAt = 0;
    reader->next = 0;
    reader->end = 0;
    reader->atEnd = false;
    return reader;
}

}  // namespace

DataSet* DataSetOpenChecked(const char* path, std::string* reason)
{
    FILE* file = SafeOpenInput(path, reason);
    if (file == nullptr) {
        return nullptr;
    }
    BlockReader* reader = NewReader(file, nullptr, 0, reason);
    if (reader == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    if (!StartRecords(reader, reason)) {
        DataSetClose(&reader->handle);
        return nullptr;
    }
    return &reader->handle;
}

DataSet* DataSetOpenMemory(const unsigned char* bytes, size_t size, std::string* reason)
{
    static const unsigned char kNoBytes[1] = {0};
    BlockReader* reader = NewReader(nullptr, bytes != nullptr ? bytes : kNoBytes, bytes != nullptr ? size : 0, reason);
    if (reader == nullptr) {
        return nullptr;
    }
    if (!StartRecords(reader, reason)) {
        DataSetClose(&reader->handle);
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
    return dataSet->file != nullptr && std::ferror(dataSet->file) != 0;
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
