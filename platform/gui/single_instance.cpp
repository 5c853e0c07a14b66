// SPDX-License-Identifier: MIT
#include "platform/gui/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace pix {
namespace {

// The conversation on the socket, one line each: the running instance greets with
// "TITLE <application title>"; the later start answers "FORWARD" when the title is ours;
// the running instance brings itself forward and answers "OK". A later start with an
// argument sends "FORWARD " and the argument percent-encoded, which keeps it on one line.
constexpr const char* kTitleGreeting = "TITLE ";
constexpr const char* kForwardRequest = "FORWARD";
constexpr const char* kForwardDone = "OK";
// Longer lines than this are not ours; they end the conversation. A path of the longest
// length the system allows (4096 bytes) takes at most three times as much encoded.
constexpr qsizetype kMaxLine = 16 * 1024;
// A connection that says nothing for this long is dropped by the running instance.
constexpr int kServerIdleMs = 5000;
constexpr int kRetryMs = 100;

// Reads one line within the remaining time; false on time-out, close or an overlong line.
bool ReadLine(QLocalSocket& socket, const QElapsedTimer& clock, QByteArray& line) {
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > kMaxLine) return false;
        const qint64 left = kActivationTimeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(static_cast<int>(left))) return false;
    }
    line = socket.readLine(kMaxLine + 1).trimmed();
    return true;
}

}  // namespace

// The user's runtime folder is private to the user and cleared at log-out; without one the
// temporary folder serves, with the user id in the names so that users do not meet.
std::string UserRuntimePath(const std::string& name, const std::string& ending) {
    std::string clean = name;
    std::replace(clean.begin(), clean.end(), '/', '_');
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0' && QFileInfo(QString::fromUtf8(runtime)).isDir() &&
        QFileInfo(QString::fromUtf8(runtime)).isWritable())
        return std::string(runtime) + "/" + clean + ending;
    return QDir::tempPath().toStdString() + "/" + clean + "-" +
           std::to_string(static_cast<unsigned long>(::getuid())) + ending;
}

bool TitleMatches(const std::string& title, const std::string& prefix) {
    if (title.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(title[i]) != lower(prefix[i])) return false;
    }
    return true;
}

void BringApplicationForward(QWindow* mainWindow) {
    if (mainWindow != nullptr && (mainWindow->windowStates() & Qt::WindowMinimized))
        mainWindow->showNormal();
    QWindow* target = QGuiApplication::modalWindow();
    if (target == nullptr) target = mainWindow;
    if (target == nullptr) return;
    if (target->windowStates() & Qt::WindowMinimized) target->showNormal();
    target->raise();
    target->requestActivate();
}

TSingleInstance::TSingleInstance(const std::string& name, const std::string& titlePrefix,
                                 std::string argument)
    : FTitlePrefix(titlePrefix), FArgument(std::move(argument)) {
    FLockFile = UserRuntimePath(name, ".lock");
    FSocket = UserRuntimePath(name, ".socket");

    // Close-on-exec: a program started from here must not keep the lock after we end.
    const int fd = ::open(FLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;  // no lock at all: the program runs without the rule
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        FLockFd = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK) return;
    FFirst = false;
    ActivateRunning();
}

TSingleInstance::~TSingleInstance() {
    // The server belongs to the application object; when it is still there, closing it
    // removes the socket file before the lock goes.
    if (FServer) FServer->close();
    // The file stays: removing it could let a start that already opened it lock a file
    // that is no longer the one the next start finds.
    if (FLockFd >= 0) ::close(FLockFd);
}

void TSingleInstance::ActivateRunning() {
    // The holder of the lock would only wait for itself.
    if (FActivated || FLockFd >= 0) return;
    FActivated = true;
    QElapsedTimer clock;
    clock.start();

    // The running instance may still be building its window and not listen yet.
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(QString::fromStdString(FSocket));
        const qint64 left = kActivationTimeoutMs - clock.elapsed();
        if (left > 0 && socket.waitForConnected(static_cast<int>(std::min<qint64>(left, 500))))
            break;
        socket.abort();
        if (kActivationTimeoutMs - clock.elapsed() <= kRetryMs) return;
        QThread::msleep(kRetryMs);
    }

    QByteArray line;
    if (!ReadLine(socket, clock, line) || !line.startsWith(kTitleGreeting)) return;
    const std::string title =
        line.mid(static_cast<qsizetype>(qstrlen(kTitleGreeting))).toStdString();
    if (!TitleMatches(title, FTitlePrefix)) return;
    QByteArray request(kForwardRequest);
    const QByteArray encoded = QByteArray::fromStdString(FArgument).toPercentEncoding("/");
    // An argument too long for a line is left out: the running instance still comes forward.
    if (!FArgument.empty() && encoded.size() + request.size() + 2 <= kMaxLine)
        request += ' ' + encoded;
    socket.write(request + '\n');
    const qint64 left = kActivationTimeoutMs - clock.elapsed();
    if (left <= 0 || !socket.waitForBytesWritten(static_cast<int>(left))) return;
    // The answer only tells that the request arrived; there is nothing to do with it.
    ReadLine(socket, clock, line);
    socket.disconnectFromServer();
}

void TSingleInstance::Serve(std::function<std::string()> title,
                            std::function<void()> bringForward) {
    Serve(std::move(title), [bringForward = std::move(bringForward)](const std::string&) {
        if (bringForward) bringForward();
    });
}

void TSingleInstance::Serve(std::function<std::string()> title,
                            std::function<void(const std::string&)> request) {
    if (FLockFd < 0 || FServer) return;  // only the holder of the lock answers, once
    FTitle = std::move(title);
    FRequest = std::move(request);
    // Parented to the application so that it goes before the event loop does.
    FServer = new QLocalServer(QCoreApplication::instance());
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left here belongs to an instance that died.
    QLocalServer::removeServer(QString::fromStdString(FSocket));
    QObject::connect(FServer, &QLocalServer::newConnection, FServer, [this] {
        while (QLocalSocket* client = FServer->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QTimer::singleShot(kServerIdleMs, client, [client] { client->abort(); });
            const std::string text = FTitle ? FTitle() : std::string();
            client->write(QByteArray(kTitleGreeting) + QByteArray::fromStdString(text) + '\n');
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > kMaxLine) client->abort();
                    return;
                }
                const QByteArray request = client->readLine(kMaxLine + 1).trimmed();
                const QByteArray prefix = QByteArray(kForwardRequest) + ' ';
                if (request == kForwardRequest && FRequest) {
                    FRequest(std::string());
                } else if (request.startsWith(prefix) && FRequest) {
                    FRequest(
                        QByteArray::fromPercentEncoding(request.mid(prefix.size())).toStdString());
                }
                client->write(QByteArray(kForwardDone) + '\n');
                client->disconnectFromServer();
            });
        }
    });
    FServer->listen(QString::fromStdString(FSocket));
}

}  // namespace pix
