// Trials that share a name: takes of one trial, duplicates and stray
// copies.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "import_datasets.h"
#include "safe_files.h"

namespace {

constexpr std::size_t kCompareBlock = 65536;

// True when the files at a and b hold the same bytes (false when either
// cannot be read: the conversion says why).
bool SameBytes(const std::string& a, const std::string& b)
{
    std::string reason;
    FILE* fa = SafeOpenInput(a, &reason);
    if (fa == nullptr) {
        return false;
    }
    FILE* fb = SafeOpenInput(b, &reason);
    if (fb == nullptr) {
        std::fclose(fa);
        return false;
    }
    struct stat sa {};
    struct stat sb {};
    bool same = fstat(fileno(fa), &sa) == 0 && fstat(fileno(fb), &sb) == 0 && sa.st_size == sb.st_size;
    std::vector<char> ba(same ? kCompareBlock : 0);
    std::vector<char> bb(same ? kCompareBlock : 0);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, kCompareBlock, fa);
        const std::size_t nb = std::fread(bb.data(), 1, kCompareBlock, fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0 && std::ferror(fa) == 0 && std::ferror(fb) == 0;
        if (na < kCompareBlock) {
            break;
        }
    }
    std::fclose(fa);
    std::fclose(fb);
    return same;
}

bool SameSources(const std::string& rawBase, const ImportTrial& a, const ImportTrial& b)
{
    if (a.sources.size() != b.sources.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.sources.size(); ++i) {
        if (!SameBytes(rawBase + "/" + a.sources[i], rawBase + "/" + b.sources[i])) {
            return false;
        }
    }
    return true;
}

// "SA15" or "se02": a SisFall subject's folder name, upper-cased.
bool SubjectFolder(const std::string& name, std::string* upper)
{
    if (name.size() < 3) {
        return false;
    }
    upper->clear();
    for (const char c : name) {
        upper->push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (upper->compare(0, 2, "SA") != 0 && upper->compare(0, 2, "SE") != 0) {
        return false;
    }
    return upper->find_first_not_of("0123456789", 2) == std::string::npos;
}

// The folder of a SisFall trial's file when it is another subject's folder
// ("SA15" for SA15/D17_SE15_R01.txt); "" otherwise.
std::string StrayFolder(const ImportTrial& t)
{
    const std::string folder = ImportBaseName(ImportFolderOf(t.sources[0]));
    std::string upper;
    std::string subject;
    if (!SubjectFolder(folder, &upper) || !SubjectFolder(t.subject, &subject)) {
        return "";
    }
    return upper == subject ? "" : folder;
}

// True when the first non-blank line of the file is one annotation label
// (a lone 0, 1 or 2): a per-sample annotation, not a raw SisFall trial.
bool LooksLikeAnnotation(const std::string& path)
{
    std::string reason;
    FILE* file = SafeOpenInput(path, &reason);
    if (file == nullptr) {
        return false;
    }
    char head[256];
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    std::string_view text(head, n);
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r' || text.front() == ' ')) {
        text.remove_prefix(1);
    }
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos && n == sizeof head) {
        return false;
    }
    const std::string_view line = ImportTrim(text.substr(0, end));
    return line.size() == 1 && line[0] >= '0' && line[0] <= '2';
}

}  // namespace

const char* const kImportAnnotationNote =
    "a per-sample annotation (one label per line), not a raw trial: passed over (give its folder with --annotations)";

void ImportSortTakes(const ImportSettings& settings, const std::string& rawBase, std::vector<ImportTrial>* trials,
                     std::vector<ImportSkip>* skipped, std::vector<ImportSkip>* notes)
{
    std::vector<ImportTrial>& all = *trials;
    const bool sisfall = settings.dataset == ImportDataset::SisFall;
    std::vector<bool> drop(all.size(), false);
    if (sisfall) {
        for (ImportTrial& t : all) {
            const std::string folder = StrayFolder(t);
            if (!folder.empty()) {
                drop[static_cast<std::size_t>(&t - all.data())] = true;
                notes->push_back(ImportSkip{t.sources[0], 0,
                                            "a stray copy in subject " + folder + "'s folder, not subject " +
                                                t.subject + "'s own trial: passed over"});
            }
        }
    }
    // Trials grouped by name, each group in the order of its files.
    std::vector<uint32_t> order(all.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return all[a].name < all[b].name; });
    for (std::size_t from = 0; from < order.size();) {
        std::size_t to = from + 1;
        while (to < order.size() && all[order[to]].name == all[order[from]].name) {
            ++to;
        }
        std::vector<uint32_t> group;
        for (std::size_t k = from; k < to; ++k) {
            if (!drop[order[k]]) {
                group.push_back(order[k]);
            }
        }
        from = to;
        if (group.size() < 2) {
            continue;
        }
        std::vector<uint32_t> distinct;
        for (const uint32_t i : group) {
            ImportTrial& t = all[i];
            const auto same = std::find_if(distinct.begin(), distinct.end(),
                                           [&](uint32_t k) { return SameSources(rawBase, all[k], t); });
            if (same != distinct.end()) {
                drop[i] = true;
                notes->push_back(ImportSkip{
                    t.sources[0], 0, "the same bytes as " + all[*same].sources[0] + ": a duplicate, passed over"});
                continue;
            }
            if (sisfall && LooksLikeAnnotation(rawBase + "/" + t.sources[0])) {
                drop[i] = true;
                notes->push_back(ImportSkip{t.sources[0], 0, kImportAnnotationNote});
                continue;
            }
            if (settings.dataset == ImportDataset::Csv && !distinct.empty()) {
                drop[i] = true;
                skipped->push_back(ImportSkip{t.sources[0], 0,
                                              "its recording would be named " + t.name + ", as that of " +
                                                  all[distinct[0]].sources[0] +
                                                  " is; give each file its own subject and trial"});
                continue;
            }
            distinct.push_back(i);
        }
        if (distinct.size() < 2) {
            continue;
        }
        std::stable_sort(distinct.begin(), distinct.end(),
                         [&](uint32_t a, uint32_t b) { return all[a].stamp < all[b].stamp; });
        for (std::size_t k = 0; k < distinct.size(); ++k) {
            ImportTrial& t = all[distinct[k]];
            t.take = static_cast<int>(k + 1);
            if (k > 0) {
                t.name += "_t" + std::to_string(k + 1);
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!drop[i]) {
            if (kept != i) {
                all[kept] = std::move(all[i]);
            }
            ++kept;
        }
    }
    all.resize(kept);
}
