// tumblewatch import: the public datasets as they download, or a user's
// CSV files, converted into recordings with a manifest.
#include <fmt/core.h>

#include <atomic>
#include <csignal>

#include "commands.h"
#include "evaluation.h"
#include "import.h"

CLI::App* CommandImportAdd(CLI::App* app, ImportOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "import",
        "Convert a public dataset (sisfall, mobifall, umafall) as downloaded, or CSV files of sensor columns (csv), "
        "into recordings with a manifest.csv and an import.json");
    command->add_option("DATASET", options->dataset, "sisfall, mobifall, umafall or csv")
        ->required()
        ->check(CLI::IsMember({"sisfall", "mobifall", "umafall", "csv"}));
    command
        ->add_option("RAW_DIR", options->rawDir,
                     "the folder the download unpacked into, or any folder above its files (csv: also one file)")
        ->required();
    command->add_option("OUT_DIR", options->outDir, "a new or empty folder for the recordings")->required();
    command->add_option("--format", options->format, "bin, csv or both")
        ->check(CLI::IsMember({"bin", "csv", "both"}))
        ->capture_default_str();
    options->threads = EvalHardwareThreads();
    command->add_option("-j,--jobs", options->threads, "worker threads (default: every hardware thread)")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    command->add_option("--axes", options->axes,
                        "axis map replacing the dataset's, e.g. y,-x,z (a rotation: a signed permutation, det +1)");
    command->add_flag("-q,--quiet", options->quiet, "no summary and no progress on the terminal");
    command
        ->add_option("--annotations", options->annotations,
                     "sisfall: the folder of the per-sample annotation (SAnn/Fnn_SAnn_Rnn.txt); the manifest gets "
                     "each recording's fall and alert samples")
        ->type_name("DIR");
    command->add_flag("--annotate", options->annotate,
                      "with --annotations: annotate an earlier import instead; RAW_DIR is its manifest.csv, OUT_DIR "
                      "the annotated manifest to write (rows matched by their source)");

    const std::string group = "csv (the layout of the files)";
    command
        ->add_option("--columns", options->columns,
                     "fields of ax,ay,az,gx,gy,gz and optionally t, e.g. t=1,ax=3,ay=4,az=5,gx=6,gy=7,gz=8")
        ->group(group);
    command->add_option("--delimiter", options->delimiter, "the field separator (one character, or 'tab')")
        ->group(group)
        ->capture_default_str();
    command->add_option("--skip", options->skip, "header lines at the top of every file")
        ->group(group)
        ->check(CLI::NonNegativeNumber);
    command->add_option("--accel-unit", options->accelUnit, "g, m/s2 or counts:K (K counts per g)")
        ->group(group)
        ->capture_default_str();
    command->add_option("--gyro-unit", options->gyroUnit, "dps, rad/s or counts:K (K counts per deg/s)")
        ->group(group)
        ->capture_default_str();
    command->add_option("--rate", options->rate, "uniform samples at HZ per second (at most 1000000)")
        ->group(group)
        ->type_name("HZ");
    command->add_option("--time-unit", options->timeUnit, "the t column's unit: s, ms, us or ns")
        ->group(group)
        ->type_name("UNIT");
    command->add_option("--files", options->files, "which file names are recordings")
        ->group(group)
        ->capture_default_str();
    command->add_option("--fall", options->fall, "relative paths of falls (pattern with * and ?; repeatable)")
        ->group(group)
        ->type_name("GLOB")
        ->allow_extra_args(false);
    command->add_option("--adl", options->adl, "relative paths of ADLs (pattern with * and ?; repeatable)")
        ->group(group)
        ->type_name("GLOB")
        ->allow_extra_args(false);
    command->add_option("--subject", options->subject, "regular expression on the relative path: group 1 the subject")
        ->group(group);
    command->add_option("--trial", options->trial, "regular expression on the relative path: group 1 the trial")
        ->group(group);
    command
        ->add_option("--activity", options->activity,
                     "regular expression on the relative path: group 1 the activity (default: the file name)")
        ->group(group);
    options->command = command;
    return command;
}

