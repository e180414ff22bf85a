// Splitting subjects into folds.
#include "folds.h"

#include <algorithm>
#include <map>

uint64_t FoldsHash(const std::string& subject)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (const unsigned char c : subject) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::vector<int> FoldsAssign(const std::vector<std::string>& subjects, int k)
{
    std::vector<std::pair<uint64_t, std::string>> distinct;
    for (const std::string& s : subjects) {
        distinct.emplace_back(FoldsHash(s), s);
    }
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::map<std::string, int> fold;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        fold[distinct[i].second] = static_cast<int>(i % static_cast<std::size_t>(k));
    }
    std::vector<int> folds;
    folds.reserve(subjects.size());
    for (const std::string& s : subjects) {
        folds.push_back(fold[s]);
    }
    return folds;
}
