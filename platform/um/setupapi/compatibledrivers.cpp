// Building compatible-driver lists from INF files through the INF
// functions, as the device installer reads them.
#include "um/setupapi/compatibledrivers.h"

#include "um/kernel32/filepaths.h"
#include "um/setupapi/driverstore.h"

#include <setupapi.h>

#include <cstring>
#include <filesystem>
#include <strings.h>

namespace umsim {
namespace {

// The decoration of this build's architecture.
constexpr const char* kArchitecture = sizeof(void*) == 8 ? "NTamd64" : "NTx86";

// Rank ranges: which id of the device matched which id of the line.
constexpr DWORD kHardwareIdMatch = 0x0000;        // device hardware id = line's hardware id
constexpr DWORD kHardwareIdToCompatible = 0x1000;  // device hardware id = a compatible id of the line
constexpr DWORD kCompatibleToHardwareId = 0x2000;  // device compatible id = line's hardware id
constexpr DWORD kCompatibleMatch = 0x3000;         // device compatible id = a compatible id of the line
constexpr DWORD kUntrusted = 0x8000;

bool Same(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Signed: the system's own INF files; a package only when the catalog its
// [Version] names lies beside its source. No signature is checked here.
bool IsSigned(HINF inf, const std::string& infPath)
{
    if (IsSystemInf(infPath)) return true;
    INFCONTEXT context;
    std::string catalog;
    std::string decorated = std::string("CatalogFile.") + kArchitecture;
    if (SetupFindFirstLineA(inf, "Version", decorated.c_str(), &context) ||
        SetupFindFirstLineA(inf, "Version", "CatalogFile", &context)) {
        catalog = InfField(&context, 1);
    }
    if (catalog.empty()) return false;
    std::string source = PathIn(PackageSourceFolder(infPath), catalog);
    auto host = HostFilePath(source.c_str());
    std::error_code error;
    return host && std::filesystem::is_regular_file(*host, error);
}

// "mm/dd/yyyy" and "a.b.c.d" of DriverVer.
void ReadDriverVer(HINF inf, DriverNode* node)
{
    INFCONTEXT context;
    if (!SetupFindFirstLineA(inf, "Version", "DriverVer", &context)) return;
    unsigned month = 0, day = 0, year = 0;
    if (sscanf(InfField(&context, 1).c_str(), "%u/%u/%u", &month, &day, &year) == 3 && month >= 1 && month <= 12 &&
        day >= 1 && day <= 31 && year >= 1601 && year <= 30827) {
        auto leap = [](unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
        static const unsigned kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
        ULONGLONG days = kDaysBefore[month - 1] + (day - 1) + (month > 2 && leap(year));
        for (unsigned y = 1601; y < year; ++y) days += leap(y) ? 366 : 365;
        ULONGLONG ticks = days * 864000000000ULL;  // 100-ns units since 1601
        node->date.dwLowDateTime = DWORD(ticks);
        node->date.dwHighDateTime = DWORD(ticks >> 32);
    }
    unsigned part[4] = {};
    sscanf(InfField(&context, 2).c_str(), "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]);
    for (unsigned p : part) node->version = node->version << 16 | (p & 0xFFFF);
}

// The models section of a [Manufacturer] line for this architecture.
std::string ModelsSection(INFCONTEXT* line)
{
    std::string base = InfField(line, 1);
    DWORD fields = SetupGetFieldCount(line);
    for (DWORD i = 2; i <= fields; ++i) {
        std::string decoration = InfField(line, i);
        if (Same(decoration, kArchitecture) ||
            strncasecmp(decoration.c_str(), (std::string(kArchitecture) + ".").c_str(), strlen(kArchitecture) + 1) == 0) {
            return base + "." + decoration;
        }
    }
    return base;
}

// The best rank of the line's ids against the device's, or nothing.
bool RankLine(const std::vector<std::string>& lineIds, const std::vector<std::string>& hardwareIds,
              const std::vector<std::string>& compatibleIds, DWORD* rank, std::string* matching)
{
    bool found = false;
    auto consider = [&](DWORD candidate, const std::string& id) {
        if (found && candidate >= *rank) return;
        found = true;
        *rank = candidate;
        *matching = id;
    };
    for (size_t j = 0; j < lineIds.size(); ++j) {
        for (size_t i = 0; i < hardwareIds.size(); ++i) {
            if (Same(lineIds[j], hardwareIds[i])) consider((j ? kHardwareIdToCompatible : kHardwareIdMatch) + DWORD(i), hardwareIds[i]);
        }
        for (size_t k = 0; k < compatibleIds.size(); ++k) {
            if (Same(lineIds[j], compatibleIds[k])) consider((j ? kCompatibleMatch : kCompatibleToHardwareId) + DWORD(k), compatibleIds[k]);
        }
    }
    return found;
}

void AddNodesOfInf(const std::string& infPath, const std::vector<std::string>& hardwareIds,
                   const std::vector<std::string>& compatibleIds, std::vector<DriverNode>* nodes)
{
    HINF inf = SetupOpenInfFileA(infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) return;
    DriverNode common;
    common.infPath = infPath;
    INFCONTEXT context;
    if (SetupFindFirstLineA(inf, "Version", "Provider", &context)) common.provider = InfField(&context, 1);
    if (SetupFindFirstLineA(inf, "Version", "ClassGUID", &context)) common.classGuid = InfField(&context, 1);
    if (SetupFindFirstLineA(inf, "Version", "Class", &context)) common.className = InfField(&context, 1);
    ReadDriverVer(inf, &common);
    DWORD penalty = IsSigned(inf, infPath) ? 0 : kUntrusted;

    LONG manufacturers = SetupGetLineCountA(inf, "Manufacturer");
    for (LONG m = 0; m < manufacturers; ++m) {
        INFCONTEXT manufacturer;
        if (!SetupGetLineByIndexA(inf, "Manufacturer", DWORD(m), &manufacturer)) continue;
        std::string models = ModelsSection(&manufacturer);
        std::string manufacturerName = InfField(&manufacturer, 0);
        LONG lines = SetupGetLineCountA(inf, models.c_str());
        for (LONG l = 0; l < lines; ++l) {
            INFCONTEXT line;
            if (!SetupGetLineByIndexA(inf, models.c_str(), DWORD(l), &line)) continue;
            DriverNode node = common;
            node.manufacturer = manufacturerName;
            node.description = InfField(&line, 0);
            node.installSection = InfField(&line, 1);
            DWORD fields = SetupGetFieldCount(&line);
            for (DWORD f = 2; f <= fields; ++f) node.ids.push_back(InfField(&line, f));
            if (node.installSection.empty() || node.ids.empty() ||
                !RankLine(node.ids, hardwareIds, compatibleIds, &node.rank, &node.matchingId)) {
                continue;
            }
            node.rank |= penalty;
            node.flags = DNF_COMPATIBLE_DRIVER;
            nodes->push_back(std::move(node));
        }
    }
    SetupCloseInfFile(inf);
}

}  // namespace

std::string InfField(INFCONTEXT* context, DWORD index)
{
    char text[MAX_INF_STRING_LENGTH];
    DWORD needed = 0;
    if (!SetupGetStringFieldA(context, index, text, sizeof text, &needed)) return {};
    return text;
}

DWORD ForEachDirectiveSection(HINF inf, const std::string& installSection, const char* directive,
                              const std::function<DWORD(const std::string&)>& use)
{
    INFCONTEXT context;
    for (BOOL more = SetupFindFirstLineA(inf, installSection.c_str(), directive, &context); more;
         more = SetupFindNextMatchLineA(&context, directive, &context)) {
        DWORD fields = SetupGetFieldCount(&context);
        for (DWORD f = 1; f <= fields; ++f) {
            std::string name = InfField(&context, f);
            if (name.empty()) continue;
            if (DWORD error = use(name)) return error;
        }
    }
    return ERROR_SUCCESS;
}

std::string DecoratedSection(HINF inf, const std::string& base)
{
    for (std::string name : {base + "." + kArchitecture, base + ".NT", base}) {
        if (SetupGetLineCountA(inf, name.c_str()) >= 0) return name;
    }
    return {};
}

std::string PathIn(const std::string& folder, const std::string& file)
{
    return folder + (folder.rfind('/', 0) == 0 ? "/" : "\\") + file;
}

bool IsSystemInf(const std::string& infPath)
{
    return Same(FolderOf(infPath), kInfDirectory) && !IsOemInf(infPath);
}

std::string PackageSourceFolder(const std::string& infPath)
{
    if (auto source = DriverStoreSourcePath(infPath)) {
        std::string path = *source;
        bool namesInf = path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".inf") == 0;
        return namesInf ? FolderOf(path) : path;
    }
    return FolderOf(infPath);
}

std::vector<std::string> InfFiles(const std::string& folder)
{
    DWORD needed = 0;
    SetupGetInfFileListA(folder.c_str(), INF_STYLE_WIN4, NULL, 0, &needed);
    std::vector<char> names(needed + 1);
    std::vector<std::string> files;
    if (!SetupGetInfFileListA(folder.c_str(), INF_STYLE_WIN4, names.data(), DWORD(names.size()), &needed)) return files;
    for (const char* name = names.data(); *name; name += strlen(name) + 1) files.push_back(PathIn(folder, name));
    return files;
}

std::vector<std::string> InfFolderFiles() { return InfFiles(kInfDirectory); }

std::vector<DriverNode> CompatibleDrivers(const std::vector<std::string>& hardwareIds,
                                          const std::vector<std::string>& compatibleIds,
                                          const std::vector<std::string>& infPaths)
{
    std::vector<DriverNode> nodes;
    for (const std::string& inf : infPaths) AddNodesOfInf(inf, hardwareIds, compatibleIds, &nodes);
    return nodes;
}

}  // namespace umsim
