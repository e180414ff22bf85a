// Binary dataset reader. All integers on disk are little-endian and are
// decoded byte by byte, so the reader is right on any host. Records are
// read ahead in blocks.
#include "dataset.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

constexpr char kMagic[] = "QX DataSet V1.0.0";  // compared with its zero byte
constexpr size_t kHeaderSize = 24;
constexpr size_t kRecordSize = 12;

int16_t Int16At(const unsigned char* p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t Int32At(const unsigned char* p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(u);
}

// The reader behind a DataSet handle: the handle, then a block of the
// file read ahead, so that records come from memory and the file is read
// in blocks of many records, not 12 bytes at a time. DataSetOpen hands out
// the address of the first member; the functions below convert it back.
constexpr size_t kBlockRecords = 4096;

struct BlockReader {
    DataSet handle;  // first member: a DataSet* is a BlockReader*
    size_t next;     // first unread byte of block
    size_t end;      // end of the bytes read into block
    bool atEnd;      // the file has no more bytes (or a read failed)
    unsigned char block[kBlockRecords * kRecordSize];
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
    if (r->end - r->next >= kRecordSize) {
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
    return r->end >= kRecordSize;
}

}  // namespace

DataSet* DataSetOpen(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }

    unsigned char header[kHeaderSize];
    const bool whole = std::fread(header, 1, kHeaderSize, file) == kHeaderSize;
    const bool magic = whole && std::memcmp(header, kMagic, sizeof(kMagic)) == 0;
    const int32_t position = whole ? Int32At(header + 20) : -1;
    if (!magic || position < 0 || std::fseek(file, position, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }

    // (cppcheck misreads the nothrow new as an unused allocation.)
    // cppcheck-suppress [unreadVariable,unusedAllocatedMemory]
    BlockReader* reader = new (std::nothrow) BlockReader{DataSet{file}, 0, 0, false, {}};
    if (reader == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    return &reader->handle;
}

int DataSetRead(DataSet* dataSet, ImuSample* records, int count)
{
    BlockReader* r = ReaderOf(dataSet);
    int read = 0;
    while (read < count && FillBlock(r)) {
        const unsigned char* raw = r->block + r->next;
        ImuSample& s = records[read];
        s.accX = Int16At(raw + 0);
        s.accY = Int16At(raw + 2);
        s.accZ = Int16At(raw + 4);
        s.gyroX = Int16At(raw + 6);
        s.gyroY = Int16At(raw + 8);
        s.gyroZ = Int16At(raw + 10);
        r->next += kRecordSize;
        ++read;
    }
    return read;
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
