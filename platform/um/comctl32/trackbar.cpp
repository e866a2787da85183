// The trackbar's procedure: a position kept inside its range.
#include "um/user32/window.h"

#include <commctrl.h>

#include <algorithm>

namespace umsim {

LRESULT TrackbarProcedure(Window& trackbar, UINT message, WPARAM wParam, LPARAM lParam)
{
    RangeState& r = trackbar.range;
    auto clamp = [&r] { r.position = std::max(r.low, std::min(r.high, r.position)); };
    switch (message) {
    case TBM_GETPOS: return r.position;
    case TBM_GETRANGEMIN: return r.low;
    case TBM_GETRANGEMAX: return r.high;
    case TBM_SETPOS:
        r.position = int(lParam);
        clamp();
        return 0;
    case TBM_SETRANGE:
        r.low = int16_t(LOWORD(lParam));
        r.high = int16_t(HIWORD(lParam));
        clamp();
        return 0;
    case TBM_SETRANGEMIN:
        r.low = int(lParam);
        clamp();
        return 0;
    case TBM_SETRANGEMAX:
        r.high = int(lParam);
        clamp();
        return 0;
    }
    (void)wParam;  // the redraw flag: nothing is drawn
    return 0;
}

}  // namespace umsim
