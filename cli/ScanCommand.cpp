// `kestrum-recover scan`: finds files on a source, lists them, and saves them,
// through the same engine calls as the desktop pages, writing the same log blocks.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "Args.h"
#include "Cli.h"
#include "CliPrompter.h"
#include "Listing.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "ScanSessionOption.h"
#include "SourceArg.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "filetypes/Catalogue.h"
#include "preview/PreviewCopy.h"
#include "saving/SavingRun.h"
#include "scan/DamageMark.h"
#include "scan/ResultsPage.h"
#include "scan/ScanDriver.h"

namespace kestrum::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kestrum-recover scan SOURCE [--types T1,T2|all] [--max-kb TYPE=KB]... "
    "[--range START:END] [--list] [--save DIR] [--on-exists keep-both|ask|replace|skip] "
    "[--on-bad-sector ask|retry|skip] [--classic] [--session FILE [--save-every SECONDS]] "
    "[--map FILE]\n";

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

bool isCatalogueType(const std::string& name) {
    const auto rows = catalogueRows();
    return isThoroughOnly(name) ||
           std::any_of(rows.begin(), rows.end(),
                       [&](const CatalogueRow& r) { return r.type == name; });
}

// Levenshtein distance, for "did you mean" on a mistyped type.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The catalogue type a user most likely meant by name (upper case): the name a
// file extension gives it, else the nearest name one or two letters away.
std::string likelyType(const std::string& name) {
    static const std::map<std::string, std::string> kExtensions{
        {"JPG", "JPEG"}, {"JPE", "JPEG"}, {"JFIF", "JPEG"}, {"TIF", "TIFF"}, {"MPG", "MPEG"},
        {"MPE", "MPEG"}, {"M1V", "MPEG"}, {"M2V", "MPEG"},  {"MID", "MIDI"}, {"AIF", "AIFF"},
        {"J2K", "JP2"},  {"JPX", "JP2"},  {"QT", "MOV"},    {"3GP", "3G2"},  {"M4A", "MP4"},
        {"RA", "RM"},    {"RMVB", "RM"},  {"OGA", "OGG"},   {"WMV", "ASF"},  {"SND", "AU"},
    };
    if (const auto it = kExtensions.find(name); it != kExtensions.end()) return it->second;
    std::string best;
    size_t bestDistance = name.size() < 4 ? 2 : 3;  // no guess from a short word's rewrite
    for (const CatalogueRow& row : catalogueRows()) {
        const size_t d = editDistance(name, std::string(row.type));
        if (d < bestDistance) {
            bestDistance = d;
            best = row.type;
        }
    }
    return best;
}

struct TypeChoice {
    bool all = false;
    std::vector<SelectedType> rows;  // catalogue order
};

// Thorough detection unless the classic rules are asked for; --thorough is still
// accepted and changes nothing.
bool thoroughScan(const ParsedArgs& args) {
    return args.flags.count("--classic") == 0;
}

