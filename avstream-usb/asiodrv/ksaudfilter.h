// CKsAudFilter: a filter whose pins are audio pins. It keeps only the pins
// it can stream through, finds a pin that accepts a wave format and creates
// that pin. Pins it returns stay owned by the filter.
#pragma once

#include "ksaudpin.h"
#include "ksfilter.h"

class CKsAudFilter : public CKsFilter {
public:
    CKsAudFilter(LPCSTR pszName, HRESULT* phr);
    ~CKsAudFilter() override;

    HRESULT EnumeratePins() override;

    // The first render (capture) sink pin that accepts the format, or null.
    CKsAudPin* FindViableRenPin(const WAVEFORMATEX* pwfx);
    CKsAudPin* FindViableCapPin(const WAVEFORMATEX* pwfx);
    BOOL CanCreateRenderPin(const WAVEFORMATEX* pwfx);
    // Sets the format on the pin found and instantiates it; null on failure.
    CKsAudPin* CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped);
    CKsAudPin* CreateCapturePin(const WAVEFORMATEX* pwfx, BOOL fLooped);

private:
    static CKsAudPin* FindViablePin(CKsList<CKsPin>& list, const WAVEFORMATEX* pwfx);
};
