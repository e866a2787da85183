// The progress bar's procedure: a position inside its range that steps and
// starts over past the end.
#include "um/user32/window.h"

#include <commctrl.h>

#include <algorithm>

namespace umsim {

LRESULT ProgressBarProcedure(Window& progress, UINT message, WPARAM wParam, LPARAM lParam)
{
    RangeState& r = progress.range;
    const int previous = r.position;
    auto setRange = [&r](int low, int high) {
        LRESULT old = MAKELRESULT(r.low, r.high);
        r.low = low;
        r.high = high;
        r.position = std::max(r.low, std::min(r.high, r.position));
        return old;
    };
    auto moveTo = [&r, previous](long long position) {
        r.position = int(std::max<long long>(r.low, std::min<long long>(r.high, position)));
        return LRESULT(previous);
    };
    switch (message) {
    case PBM_SETRANGE: return setRange(LOWORD(lParam), HIWORD(lParam));
    case PBM_SETRANGE32: return setRange(int(wParam), int(lParam));
    case PBM_GETRANGE:
        if (auto* range = reinterpret_cast<PBRANGE*>(lParam)) *range = {r.low, r.high};
        return wParam ? r.low : r.high;
    case PBM_SETPOS: return moveTo(int(wParam));
    case PBM_DELTAPOS: return moveTo(static_cast<long long>(r.position) + int(wParam));
    case PBM_GETPOS: return r.position;
    case PBM_SETSTEP: {
        int old = r.step;
        r.step = int(wParam);
        return old;
    }
    case PBM_STEPIT: {
        long long next = static_cast<long long>(r.position) + r.step;
        r.position = next > r.high || next < r.low ? r.low : int(next);
        return previous;
    }
    }
    return 0;
}

}  // namespace umsim
