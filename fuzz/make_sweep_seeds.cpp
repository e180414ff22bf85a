// Writes the seed files of the sweep_resume target into the folder named on
// the command line: each fixture sweep's output, whole, cut after a few
// rows, and with a torn last line, each behind the byte that chooses the
// sweep.
#include <cstdio>
#include <string>

#include "sweep_fixture.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const char* names[4] = {"csv", "jsonl", "csv_folds", "jsonl_folds"};
    for (int variant = 0; variant < 4; ++variant) {
        const std::string whole = fuzz::SweepFixtureText(variant, 1000);
        const std::string some = fuzz::SweepFixtureText(variant, 4);
        const std::string torn = whole.substr(0, whole.size() - 9);
        const std::pair<const char*, std::string> files[] = {{"whole", whole}, {"some", some}, {"torn", torn}};
        for (const auto& [what, text] : files) {
            const std::string path = std::string(argv[1]) + "/" + names[variant] + "_" + what;
            FILE* f = std::fopen(path.c_str(), "wb");
            const char choice = static_cast<char>(variant);
            if (f == nullptr || std::fwrite(&choice, 1, 1, f) != 1 ||
                std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
                std::perror(path.c_str());
                return 1;
            }
        }
    }
    return 0;
}
