// The runtime's secure string functions. Where Windows' runtime calls the
// invalid-parameter handler (which ends the process unless the program set
// its own), the emulation reports a verifier finding and returns the error
// code, so the test that provoked it fails with a message instead of a crash.
#include <windows.h>

#include "um/bridge/kernelbridge.h"
#include "um/textconversion.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

errno_t InvalidParameter(const char* routine, const char* why, errno_t error)
{
    umsim::bridge::ReportViolation("crt", std::string(routine) + ": " + why);
    return error;
}

}  // namespace

errno_t mbstowcs_s(size_t* pReturnValue, WCHAR* wcstr, size_t sizeInWords, const char* mbstr, size_t count)
{
    if (pReturnValue) *pReturnValue = 0;
    if (wcstr && sizeInWords) wcstr[0] = 0;
    if (!mbstr || (wcstr && sizeInWords == 0) || (!wcstr && sizeInWords != 0)) {
        return InvalidParameter("mbstowcs_s", "a null string or an empty buffer", EINVAL);
    }
    // At most count bytes of the text are converted (all of it for _TRUNCATE).
    size_t length = count == _TRUNCATE ? strlen(mbstr) : strnlen(mbstr, count);
    std::u16string wide = umsim::FromAnsi(std::string_view(mbstr, length));
    if (!wcstr) {  // the caller asks for the size it needs
        if (pReturnValue) *pReturnValue = wide.size() + 1;
        return 0;
    }
    errno_t result = 0;
    if (wide.size() >= sizeInWords) {
        if (count != _TRUNCATE) {
            return InvalidParameter("mbstowcs_s", "the text does not fit the buffer", ERANGE);
        }
        wide.resize(sizeInWords - 1);
        result = STRUNCATE;
    }
    wide.copy(reinterpret_cast<char16_t*>(wcstr), wide.size());
    wcstr[wide.size()] = 0;
    if (pReturnValue) *pReturnValue = wide.size() + 1;
    return result;
}

errno_t strcat_s(char* strDestination, size_t numberOfElements, const char* strSource)
{
    if (!strDestination || numberOfElements == 0) {
        return InvalidParameter("strcat_s", "a null or empty destination", EINVAL);
    }
    size_t used = strnlen(strDestination, numberOfElements);
    if (!strSource || used == numberOfElements) {
        strDestination[0] = 0;
        return InvalidParameter("strcat_s", !strSource ? "a null source" : "an unterminated destination", EINVAL);
    }
    size_t added = strlen(strSource);
    if (added >= numberOfElements - used) {
        strDestination[0] = 0;
        return InvalidParameter("strcat_s", "the text does not fit the buffer", ERANGE);
    }
    memcpy(strDestination + used, strSource, added + 1);
    return 0;
}
