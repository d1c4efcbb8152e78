// lanrove-cli firmware: what the firmware folders hold for one camera model (per component the
// pattern, the folder and the file an update would take) and whether one firmware file can be
// read, so that a technician can check the folders before going on site. No network is used.
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "firmware/firmware_catalogue.h"
#include "firmware/search_file_ctrl.h"
#include "support/program_paths.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove::cli {

namespace {

namespace fs = std::filesystem;

struct Options {
    std::string model;
    bool bModelGiven = false;
    int generation = 2;
    bool bJson = false;
    std::string file;
    std::string home;
};

const char* kindName(std::uint16_t kind) {
    switch (kind) {
        case kKindCamMain:
            return "camera main";
        case kKindCamSub:
            return "camera sub";
        case kKindNetMain:
            return "network main";
        case kKindNetSub:
            return "network sub";
        case kKindMecMain:
            return "mechanism";
        case kKindIoMain:
            return "I/O";
        default:
            return "?";
    }
}

std::string readError(int code) {
    switch (code) {
        case CSearchFileCtrl::kReadNotSelected:
            return "no such file";
        case CSearchFileCtrl::kReadVanished:
            return "the file vanished";
        case CSearchFileCtrl::kReadEmpty:
            return "the file is empty";
        case CSearchFileCtrl::kReadTooLarge:
            return "the file is larger than a firmware image can be";
        case CSearchFileCtrl::kReadShort:
            return "the file ended before its size";
        case CSearchFileCtrl::kReadNoMemory:
            return "not enough memory to read the file";
        default:
            return std::system_category().message(code);
    }
}

// The rows a camera of this model and generation walks through, in order.
std::vector<const FirmwareCatalogueRow*> modelRows(const Options& o) {
    std::vector<const FirmwareCatalogueRow*> rows;
    const std::u16string key = o.generation == 1 ? std::u16string() : fromUtf8(o.model);
    for (std::uint16_t i = 0;; ++i) {
        const FirmwareCatalogueRow* row =
            FindCatalogueRow(static_cast<std::uint16_t>(o.generation), i, key);
        if (row == nullptr) break;
        rows.push_back(row);
    }
    return rows;
}

int listModel(const Options& o, const ProgramPaths& paths) {
    const std::vector<const FirmwareCatalogueRow*> rows = modelRows(o);
    if (rows.empty()) {
        std::fprintf(stderr,
                     "lanrove-cli firmware: no firmware for model '%s' (generation %d): it is "
                     "not in the catalogue\n",
                     o.model.c_str(), o.generation);
        return kExitFailure;
    }
    if (o.generation == 1 && o.bModelGiven)
        std::fprintf(stderr,
                     "lanrove-cli firmware: generation-1 cameras report no model; all "
                     "generation-1 rows are listed\n");

    TraceLog log;  // off: the command prints what it finds
    std::mutex folderLock;
    nlohmann::json components = nlohmann::json::array();
    int usable = 0;
    for (const FirmwareCatalogueRow* row : rows) {
        const FirmwareFolderScan scan = ScanModelFolder(paths.folder, *row, &folderLock, log);
        std::error_code ec;
        const bool folderExists = fs::is_directory(scan.folder, ec);
        const bool hasFile = !scan.chosenName.empty();
        if (hasFile) ++usable;
        if (o.bJson) {
            nlohmann::json c;
            c["index"] = row->wIndex;
            c["kind"] = row->wKind;
            c["component"] = kindName(row->wKind);
            c["pattern"] = row->searchPattern;
            c["folder"] = scan.folder.string();
            c["folderExists"] = folderExists;
            c["matches"] = scan.nMatches;
            c["file"] = hasFile ? nlohmann::json(scan.chosenName) : nlohmann::json(nullptr);
            c["path"] = hasFile ? nlohmann::json((scan.folder / scan.chosenName).string())
                                : nlohmann::json(nullptr);
            c["number"] = scan.dwNumber;
            c["hexNumber"] = scan.bHexPass;
            c["versionCheck"] = row->dwVersionCheck != 0;
            c["uploadTimeOutMs"] = row->dwUploadTimeOut;
            c["rebootTimeMs"] = row->dwRebootTime;
            components.push_back(c);
            continue;
        }
        std::string file;
        if (hasFile) {
            file = scan.chosenName + " (" + std::to_string(scan.dwNumber) +
                   (scan.bHexPass ? ", hexadecimal)" : ")");
        } else if (scan.nMatches > 0) {
            file = "none: " + std::to_string(scan.nMatches) +
                   " matching file(s) without a version number";
        } else {
            file = folderExists ? "none" : "none (no folder)";
        }
        std::printf("%2u  %-12s  %-20s  %s  %s\n", static_cast<unsigned>(row->wIndex),
                    kindName(row->wKind), row->searchPattern.c_str(), scan.folder.c_str(),
                    file.c_str());
    }
    if (o.bJson) {
        nlohmann::json out;
        out["model"] = o.generation == 1 ? std::string() : o.model;
        out["generation"] = o.generation;
        out["method"] = rows.front()->wMethod;
        out["programFolder"] = paths.folder.string();
        out["components"] = components;
        out["usableFiles"] = usable;
        printJsonDocument(out);
    } else {
        std::printf("%d of %zu components have a file to upload\n", usable, rows.size());
    }
    return kExitOk;
}

int checkFile(const Options& o) {
    std::error_code ec;
    const fs::path file = fs::absolute(o.file, ec);
    TraceLog log;
    CSearchFileCtrl reader(log);
    std::mutex lock;
    reader.SetSharedLock(&lock);
    reader.SetFolder(file);
    // The name as given: no case-insensitive stand-in for an explicit file.
    int result = CSearchFileCtrl::kReadNotSelected;
    std::uint32_t length = 0;
    FirmwareImage image;
    if (!file.filename().empty() && fs::is_regular_file(file, ec)) {
        reader.SelectFile(file);
        result = reader.GetReadAllData(image, length);
    }
    const std::string name = file.filename().string();

    // The catalogue patterns that the name fits, with the number each would read.
    std::map<std::string, std::vector<const FirmwareCatalogueRow*>> fits;
    for (const FirmwareCatalogueRow& row : FirmwareCatalogue())
        if (MatchFileName(row.searchPattern, name)) fits[row.searchPattern].push_back(&row);

    if (o.bJson) {
        nlohmann::json out;
        out["file"] = file.string();
        out["readable"] = result == CSearchFileCtrl::kReadOk;
        if (result == CSearchFileCtrl::kReadOk)
            out["size"] = length;
        else
            out["error"] = readError(result);
        out["patterns"] = nlohmann::json::array();
        for (const auto& [pattern, rows] : fits) {
            nlohmann::json p;
            p["pattern"] = pattern;
            const auto number = ScanFileNumber(rows.front()->numberFormat, name);
            const auto hex = ScanFileNumberHex(rows.front()->numberFormat, name);
            p["number"] = number && *number > 0 ? *number : (hex ? *hex : 0U);
            p["models"] = nlohmann::json::array();
            for (const FirmwareCatalogueRow* row : rows) p["models"].push_back(row->modelFolder);
            out["patterns"].push_back(p);
        }
        printJsonDocument(out);
    } else {
        if (result == CSearchFileCtrl::kReadOk)
            std::printf("%s: readable, %lu bytes\n", file.c_str(),
                        static_cast<unsigned long>(length));
        else
            std::printf("%s: not readable: %s\n", file.c_str(), readError(result).c_str());
        for (const auto& [pattern, rows] : fits) {
            std::string models;
            for (const FirmwareCatalogueRow* row : rows)
                models += (models.empty() ? "" : ", ") + row->modelFolder;
            std::printf("  fits %s, for %s\n", pattern.c_str(), models.c_str());
        }
        if (fits.empty()) std::printf("  fits no firmware file pattern\n");
    }
    return result == CSearchFileCtrl::kReadOk ? kExitOk : kExitFailure;
}

// Refuses an empty value ("--model ''"), which would name no model and no file.
CLI::Validator notEmpty() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return value.empty() ? std::string("the value is empty") : std::string();
        },
        "", "not-empty");
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<Options>();
    auto genText = std::make_shared<std::string>("2");
    auto* model =
        app.add_option("--model", o->model, "the camera model whose firmware folders to list")
            ->type_name("MODEL")
            ->check(notEmpty());
    auto* gen = app.add_option("--gen", *genText,
                               "the camera generation; generation-1 cameras report no model, so "
                               "--gen 1 lists every generation-1 folder")
                    ->capture_default_str()
                    ->type_name("1|2")
                    ->check(CLI::IsMember({"1", "2"}).description(""));
    auto* file = app.add_option("--file", o->file,
                                "check that this one firmware file can be read and which "
                                "patterns it fits, instead of listing a model")
                     ->type_name("FILE")
                     ->check(notEmpty());
    file->excludes(model);
    file->excludes(gen);
    addJson(app, o->bJson);
    addHome(app, o->home)->type_name("DIR");
    const std::string program = argv0 != nullptr ? argv0 : "";
    return [o, genText, model, program] {
        o->generation = *genText == "1" ? 1 : 2;
        o->bModelGiven = model->count() > 0;
        if (!o->file.empty()) return checkFile(*o);
        if (!o->bModelGiven && o->generation != 1)
            return usageError("firmware", "--model or --file is required (or --gen 1)");
        return listModel(*o, ProgramPaths::resolve(program.c_str(), o->home));
    };
}

const CommandRegistration reg{
    {"firmware",
     "the firmware files an update would take for a camera model, or check one file (no network)",
     "1  the model is not in the catalogue, or the file cannot be read", &define}};

}  // namespace

}  // namespace lanrove::cli