bool chooseTypes(const ParsedArgs& args, TypeChoice& choice, std::string& error) {
    const std::string list = args.value("--types", "all");
    std::vector<std::string> wanted;
    if (upper(list) == "ALL") {
        choice.all = true;
    } else {
        for (const std::string& t : splitList(list)) {
            if (!isCatalogueType(upper(t))) {
                const std::string guess = likelyType(upper(t));
                error = "Unknown file type \"" + t + "\"." +
                        (guess.empty() ? "" : " Did you mean " + guess + "?") +
                        " Run \"kestrum-recover types\" to see the types, or use --types all.";
                return false;
            }
            if (isThoroughOnly(upper(t)) && !thoroughScan(args)) {
                error =
                    upper(t) + " is recognised by thorough detection only: scan without --classic.";
                return false;
            }
            wanted.push_back(upper(t));
        }
        if (wanted.empty()) {
            error = "Select the Extention: --types needs at least one type, or all.";
            return false;
        }
    }
    std::map<std::string, std::string> sizes;
    if (const auto it = args.values.find("--max-kb"); it != args.values.end()) {
        for (const std::string& item : it->second) {
            const size_t eq = item.find('=');
            const std::string type = upper(item.substr(0, eq));
            if (eq == std::string::npos || !isCatalogueType(type)) {
                const std::string guess = eq == std::string::npos ? "" : likelyType(type);
                error =
                    "--max-kb takes TYPE=KB with a type from \"kestrum-recover types\", not \"" +
                    item + "\"." + (guess.empty() ? "" : " Did you mean " + guess + "?");
                return false;
            }
            const std::string kb = item.substr(eq + 1);
            uint32_t value = 0;
            const auto [end, ec] = std::from_chars(kb.data(), kb.data() + kb.size(), value);
            if (kb.empty() || ec != std::errc() || end != kb.data() + kb.size() || value < 2 ||
                value > 250000) {
                error = "--max-kb " + item + ": the maximum size of " + type +
                        " is a whole number of KB from 2 to 250000.";
                return false;
            }
            sizes[type] = kb;
            // Thorough detection takes the default size as "no cap of yours": say so
            // rather than let the option be ignored without a word.
            if (value == static_cast<uint32_t>(kDefaultSizeKb) && thoroughScan(args))
                std::fprintf(stderr,
                             "--max-kb %s: %u KB is the default, which thorough detection does "
                             "not cut files at; give another size to cap %s files.\n",
                             item.c_str(), value, type.c_str());
        }
    }
    for (const CatalogueRow& row : offeredRows(thoroughScan(args))) {
        const std::string type(row.type);
        if (!choice.all && std::find(wanted.begin(), wanted.end(), type) == wanted.end()) continue;
        const auto size = sizes.find(type);
        const std::string text = size == sizes.end() ? kDefaultSizeText : size->second;
        bool corrected = false;
        sizeKbFromText(text, &corrected);
        if (corrected)
            std::fprintf(stderr,
                         "Maximum size \"%s\" for %s is outside 2..250000 KB; using 2000.\n",
                         text.c_str(), type.c_str());
        choice.rows.push_back({type, text});
    }
    return true;
}

std::vector<std::string> typeNames(const TypeChoice& choice) {
    std::vector<std::string> names;
    for (const auto& row : choice.rows) names.push_back(row.type);
    return names;
}

// Runs the scan on its worker, showing progress and listing files as they are
// settled; Ctrl-C, or a listing nobody reads any more, stops it at a batch end.
bool runScan(uint64_t start, uint64_t end, FoundListing* listing, ScanHooks hooks) {
    Session& s = session();
    ResultsPage page;
    const std::time_t started = std::time(nullptr);
    ProgressLine progress(start, end);
    startScan(page, std::move(hooks));
    bool stopAsked = false;
    for (bool ended = false; !ended;) {
        ended = s.scanThread.waitUntilIdleFor(std::chrono::milliseconds(5));
        progress.update(page.scanPosition.load(), s.foundFiles.size());
        if (listing && !listing->printNew() && !stopAsked) {
            s.scanStopRequested = 1;
            stopAsked = true;
        }
        if (interrupted() && !stopAsked) {
            s.scanStopRequested = 1;
            stopAsked = true;
            std::fprintf(stderr, "\nStopping at the end of the current batch...\n");
        }
    }
    progress.finish();
    if (listing) listing->printNew();
    s.resultsPage = nullptr;
    RemoveTempPreviews();
    const bool aborted = s.scanStopRequested.load() != 0;
    appendLines(LogKind::Activity,
                scanEndReport(page, s.foundFiles.size(), started, std::time(nullptr), aborted));
    return !aborted;
}

// Saves every found file into dir/TYPE/. False when some file could not be saved
// or none was: a run that saved nothing has not done what was asked.
bool runSave(const std::string& dir, bool& stopped) {
    Session& s = session();
    s.foundFiles.forEach([](FileInfo& f) { f.checked = 1; });
    // Now that the files are known: do they fit?
    if (const std::string refusal = checkSavingDestination(dir); !refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return false;
    }
    SavingRun run(dir);
    SaveProgressLine progress;
    run.start();
    bool stopAsked = false;
    for (bool ended = false; !ended;) {
        ended = saveThread().waitUntilIdleFor(std::chrono::milliseconds(5));
        progress.update(run.savedCount.load() + run.keptCount.load() + run.failedCount.load(),
                        run.totalCount.load(), run.bytesCopied.load());
        if (interrupted() && !stopAsked) {
            stopAsked = run.stop([] { return true; });
            std::fprintf(stderr, "\nStopping after the current file...\n");
        }
    }
    progress.finish();
    std::fprintf(stderr, "%s (%s saved into %s)\n", run.finalMessage().c_str(),
                 run.countText().c_str(), dir.c_str());
    if (const std::string first = run.firstError.load(); !first.empty())
        std::fprintf(stderr, "%s\n", first.c_str());
    stopped = run.outcome() == SavingOutcome::Aborted;
    return run.failedCount.load() == 0 && run.outcome() != SavingOutcome::NothingWritten;
}

