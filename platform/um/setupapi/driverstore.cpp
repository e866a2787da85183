// SetupCopyOEMInfA: an INF that is not stored yet takes the lowest free
// "oemN.inf" name; one whose text is stored already keeps its name. The
// name is claimed by creating the file exclusively, so two installers
// running at once never share one.
#include "um/setupapi/driverstore.h"

#include "um/kernel32/filepaths.h"
#include "um/setupapi/infparser.h"

#include <setupapi.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace umsim {
namespace {

constexpr char kSourceLocationKey[] = "OEMSourceMediaLocation=";
constexpr size_t kMaxStoredInfBytes = 16u << 20;
constexpr unsigned kMaxOemInfs = 100000;

// The number N of a name "oemN.inf", or nullopt.
std::optional<unsigned> OemNumber(const std::string& fileName)
{
    if (fileName.size() < 8 || !EqualsNoCase(fileName.substr(0, 3), "oem") ||
        !EqualsNoCase(fileName.substr(fileName.size() - 4), ".inf")) {
        return std::nullopt;
    }
    std::string digits = fileName.substr(3, fileName.size() - 7);
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    for (char c : digits) {
        if (!isdigit(uint8_t(c))) return std::nullopt;
    }
    return unsigned(std::stoul(digits));
}

std::optional<std::string> ReadBytes(const std::string& hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (bytes.str().size() > kMaxStoredInfBytes) return std::nullopt;
    return bytes.str();
}

std::string SidecarPath(const std::string& hostInfPath)
{
    return std::filesystem::path(hostInfPath).replace_extension(".pnf").string();
}

bool WriteSidecar(const std::string& hostInfPath, DWORD mediaType, PCSTR location)
{
    std::ofstream out(SidecarPath(hostInfPath), std::ios::binary | std::ios::trunc);
    out << "OEMSourceMediaType=" << mediaType << "\r\n";
    if (mediaType == SPOST_PATH) out << kSourceLocationKey << location << "\r\n";
    return bool(out);
}

// The stored INF whose text equals the package's, by its number.
std::optional<unsigned> FindStored(const std::string& infFolder, const std::string& bytes)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(infFolder, ec)) {
        auto number = OemNumber(entry.path().filename().string());
        if (number && ReadBytes(entry.path().string()) == bytes) return number;
    }
    return std::nullopt;
}

// Claims the lowest free number by creating its file exclusively.
std::optional<unsigned> StoreNew(const std::string& infFolder, const std::string& bytes)
{
    for (unsigned number = 0; number < kMaxOemInfs; ++number) {
        std::string path = infFolder + "/oem" + std::to_string(number) + ".inf";
        FILE* file = fopen(path.c_str(), "wbx");
        if (!file) {
            if (errno == EEXIST) continue;
            return std::nullopt;
        }
        bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = fclose(file) == 0 && written;
        if (!written) {
            std::filesystem::remove(path);
            return std::nullopt;
        }
        return number;
    }
    return std::nullopt;
}

// Serializes the search-then-claim within this process; between processes
// the exclusive create decides.
std::mutex& StoreMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}  // namespace

std::optional<std::string> DriverStoreSourcePath(const std::string& storedInfPath)
{
    auto hostPath = HostFilePath(storedInfPath.c_str());
    if (!hostPath) return std::nullopt;
    auto text = ReadTextFile(SidecarPath(*hostPath), kMaxStoredInfBytes);
    if (!text) return std::nullopt;
    size_t start = text->find(kSourceLocationKey);
    if (start == std::string::npos) return std::nullopt;
    start += strlen(kSourceLocationKey);
    return text->substr(start, text->find_first_of("\r\n", start) - start);
}

bool IsOemInf(const std::string& infPath)
{
    auto hostPath = HostFilePath(infPath.c_str());
    auto infFolder = HostFilePath(kInfDirectory);
    if (!hostPath || !infFolder) return false;
    std::filesystem::path path(*hostPath);
    return OemNumber(path.filename().string()) &&
           path.parent_path().lexically_normal() == std::filesystem::path(*infFolder).lexically_normal();
}

}  // namespace umsim

BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                             DWORD CopyStyle, PSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PSTR* DestinationInfFileNameComponent)
{
    using umsim::Fail;
    if (!SourceInfFileName || OEMSourceMediaType > SPOST_URL ||
        (OEMSourceMediaType == SPOST_PATH && !OEMSourceMediaLocation)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Only a readable Windows-style INF goes into the store.
    HINF inf = SetupOpenInfFileA(SourceInfFileName, NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) return FALSE;
    SetupCloseInfFile(inf);
    auto sourcePath = umsim::HostFilePath(SourceInfFileName);
    auto bytes = sourcePath ? umsim::ReadBytes(*sourcePath) : std::nullopt;
    auto infFolder = umsim::HostFilePath(umsim::kInfDirectory);
    if (!bytes) return Fail(ERROR_FILE_NOT_FOUND);
    if (!infFolder) return Fail(ERROR_PATH_NOT_FOUND);
    std::error_code ec;
    std::filesystem::create_directories(*infFolder, ec);

    std::optional<unsigned> number;
    bool alreadyStored = false;
    {
        std::lock_guard lock(umsim::StoreMutex());
        number = umsim::FindStored(*infFolder, *bytes);
        alreadyStored = number.has_value();
        if (!alreadyStored) number = umsim::StoreNew(*infFolder, *bytes);
    }
    if (!number) return Fail(ERROR_WRITE_FAULT);
    std::string fileName = "oem" + std::to_string(*number) + ".inf";
    std::string storedName = std::string(umsim::kInfDirectory) + "\\" + fileName;

    if (RequiredSize) *RequiredSize = DWORD(storedName.size() + 1);
    bool nameFits = DestinationInfFileName && DestinationInfFileNameSize > storedName.size();
    if (nameFits) {
        memcpy(DestinationInfFileName, storedName.c_str(), storedName.size() + 1);
        if (DestinationInfFileNameComponent) {
            *DestinationInfFileNameComponent = DestinationInfFileName + storedName.size() - fileName.size();
        }
    }
    if (alreadyStored && (CopyStyle & SP_COPY_NOOVERWRITE)) return Fail(ERROR_FILE_EXISTS);
    if (!umsim::WriteSidecar(*infFolder + "/" + fileName, OEMSourceMediaType, OEMSourceMediaLocation)) {
        return Fail(ERROR_WRITE_FAULT);
    }
    if (DestinationInfFileName && !nameFits) return Fail(ERROR_INSUFFICIENT_BUFFER);
    SetLastError(NO_ERROR);
    return TRUE;
}
