// GetKeyState over the key state the control surface sets.
#include "um/user32/desktopscripts.h"

SHORT WINAPI GetKeyState(int nVirtKey) { return umsim::KeyState(nVirtKey); }