void printSummary(bool completed, uint64_t start, uint64_t end, uint64_t zeroed) {
    const auto files = session().foundFiles.snapshot();
    std::map<std::string, int> perType;
    for (const auto& f : files) ++perType[f.extName];
    std::string counts;
    for (const auto& [type, n] : perType)
        counts += (counts.empty() ? "" : ", ") + type + " " + std::to_string(n);
    std::fprintf(stderr, "%s: %zu file(s) found in sectors %llu to %llu%s%s%s\n",
                 completed ? "Analysing Completed" : "Analysing Aborted", files.size(),
                 static_cast<unsigned long long>(start), static_cast<unsigned long long>(end),
                 counts.empty() ? "" : " (", counts.c_str(), counts.empty() ? "" : ")");
    if (zeroed > 0)
        std::fprintf(stderr, "%llu unreadable sector(s) were read as zeros.\n",
                     static_cast<unsigned long long>(zeroed));
}

}  // namespace

int scanCommand(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args,
                   {"--types", "--max-kb", "--range", "--save", "--on-exists", "--on-bad-sector",
                    "--session", "--save-every", "--map"},
                   {"--list", "--thorough", "--classic"}, parsed, error) ||
        parsed.positional.size() != 1) {
        std::fprintf(stderr, "kestrum-recover scan: %s\n%s",
                     error.empty() ? "give exactly one SOURCE." : error.c_str(), kUsage);
        return kExitUsage;
    }
    if (parsed.flags.count("--classic") && parsed.flags.count("--thorough")) {
        std::fprintf(stderr,
                     "kestrum-recover scan: --classic and --thorough exclude each other: give "
                     "one of them (thorough is the default).\n%s",
                     kUsage);
        return kExitUsage;
    }
    // Nothing already in DIR is lost, and nothing found is dropped, unless asked for.
    const std::string onExists = parsed.value("--on-exists", "keep-both");
    // A person at a terminal is asked about a bad sector; a script gets zeros.
    const std::string onBad =
        parsed.value("--on-bad-sector", CliPrompter::terminalAttached() ? "ask" : "skip");
    if (onExists != "ask" && onExists != "replace" && onExists != "skip" &&
        onExists != "keep-both") {
        std::fprintf(stderr,
                     "kestrum-recover scan: --on-exists takes keep-both, ask, replace or skip, "
                     "not \"%s\".\n",
                     onExists.c_str());
        return kExitUsage;
    }
    if (onBad != "ask" && onBad != "retry" && onBad != "skip") {
        std::fprintf(stderr,
                     "kestrum-recover scan: --on-bad-sector takes ask, retry or skip, not "
                     "\"%s\".\n",
                     onBad.c_str());
        return kExitUsage;
    }
    TypeChoice types;
    SourceInfo source;
    uint64_t start = 0, end = 0;
    if (!chooseTypes(parsed, types, error) || !selectSource(parsed.positional[0], source, error) ||
        !parseRange(parsed.value("--range", ":"), source.sizeSectors, start, end, error)) {
        std::fprintf(stderr, "kestrum-recover scan: %s\n", error.c_str());
        return kExitUsage;
    }
    // A rescue map of the source: files over its unreadable areas are marked damaged.
    std::optional<RescueMap> rescueMap;
    std::optional<uint64_t> mapOffset;
    if (parsed.has("--map")) {
        rescueMap = loadRescueMap(parsed.value("--map"), &error);
        if (!rescueMap) {
            std::fprintf(stderr, "kestrum-recover scan: %s\n",
                         error.empty() ? ("There is no map " + parsed.value("--map") + ".").c_str()
                                       : error.c_str());
            return kExitUsage;
        }
        mapOffset =
            scannedMapOffset(*rescueMap, parsed.value("--map"), parsed.positional[0], &error);
        if (!mapOffset) {
            std::fprintf(stderr, "kestrum-recover scan: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    const std::string saveDir = parsed.value("--save");
    if (!saveDir.empty()) {
        if (!prepareOutputFolder(saveDir, error)) {
            std::fprintf(stderr, "kestrum-recover scan: %s\n", error.c_str());
            return kExitUsage;
        }
        if (const std::string refusal = checkSavingDestination(saveDir); !refusal.empty()) {
            std::fprintf(
                stderr, "kestrum-recover scan: %s%s\n", refusal.c_str(),
                refusal == "Select the valid path."
                    ? (" The folder " + saveDir + " does not exist; create it first.").c_str()
                    : "");
            return kExitUsage;
        }
    }

    CliPrompter prompts(onExists == "ask"       ? ExistsPolicy::Ask
                        : onExists == "replace" ? ExistsPolicy::Replace
                        : onExists == "skip"    ? ExistsPolicy::Skip
                                                : ExistsPolicy::KeepBoth,
                        onBad == "ask"     ? BadSectorPolicy::Ask
                        : onBad == "retry" ? BadSectorPolicy::Retry
                                           : BadSectorPolicy::Skip,
                        CliPrompter::terminalAttached());
    setPrompter(&prompts);
    catchInterrupt();

    Session& s = session();
    appendLines(LogKind::Activity,
                startOfRunLines(s.windowTitle.load(), s.versionText.load(), std::time(nullptr)));
    commitSource(WorkMode::MediaRecovery, source, start, end);
    appendLines(LogKind::Activity, typeSelectionBlock(types.all, typeNames(types)));
    const bool thorough = thoroughScan(parsed);
    s.thoroughMode = thorough;
    s.fileTypes = buildSelection(types.rows, thorough);
    s.foundFiles.clear();

    ScanHooks hooks;
    const auto recorded = openScanSession(parsed, parsed.positional[0], source.sizeSectors * 512,
                                          start, end, s.fileTypes, error);
    if (!error.empty()) {
        std::fprintf(stderr, "kestrum-recover scan: %s\n", error.c_str());
        setPrompter(nullptr);
        return kExitUsage;
    }
    if (recorded) {
        hooks = recorded->begin(s.fileTypes, s.foundFiles);
        if (recorded->resumed())
            std::fprintf(
                stderr, "Continuing the recorded scan at sector %llu (%zu file(s) found before).\n",
                static_cast<unsigned long long>(recorded->resumeSector()),
                recorded->recordedFiles());
        appendLog(LogKind::Activity, "Scan Session : " + parsed.value("--session") +
                                         (recorded->resumed() ? " (continued)" : " (new)"));
    }
    const uint64_t zeroedBefore = unreadableSectors();
    std::optional<FoundListing> listing;
    // With a map a file's damage is known only once the scan has ended: the list
    // then comes whole at the end.
    if (parsed.flags.count("--list") && !rescueMap) listing.emplace(thorough);
    const bool completed = runScan(start, end, listing ? &*listing : nullptr, std::move(hooks));
    if (recorded && !recorded->saveError().empty())
        std::fprintf(stderr, "%s\n", recorded->saveError().c_str());
    clearInterrupt();
    if (listing && listing->gone()) {
        // The reader has what it wanted: end quietly, the scan logged as aborted.
        setPrompter(nullptr);
        FoundListing::endAsBrokenPipe();
    }
    std::vector<FileInfo> damaged;
    if (rescueMap) {
        damaged = markDamaged(s.foundFiles, *rescueMap, *mapOffset);
        appendLines(LogKind::Activity, damageLogLines(parsed.value("--map"), damaged));
        if (parsed.flags.count("--list")) FoundListing(thorough, true).printNew();
    }

    bool saveStopped = false, saved = true;
    if (!saveDir.empty() && !s.foundFiles.empty()) saved = runSave(saveDir, saveStopped);
    if (!saveDir.empty() && !damaged.empty())
        appendLines(LogKind::Recovery, damageLogLines(parsed.value("--map"), damaged));
    if (!damaged.empty())
        std::fprintf(stderr, "%zu file(s) hold sectors the map %s calls unreadable.\n",
                     damaged.size(), parsed.value("--map").c_str());
    printSummary(completed, start, end, unreadableSectors() - zeroedBefore);
    setPrompter(nullptr);
    s.fileTypes.clear();
    s.thoroughMode = false;
    if (!completed || saveStopped) return kExitStopped;
    return saved ? kExitDone : kExitFailed;
}

}  // namespace kestrum::cli