namespace {

constexpr std::size_t kNotesShown = 20;

// The settings of the command line; false with a message.
bool SettingsOf(const ImportOptions& options, ImportSettings* settings, std::string* error)
{
    ImportDatasetOf(options.dataset, &settings->dataset);
    settings->rawDir = options.rawDir;
    settings->outDir = options.outDir;
    settings->format = options.format == "csv" ? ImportFormat::Csv
                                               : (options.format == "both" ? ImportFormat::Both : ImportFormat::Bin);
    settings->threads = options.threads;
    settings->progress = !options.quiet;
    settings->keepRecordings = false;
    settings->annotationDir = options.annotations;
    if (!options.annotations.empty() && settings->dataset != ImportDataset::SisFall) {
        *error = "--annotations is an option of sisfall (only SisFall has a per-sample annotation)";
        return false;
    }
    settings->axesGiven = !options.axes.empty();
    if (settings->axesGiven && !ImportAxesParse(options.axes, &settings->axes, error)) {
        *error = "--axes: " + *error;
        return false;
    }
    settings->csv = ImportCsvDefaults();
    const bool csv = settings->dataset == ImportDataset::Csv;
    for (const char* name : {"--columns", "--delimiter", "--skip", "--accel-unit", "--gyro-unit", "--rate",
                             "--time-unit", "--files", "--fall", "--adl", "--subject", "--trial", "--activity"}) {
        if (!csv && options.command->count(name) > 0) {
            *error = std::string(name) + " is an option of the csv dataset; " + options.dataset +
                     " has its own layout (see tumblewatch import --help)";
            return false;
        }
    }
    if (!csv) {
        return true;
    }
    ImportCsvSettings& c = settings->csv;
    if (options.columns.empty()) {
        *error = "csv needs --columns, e.g. --columns t=1,ax=2,ay=3,az=4,gx=5,gy=6,gz=7";
        return false;
    }
    if (!ImportParseColumns(options.columns, &c, error) || !ImportParseAccelUnit(options.accelUnit, &c, error) ||
        !ImportParseGyroUnit(options.gyroUnit, &c, error) ||
        (!options.timeUnit.empty() && !ImportParseTimeUnit(options.timeUnit, &c, error))) {
        return false;
    }
    if (options.delimiter == "tab" || options.delimiter == "\\t") {
        c.delimiter = '\t';
    } else if (options.delimiter.size() == 1) {
        c.delimiter = options.delimiter[0];
    } else {
        *error = "--delimiter '" + options.delimiter + "': one character, or 'tab'";
        return false;
    }
    c.skipLines = options.skip;
    if (options.command->count("--rate") > 0 && !(options.rate > 0 && options.rate <= 1e6)) {
        *error = fmt::format("--rate {}: must be a finite, positive number of samples per second, at most 1000000",
                             options.rate);
        return false;
    }
    c.rateHz = options.rate;
    c.filesGlob = options.files;
    c.fallGlobs = options.fall;
    c.adlGlobs = options.adl;
    c.subjectRegex = options.subject;
    c.trialRegex = options.trial;
    c.activityRegex = options.activity;
    return true;
}

std::string Plural(std::size_t n, const char* one, const char* many)
{
    return fmt::format("{} {}", n, n == 1 ? one : many);
}

void Summary(const ImportSettings& settings, const ImportResult& result)
{
    const std::size_t made = static_cast<std::size_t>(result.made);
    CommandPrintFormat(
        "tumblewatch import {}: {} ({} falls, {} ADLs, {} unlabelled), {}{}\n", ImportDatasetName(settings.dataset),
        Plural(made, "recording", "recordings"), result.falls, result.adls, result.made - result.falls - result.adls,
        Plural(result.skipped.size(), "file skipped", "files skipped"),
        result.notes.empty() ? std::string() : ", " + Plural(result.notes.size(), "file", "files") + " passed over");
    if (!settings.annotationDir.empty()) {
        CommandPrintFormat("  {} annotated, {} without the annotation's timing\n", made - result.unannotated.size(),
                           result.unannotated.size());
    }
    CommandPrintFormat("  {} samples ({:.1f} min at 50 per second), {} clipped in {}\n", result.samples,
                       static_cast<double>(result.samples) / 50.0 / 60.0,
                       Plural(static_cast<std::size_t>(result.clipped), "value", "values"),
                       Plural(static_cast<std::size_t>(result.clippedRecordings), "recording", "recordings"));
    const double mb = static_cast<double>(result.rawBytes) / 1e6;
    CommandPrintFormat("  {:.1f} MB of raw text in {:.2f} s on {} ({:.1f} MB/s)\n", mb, result.seconds,
                       Plural(static_cast<std::size_t>(result.threadsUsed), "thread", "threads"),
                       result.seconds > 0 ? mb / result.seconds : 0.0);
    const char* kind = settings.format == ImportFormat::Csv ? ".csv" : ".bin";
    std::string written = fmt::format("{} {} files{}", made, kind,
                                      settings.format == ImportFormat::Both ? " (and their .csv twins)" : "");
    if (result.manifestWritten) {
        written += ", manifest.csv, import.json";
    } else {
        written += result.reportWritten ? ", import.json (manifest.csv could not be written)"
                                        : " (import.json and manifest.csv could not be written)";
    }
    CommandPrintFormat("  written to {}: {}\n", settings.outDir, written);
}

// Set by SIGINT or SIGTERM while an import runs: the import stops
// starting trials and cleans up. (A signal handler can reach nothing else.)
std::atomic<bool> interrupted{false};
std::atomic<int> interruptSignal{0};

extern "C" void OnInterrupt(int signal)
{
    interruptSignal.store(signal);
    interrupted.store(true);
}

// tumblewatch import sisfall MANIFEST NEW_MANIFEST --annotations DIR --annotate
int CommandAnnotateRun(const ImportOptions& options, const ImportSettings& settings)
{
    if (settings.dataset != ImportDataset::SisFall || options.annotations.empty()) {
        CommandError("--annotate needs sisfall and --annotations DIR");
        return kExitUsage;
    }
    ImportAnnotated result;
    std::string error;
    const int status = ImportAnnotateManifest(options.rawDir, options.annotations, options.outDir, &result, &error);
    if (status == kImportRefused) {
        CommandError(error);
        return kExitUsage;
    }
    if (!options.quiet) {
        CommandPrintFormat(
            "tumblewatch import sisfall --annotate: {} annotated, {} without the timing; written to "
            "{}\n",
            result.annotated, result.unannotated.size(), options.outDir);
    }
    std::fflush(stdout);
    for (const ImportSkip& s : result.unannotated) {
        CommandError("not annotated " + s.source + ": " + s.reason);
    }
    return status == kImportSomeSkipped ? kExitUnreadable : kExitOk;
}

// Catches SIGINT and SIGTERM (once: a second one ends the program at
// once) for as long as it lives; which came first is then signal().
class InterruptGuard {
public:
    InterruptGuard()
    {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~InterruptGuard()
    {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace

int CommandImportRun(const ImportOptions& options)
{
    ImportSettings settings{};
    std::string error;
    if (!SettingsOf(options, &settings, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (options.annotate) {
        return CommandAnnotateRun(options, settings);
    }
    ImportResult result;
    const int status = [&] {
        const InterruptGuard guard;
        settings.stop = &interrupted;
        return ImportRun(settings, &result, &error);
    }();
    if (status == kImportStopped) {
        CommandError(error);
        return 128 + interruptSignal.load();  // as a shell reports a program the signal ended
    }
    if (status == kImportRefused && result.made == 0 && result.skipped.empty() && !result.reportWritten) {
        CommandError(error);
        return kExitUsage;
    }
    if (!options.quiet) {
        Summary(settings, result);
    }
    std::fflush(stdout);
    // Notes come by the thousand when RAW_DIR holds the annotation too: the
    // first few here, every one in import.json.
    for (std::size_t i = 0; i < result.notes.size() && i < kNotesShown; ++i) {
        CommandError("passed over " + result.notes[i].source + ": " + result.notes[i].reason);
    }
    if (result.notes.size() > kNotesShown) {
        CommandError(
            fmt::format("passed over {} more files (import.json lists them)", result.notes.size() - kNotesShown));
    }
    for (const ImportSkip& s : result.skipped) {
        CommandError("skipped " + s.source + (s.line > 0 ? ", line " + std::to_string(s.line) : "") + ": " + s.reason);
    }
    for (const ImportSkip& s : result.unannotated) {
        CommandError("not annotated " + s.source + ": " + s.reason);
    }
    if (status == kImportRefused) {
        CommandError(error);
        return kExitUsage;
    }
    return status == kImportSomeSkipped ? kExitUnreadable : kExitOk;
}
