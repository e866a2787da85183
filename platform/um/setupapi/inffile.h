// An open INF file: its parsed text behind an HINF. The text never
// changes once opened, so readers on any thread share it without a lock.
#pragma once

#include "um/handletable.h"
#include "um/setupapi/infparser.h"

#include <setupapi.h>

namespace umsim {

class InfFile : public HandleObject {
public:
    explicit InfFile(InfText text) : HandleObject(ObjectKind::InfFile), m_text(std::move(text)) {}
    const InfText& Text() const { return m_text; }

private:
    const InfText m_text;
};

// Copies a value (its terminators included) out as the SetupAPI string
// functions do: RequiredSize always, the text only when it fits whole.
BOOL CopyInfString(const std::string& value, PSTR buffer, DWORD size, PDWORD required);

// Whether the file's [Version] signature makes it a Windows 95/NT style INF.
bool IsWin4Inf(const InfText& inf);

}  // namespace umsim
