// StreamThread: moves audio between the host's double buffers and the pins.
// A ring of packets stays queued on the pins; each completed packet gives
// the host one buffer switch and is queued again with the next buffer.
#pragma once

#include <windows.h>

class MrvUsbAsio;

class StreamThread {
public:
    // The thread's entry; the parameter is the driver object.
    static DWORD WINAPI run(LPVOID driver);
};
