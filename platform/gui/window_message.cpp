// SPDX-License-Identifier: MIT
#include "platform/gui/window_message.h"

#include "platform/gui/single_instance.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace pix {
namespace {

constexpr int kFieldHeader = 4;
constexpr const char* kAnswer = "OK";
// How long Listen waits for a receiver that holds the socket already.
constexpr int kProbeMs = 1000;

QByteArray Field(const std::string& bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    QByteArray field;
    field.reserve(kFieldHeader + static_cast<qsizetype>(bytes.size()));
    for (int shift = 24; shift >= 0; shift -= 8) field.append(static_cast<char>(size >> shift));
    field.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return field;
}

enum TFieldState { fsIncomplete, fsComplete, fsTooLong };

// Takes the field that begins at `at` in buffer, of at most `limit` bytes, and moves `at`
// past it.
TFieldState TakeField(const QByteArray& buffer, qsizetype& at, std::uint32_t limit,
                      std::string& field) {
    if (buffer.size() - at < kFieldHeader) return fsIncomplete;
    std::uint32_t size = 0;
    for (int i = 0; i < kFieldHeader; ++i)
        size = (size << 8) | static_cast<std::uint8_t>(buffer[at + i]);
    if (size > limit) return fsTooLong;
    if (static_cast<std::uint64_t>(buffer.size() - at - kFieldHeader) < size) return fsIncomplete;
    field.assign(buffer.constData() + at + kFieldHeader, size);
    at += kFieldHeader + static_cast<qsizetype>(size);
    return fsComplete;
}

qint64 Remaining(const QElapsedTimer& clock, int timeoutMs) {
    return std::max<qint64>(0, timeoutMs - clock.elapsed());
}

}  // namespace

std::string WindowClassSocket(const std::string& windowClass) {
    return UserRuntimePath(windowClass, ".socket");
}

TMessageResult SendWindowMessage(const std::string& windowClass, const std::string& message,
                                 const std::string& text, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(WindowClassSocket(windowClass)));
    if (!socket.waitForConnected(timeoutMs)) {
        // A socket whose owner does not take connections is a receiver that hangs; a missing
        // socket, or one nobody listens on any more, is no receiver.
        return socket.error() == QLocalSocket::SocketTimeoutError ? mrNoAnswer : mrNoReceiver;
    }
    socket.write(Field(message) + Field(text));
    while (socket.bytesToWrite() > 0) {
        const qint64 left = Remaining(clock, timeoutMs);
        if (left == 0 || !socket.waitForBytesWritten(static_cast<int>(left))) return mrNoAnswer;
    }
    QByteArray answer;
    for (;;) {
        answer += socket.readAll();
        qsizetype at = 0;
        std::string field;
        const TFieldState state = TakeField(answer, at, kMaxMessageName, field);
        if (state == fsComplete) return mrAnswered;
        if (state == fsTooLong) return mrNoAnswer;
        const qint64 left = Remaining(clock, timeoutMs);
        if (left == 0 || !socket.waitForReadyRead(static_cast<int>(left))) return mrNoAnswer;
    }
}

TWindowMessageReceiver::TWindowMessageReceiver(const std::string& windowClass)
    : FSocket(WindowClassSocket(windowClass)), FServer(std::make_unique<QLocalServer>()) {
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(FServer.get(), &QLocalServer::newConnection, FServer.get(),
                     [this] { Accept(); });
}

TWindowMessageReceiver::~TWindowMessageReceiver() {
    // Closing removes the socket file; the connections, children of the server, go with it.
    FServer->close();
}

bool TWindowMessageReceiver::Listen() {
    const QString name = QString::fromStdString(FSocket);
    if (FServer->listen(name)) return true;
    if (FServer->serverError() != QAbstractSocket::AddressInUseError) return false;
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kProbeMs)) return false;
    QLocalServer::removeServer(name);
    return FServer->listen(name);
}

void TWindowMessageReceiver::Accept() {
    while (QLocalSocket* client = FServer->nextPendingConnection()) {
        // What arrived so far; Done once the request was answered (or refused).
        struct TRequest {
            QByteArray Bytes;
            bool Done = false;
        };
        auto request = std::make_shared<TRequest>();
        QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        QTimer::singleShot(kReceiverIdleMs, client, [client] { client->abort(); });
        QObject::connect(client, &QLocalSocket::readyRead, client, [this, client, request] {
            if (request->Done) {  // one request per connection; more is not read
                client->readAll();
                return;
            }
            request->Bytes.append(client->readAll());
            qsizetype at = 0;
            std::string message, text;
            TFieldState state = TakeField(request->Bytes, at, kMaxMessageName, message);
            if (state == fsComplete) state = TakeField(request->Bytes, at, kMaxMessageText, text);
            if (state == fsIncomplete) return;
            request->Done = true;
            request->Bytes = QByteArray();
            if (state == fsTooLong) {
                client->abort();
                return;
            }
            if (OnMessage) OnMessage(message, text);
            client->write(Field(kAnswer));
            client->disconnectFromServer();
        });
    }
}

}  // namespace pix
