// SHA-256 digests of test outputs, as lower-case hex.
#ifndef TESTS_SHA256_H
#define TESTS_SHA256_H

#include <string>

std::string Sha256Hex(const std::string& data);

#endif
