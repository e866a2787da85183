// CKsAudPin: an audio pin. It keeps the pin's audio data ranges, tells
// whether a wave format fits one of them, and builds the connection request
// (KSPIN_CONNECT followed by KSDATAFORMAT_WAVEFORMATEX) for a chosen format.
// CKsAudRenPin and CKsAudCapPin only mark a pin as render or capture.
#pragma once

#include "kslist.h"
#include "kspin.h"

#include <ksmedia.h>

class CKsAudFilter;

class CKsAudPin : public CKsPin {
public:
    // Fails (through *phr) when the pin lacks the standard interface, the
    // standard medium or any acceptable audio range.
    CKsAudPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudPin() override;

    HRESULT Init();
    BOOL IsFormatSupported(const WAVEFORMATEX* pwfx);
    // Only meaningful before Instantiate.
    HRESULT SetFormat(const WAVEFORMATEX* pwfx);

    // The format given to the last SetFormat (WAVEFORMATEX plus cbSize
    // bytes), or null.
    const WAVEFORMATEX* GetFormat() const { return m_pWaveFormatEx; }
    ULONG GetConnectionRequestSize() const { return m_cbPinCreateSize; }
    const KSPIN_CONNECT* GetConnectionRequest() const { return m_pksPinCreate; }

    // Owned 88-byte copies of the pin's audio ranges, in the pin's order.
    CKsList<KSDATARANGE_AUDIO> m_listDataRange;

protected:
    CKsAudFilter* m_pAudFilter;
    WAVEFORMATEX* m_pWaveFormatEx;
    PKSDATAFORMAT_WAVEFORMATEX m_pksDataFormatWfx;  // into m_pksPinCreate
};

class CKsAudRenPin : public CKsAudPin {
public:
    CKsAudRenPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
public:
    CKsAudCapPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudCapPin() override;
};
