// The binary dataset format, encoded and decoded in this one place: a
// 24-byte header (a 20-byte magic field holding "QX DataSet V1.0.0" and a
// zero byte, then the signed 32-bit byte position of the first record)
// followed by 12-byte records of six signed 16-bit counts (accel X, Y, Z,
// gyro X, Y, Z). Every integer is little-endian and is handled byte by
// byte, so the code is right on any host.
#ifndef RECORDING_DATASET_FORMAT_H
#define RECORDING_DATASET_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tumblewatch.h"

// The magic text; a file is a dataset when its first 18 bytes are these 17
// characters and a zero byte (bytes 18 and 19 are not examined).
constexpr char kDataSetMagic[] = "QX DataSet V1.0.0";
constexpr std::size_t kDataSetMagicField = 20;  // bytes
constexpr std::size_t kDataSetHeaderSize = 24;  // bytes: magic field and record position
constexpr std::size_t kDataSetRecordSize = 12;  // bytes per sample
constexpr int32_t kDataSetFirstRecord = 24;     // the record position the project's writers use

// Decodes the 12 bytes at in into a sample.
ImuSample DataSetDecodeRecord(const unsigned char* in);

// Encodes a sample into the 12 bytes at out.
void DataSetEncodeRecord(const ImuSample& sample, unsigned char* out);

// Checks a header (the first size bytes of a file, at least the 24 of a
// header when the file has them). True with the record position in
// *position; false with the failed check in plain words in *reason: the
// file ends inside its header, the magic text differs, the position is
// negative.
bool DataSetDecodeHeader(const unsigned char* header, std::size_t size, int32_t* position, std::string* reason);

// The bytes of a whole dataset file: the header with the given record
// position, zero bytes up to that position (when it lies beyond the
// header), then the records. A position below 24 is written as given, so
// the records start at byte 24 all the same.
std::string DataSetImage(const std::vector<ImuSample>& samples, int32_t position = kDataSetFirstRecord);

#endif
