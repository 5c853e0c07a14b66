// SPDX-License-Identifier: MIT
// Messages to another program's main window, found by its window class: each class is a
// per-user local socket; one request carries a message name and a text of any bytes, and
// the receiver answers once it has taken them.
//
// On the socket every field is a 32-bit length (unsigned, most significant byte first)
// followed by that many bytes. A request is two fields, the message name and the text; the
// answer is one field, "OK". A receiver drops a connection whose fields are longer than
// kMaxMessageName and kMaxMessageText, or that has not delivered its request within
// kReceiverIdleMs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace pix {

// How long a sender waits in all: to connect, to send and for the answer.
inline constexpr int kWindowMessageTimeoutMs = 5000;
inline constexpr std::uint32_t kMaxMessageName = 256;
inline constexpr std::uint32_t kMaxMessageText = 1u << 20;
inline constexpr int kReceiverIdleMs = 10000;

// The socket of a window class: in the user's runtime folder, as the single-instance lock's.
std::string WindowClassSocket(const std::string& windowClass);

enum TMessageResult : std::uint8_t {
    mrNoReceiver,  // nobody listens as that class
    mrAnswered,    // the receiver took the message and answered
    mrNoAnswer,    // a receiver is there but did not answer in time, or closed without answer
};

// Sends one request to the receiver of a window class and waits at most timeoutMs for it
// to answer. Runs the calling thread's events only inside Qt's own waits.
TMessageResult SendWindowMessage(const std::string& windowClass, const std::string& message,
                                 const std::string& text, int timeoutMs = kWindowMessageTimeoutMs);

// Receives the messages sent to a window class, on the event loop of the thread that made
// it. Each request is handed to OnMessage and answered when OnMessage returns.
class TWindowMessageReceiver {
public:
    explicit TWindowMessageReceiver(const std::string& windowClass);
    ~TWindowMessageReceiver();
    TWindowMessageReceiver(const TWindowMessageReceiver&) = delete;
    TWindowMessageReceiver& operator=(const TWindowMessageReceiver&) = delete;

    // Starts listening. A socket left behind by a receiver that ended without removing it is
    // replaced; false when a live receiver has the class already or the socket cannot be made.
    bool Listen();
    const std::string& SocketName() const { return FSocket; }

    std::function<void(const std::string& message, const std::string& text)> OnMessage;

private:
    void Accept();

    std::string FSocket;
    std::unique_ptr<QLocalServer> FServer;
};

}  // namespace pix
