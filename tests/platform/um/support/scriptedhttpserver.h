// A loopback TCP server that answers each connection from a script, byte
// for byte: for the answers an ordinary HTTP server never gives (odd
// framings, a close inside the body, garbage) and for pacing a body piece
// by piece while a client reads it. Plain C++, beside <windows.h>.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace umtest {

class ScriptedHttpServer {
public:
    // Listens on 127.0.0.1 at a port of the system's choice.
    ScriptedHttpServer();
    // Stops listening, releases a paced answer and waits for the thread.
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    uint16_t Port() const { return m_port; }

    // Queues the answer to a connection, sent once its request head has
    // arrived: the pieces in order, then the connection closes. When paced,
    // each piece after the first waits for ReleasePiece(). The last answer
    // queued answers every connection after it.
    void Answer(std::vector<std::string> pieces, bool paced = false);
    void ReleasePiece();
    // The request heads received so far (through their blank line).
    std::vector<std::string> Requests();
    // Waits until the server has sent `count` pieces in all.
    void WaitForPiecesSent(size_t count);

private:
    void Serve();
    void AnswerConnection(int connection);

    int m_listener = -1;
    uint16_t m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    struct Script {
        std::vector<std::string> pieces;
        bool paced;
    };
    std::deque<Script> m_answers;       // guarded by m_mutex
    size_t m_released = 0;              // guarded by m_mutex
    size_t m_sent = 0;                  // guarded by m_mutex
    bool m_stopping = false;            // guarded by m_mutex
    std::vector<std::string> m_requests;  // guarded by m_mutex
    std::thread m_thread;  // started last, so it sees every member set up
};

}  // namespace umtest
