// Held-out subjects: the subjects of a labelled set split into K groups,
// each group held out once while the others are the tuning part.
#ifndef EVALUATION_FOLDS_H
#define EVALUATION_FOLDS_H

#include <cstdint>
#include <string>
#include <vector>

// A stable 64-bit hash of a subject's name (FNV-1a of its bytes), the same
// on every machine and in every run.
uint64_t FoldsHash(const std::string& subject);

// The fold (0..k-1) of each subject: the distinct subjects are ordered by
// hash (then by name) and dealt out in turn, so every fold gets at least
// one subject when k is at most their number. subjects may repeat; the
// result has one entry per element of subjects.
std::vector<int> FoldsAssign(const std::vector<std::string>& subjects, int k);

#endif
