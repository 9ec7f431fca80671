#include "app/InstanceChannel.hpp"

#include "core/account/PairingClient.hpp"
#include "platform/linux/desktop/XdgDirectories.hpp"

#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace qb::app {

namespace {

constexpr int connectMS = 2000;
constexpr int answerMS = 5000;

bool plainURL(std::string_view url) {
    const std::string prefix = std::string(PairingClient::callbackScheme) + ":";
    if (url.size() > InstanceChannel::maxURLBytes || url.substr(0, prefix.size()) != prefix)
        return false;
    for (unsigned char c : url)
        if (c <= 0x20 || c >= 0x7f) return false; // a URL arrives percent-encoded
    return true;
}

bool fromThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::getuid();
}

} // namespace

std::filesystem::path InstanceChannel::socketPath(const std::filesystem::path& stateDirectory) {
    return xdg::runtimeDirectory().value_or(stateDirectory) / socketName;
}

std::string InstanceChannel::encode(const Request& request) {
    std::string message;
    for (const std::string& url : request.urls)
        message += "open " + url + "\n";
    if (request.show) message += "show\n";
    return message + "\n";
}

std::optional<InstanceChannel::Request> InstanceChannel::parse(std::string_view message) {
    if (message.size() > maxMessageBytes || message.size() < 2 ||
        message.substr(message.size() - 2) != "\n\n")
        return std::nullopt;
    message.remove_suffix(1);
    Request request;
    while (!message.empty()) {
        const size_t end = message.find('\n');
        const std::string_view line = message.substr(0, end);
        message.remove_prefix(end + 1);
        if (line == "show" && !request.show) {
            request.show = true;
        } else if (line.substr(0, 5) == "open " && plainURL(line.substr(5)) && !request.show) {
            request.urls.emplace_back(line.substr(5));
        } else {
            return std::nullopt;
        }
    }
    if (request.urls.empty() && !request.show) return std::nullopt;
    return request;
}

bool InstanceChannel::listen(const std::filesystem::path& path, Handler handler) {
    handler_ = std::move(handler);
    // We hold the single-instance lock, so a socket left there belongs to a copy that died.
    QLocalServer::removeServer(QString::fromStdString(path.string()));
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server_, &QLocalServer::newConnection, [this] { accept(); });
    return server_.listen(QString::fromStdString(path.string()));
}

void InstanceChannel::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!fromThisUser(*socket)) {
            socket->abort();
            continue;
        }
        // A client that says nothing useful is not kept waiting on.
        QTimer::singleShot(answerMS, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<std::string>();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            const QByteArray bytes = socket->readAll();
            buffer->append(bytes.constData(), static_cast<size_t>(bytes.size()));
            if (buffer->size() > maxMessageBytes) {
                socket->abort();
                return;
            }
            if (buffer->size() < 2 || buffer->compare(buffer->size() - 2, 2, "\n\n") != 0) return;
            const std::optional<Request> request = parse(*buffer);
            if (!request) {
                socket->abort();
                return;
            }
            const std::string answer = handler_(*request) + "\n";
            socket->write(answer.data(), static_cast<qint64>(answer.size()));
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

std::optional<std::string> InstanceChannel::send(const std::filesystem::path& path,
                                                 const Request& request) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path.string()));
    if (!socket.waitForConnected(connectMS)) return std::nullopt;
    const std::string message = encode(request);
    socket.write(message.data(), static_cast<qint64>(message.size()));
    if (!socket.waitForBytesWritten(connectMS)) return std::nullopt;
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        if (!socket.waitForReadyRead(answerMS)) break;
        const QByteArray bytes = socket.readAll();
        answer.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    const size_t end = answer.find('\n');
    if (end == std::string::npos) return std::nullopt;
    return answer.substr(0, end);
}

} // namespace qb::app
