// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/server.h"

#include "remote/api.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>
#include <map>
#include <vector>

namespace q7 {

namespace {

constexpr qint64 kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kMaxSockets = 256;

bool sameSettings(const ModeImage& a, const ModeImage& b) {
    return a.cells == b.cells && a.bandImage == b.bandImage && a.extra == b.extra &&
           a.speakerLevels == b.speakerLevels && a.plan == b.plan;
}

QString plainAddress(const QHostAddress& a) {
    bool mapped = false;
    const quint32 v4 = a.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : a.toString();
}

QByteArray methodName(QHttpServerRequest::Method m) {
    switch (m) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        break;
    }
    return "OTHER";
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 413:
        return "Payload Too Large";
    case 503:
        return "Service Unavailable";
    }
    return "Error";
}

// Qt's HTTP server of 6.4 keeps a whole request in memory before handing it over. Sockets
// come through this listener, which counts what a request has sent and answers 413 (and
// hangs up) once it is more than a request may be, before it is buffered.
class GuardedListener : public QTcpServer {
public:
    explicit GuardedListener(QObject* parent) : QTcpServer(parent) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (++open_ > kMaxSockets) { // more than a room of phones: someone is flooding
            refuse(socket, 503, "too many connections");
            return;
        }
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Connected before the HTTP server's own handler, so it runs first.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { guard(socket); });
        addPendingConnection(socket);
    }

private:
    std::size_t open_ = 0;
    std::map<QTcpSocket*, qint64> seen_;

    void guard(QTcpSocket* socket) {
        qint64& seen = seen_[socket];
        if (!socket->isTransactionStarted()) { // a new request begins
            seen = 0;
            const QByteArray head = socket->peek(kMaxHeaderBytes).toLower();
            const qsizetype at = head.indexOf("\r\ncontent-length:");
            if (at >= 0) {
                const qsizetype end = head.indexOf("\r\n", at + 2);
                const QByteArray n = head.mid(at + 17, end < 0 ? -1 : end - at - 17).trimmed();
                bool ok = false;
                const qlonglong length = n.toLongLong(&ok);
                if (!ok || length > RemoteServer::kMaxBodyBytes)
                    return refuse(socket, 413, "the body is too large");
            }
        }
        seen += socket->bytesAvailable();
        if (seen > RemoteServer::kMaxBodyBytes + kMaxHeaderBytes)
            refuse(socket, 413, "the request is too large");
    }

    void refuse(QTcpSocket* socket, int status, const char* error) {
        seen_.erase(socket);
        disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        const QByteArray body =
            QJsonDocument(QJsonObject{{"error", error}, {"param", QJsonValue()}})
                .toJson(QJsonDocument::Compact);
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reasonPhrase(status) +
                      "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
        connect(socket, &QObject::destroyed, this, [this, socket] { seen_.erase(socket); });
    }
};

class HttpFront : public QAbstractHttpServer {
public:
    std::function<ApiResponse(const ApiRequest&)> onRequest;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const ApiRequest r = apiRequest(request);
        // Qt 6.4 asks here before it completes an upgrade: true lets it go ahead unanswered,
        // false refuses it through missingHandler.
        if (isUpgrade(request))
            return onUpgrade(r).status == 0;
        respond(request, socket, onRequest(r));
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        respond(request, socket,
                isUpgrade(request) ? onUpgrade(apiRequest(request))
                                   : jsonError(404, "no such address"));
    }

public:
    std::function<ApiResponse(const ApiRequest&)> onUpgrade; // status 0: let it through

private:
    static ApiRequest apiRequest(const QHttpServerRequest& request) {
        ApiRequest r;
        r.method = methodName(request.method());
        r.path = request.url().path();
        r.query = request.url().query(QUrl::FullyEncoded);
        r.headers = request.headers();
        r.body = request.body();
        r.address = plainAddress(request.remoteAddress());
        return r;
    }
    static bool isUpgrade(const QHttpServerRequest& request) {
        return request.value("upgrade").toLower() == "websocket";
    }
    static void respond(const QHttpServerRequest& request, QTcpSocket* socket,
                        const ApiResponse& a) {
        QHttpServerResponder out = makeResponder(request, socket);
        out.writeStatusLine(QHttpServerResponder::StatusCode(a.status));
        out.writeHeader("Content-Type", a.contentType);
        out.writeHeader("Content-Length", QByteArray::number(a.body.size()));
        out.writeHeader("X-Content-Type-Options", "nosniff");
        out.writeHeader("X-Frame-Options", "DENY");
        out.writeHeader("Referrer-Policy", "no-referrer");
        for (const auto& [k, v] : a.headers)
            out.writeHeader(k, v);
        out.writeBody(a.body);
    }
};

} // namespace

struct RemoteServer::Impl {
    RemoteServer& self;
    RemoteHost& host;
    Clock& clock;
    RemoteAccess access;
    RemoteApi api;
    std::unique_ptr<HttpFront> front;
    QPointer<GuardedListener> listener;
    QHostAddress address;

    struct Client {
        QWebSocket* socket;
        std::string token;
        RemoteRole role;
        QString address;
        bool gone = false;
    };
    std::vector<std::unique_ptr<Client>> clients;
    bool sweepQueued = false;
    ModeImage pushed;
    // What each role is sent on connecting, made once per settings pushed: fifty phones joining
    // at once must not each walk the whole table on the holder's thread.
    std::map<RemoteRole, QByteArray> welcome;

    QByteArray welcomeFor(RemoteRole role) {
        QByteArray& m = welcome[role];
        if (m.isEmpty())
            m = QJsonDocument(
                    QJsonObject{{"type", "changed"}, {"params", api.readable(role, pushed)}})
                    .toJson(QJsonDocument::Compact);
        return m;
    }

    Impl(RemoteServer& s, RemoteHost& h, Clock& c)
        : self(s), host(h), clock(c), access(c), api(h, access) {
        api.onAudit = [this](RemoteRole role, const QString& addr, const std::string& what) {
            emit self.audited(QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + " " +
                              roleName(role) + " " + addr + ": " + QString::fromStdString(what));
        };
        api.onChanged = [this] { self.settingsChanged(); };
        api.onLogout = [this](const std::string& token) {
            for (auto& c : clients)
                if (c->token == token)
                    drop(*c, QWebSocketProtocol::CloseCodeNormal, "logged out");
        };
        pushed = host.settings();
    }

    void drop(Client& c, QWebSocketProtocol::CloseCode code, const QString& why) {
        if (c.gone)
            return;
        c.socket->close(code, why);
        forget(c);
    }

    // The client is no longer served; its entry goes at the next sweep. Its socket's signals
    // are cut first, so nothing reaches an entry that is gone.
    void forget(Client& c) {
        if (c.gone)
            return;
        c.gone = true;
        QObject::disconnect(c.socket, nullptr, &self, nullptr);
        c.socket->deleteLater();
        queueSweep();
    }

    void queueSweep() {
        if (sweepQueued)
            return;
        sweepQueued = true;
        QMetaObject::invokeMethod(
            &self,
            [this] {
                sweepQueued = false;
                std::erase_if(clients, [](const auto& c) { return c->gone; });
            },
            Qt::QueuedConnection);
    }

    // A client that does not read what it is sent is let go, not buffered for without end.
    void send(Client& c, const QByteArray& message) {
        if (c.gone)
            return;
        if (c.socket->bytesToWrite() + message.size() > kMaxQueuedBytes) {
            QObject::disconnect(c.socket, nullptr, &self, nullptr);
            c.socket->abort();
            forget(c);
            return;
        }
        c.socket->sendTextMessage(QString::fromUtf8(message));
    }

    // Whether a WebSocket may open: on its own address, with a session, while there is room.
    ApiResponse upgrade(const ApiRequest& r) {
        if (r.path != "/api/v1/ws")
            return jsonError(404, "no such address");
        if (!RemoteApi::hostAllowed(r.header("Host")))
            return jsonError(403, "this server answers to its addresses only");
        if (access.roleOf(socketToken(r)) == RemoteRole::None)
            return jsonError(401, "log in first, from the page or with a token");
        if (clients.size() >= kMaxSockets)
            return jsonError(503, "too many clients");
        ApiResponse ok;
        ok.status = 0;
        return ok;
    }

    std::string socketToken(const ApiRequest& r) {
        std::string token = api.tokenOf(r);
        const QUrlQuery query(r.query);
        if (token.empty() && query.hasQueryItem("token"))
            token = query.queryItemValue("token").toStdString();
        return token;
    }

    void acceptSockets() {
        while (front && front->hasPendingWebSocketConnections()) {
            QWebSocket* ws = front->nextPendingWebSocketConnection().release();
            ws->setParent(&self);
            // Checked before the upgrade; again here, from what the socket was opened with.
            ApiRequest r;
            const QNetworkRequest req = ws->request();
            for (const QByteArray& name : req.rawHeaderList())
                r.headers.append({name, req.rawHeader(name)});
            r.path = req.url().path();
            r.query = req.url().query(QUrl::FullyEncoded);
            const std::string token = socketToken(r);
            const RemoteRole role = access.roleOf(token);
            const ApiResponse allowed = upgrade(r);
            if (allowed.status != 0 || role == RemoteRole::None) {
                ws->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QJsonDocument::fromJson(allowed.body)["error"].toString());
                ws->deleteLater();
                continue;
            }
            // Whatever changed since the last push reaches the others first; the newcomer then
            // starts from the pushed settings.
            if (!sameSettings(host.settings(), pushed))
                self.settingsChanged();
            ws->setMaxAllowedIncomingMessageSize(quint64(kMaxMessageBytes));
            ws->setMaxAllowedIncomingFrameSize(quint64(kMaxMessageBytes));
            auto client =
                std::make_unique<Client>(Client{ws, token, role, plainAddress(ws->peerAddress())});
            Client* c = client.get();
            clients.push_back(std::move(client));
            QObject::connect(ws, &QWebSocket::textMessageReceived, &self,
                             [this, c](const QString& text) { message(*c, text.toUtf8()); });
            QObject::connect(
                ws, &QWebSocket::binaryMessageReceived, &self, [this, c](const QByteArray&) {
                    send(
                        *c,
                        R"({"type":"error","status":400,"error":"messages are JSON text","param":null})");
                });
            QObject::connect(ws, &QWebSocket::disconnected, &self, [this, c] { forget(*c); });
            send(*c, welcomeFor(role));
        }
    }

    void message(Client& c, const QByteArray& text) {
        if (c.gone)
            return;
        bool ended = false;
        const QByteArray reply = api.socketMessage(c.token, c.address, text, ended);
        if (!reply.isEmpty())
            send(c, reply);
        if (ended)
            drop(c, QWebSocketProtocol::CloseCodePolicyViolated, "log in again");
    }
};

RemoteServer::RemoteServer(RemoteHost& host, Clock& clock, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(*this, host, clock)) {}

RemoteServer::~RemoteServer() {
    close();
}

void RemoteServer::setConfig(const RemoteConfig& config) {
    const RemoteConfig old = d_->access.config();
    d_->access.setConfig(config);
    d_->welcome.clear(); // the guests' whitelist may differ
    // New PINs end every session, the sockets' too; a narrower whitelist applies at once.
    if (old.ownerPin != config.ownerPin || old.guestPin != config.guestPin ||
        old.guestOpen != config.guestOpen)
        for (auto& c : d_->clients)
            d_->drop(*c, QWebSocketProtocol::CloseCodePolicyViolated, "log in again");
}

bool RemoteServer::listen(const QString& addressAndPort, QString* error) {
    close();
    std::string host, e;
    std::uint16_t port = 0;
    if (!splitListen(addressAndPort.toStdString(), host, port, e)) {
        if (error)
            *error = QString::fromStdString(e);
        return false;
    }
    d_->address = QHostAddress(QString::fromStdString(host));
    d_->front = std::make_unique<HttpFront>();
    d_->front->onRequest = [this](const ApiRequest& r) { return d_->api.handle(r); };
    d_->front->onUpgrade = [this](const ApiRequest& r) { return d_->upgrade(r); };
    auto* listener = new GuardedListener(d_->front.get());
    if (!listener->listen(d_->address, port)) {
        if (error)
            *error = addressAndPort + ": " + listener->errorString();
        d_->front.reset();
        return false;
    }
    d_->listener = listener;
    d_->front->bind(listener);
    connect(d_->front.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            [this] { d_->acceptSockets(); });
    d_->pushed = d_->host.settings();
    d_->welcome.clear();
    return true;
}

void RemoteServer::close() {
    for (auto& c : d_->clients)
        if (!c->gone) {
            QObject::disconnect(c->socket, nullptr, this, nullptr);
            c->socket->abort();
            d_->forget(*c);
        }
    d_->clients.clear();
    d_->front.reset();
}

bool RemoteServer::isListening() const {
    return d_->listener && d_->listener->isListening();
}

quint16 RemoteServer::port() const {
    return isListening() ? d_->listener->serverPort() : 0;
}

int RemoteServer::clientCount() const {
    return int(std::count_if(d_->clients.begin(), d_->clients.end(),
                             [](const auto& c) { return !c->gone; }));
}

QString RemoteServer::pageAddress() const {
    if (!isListening())
        return {};
    QHostAddress a = d_->address;
    if (a == QHostAddress::AnyIPv4 || a == QHostAddress::AnyIPv6 || a == QHostAddress::Any) {
        a = QHostAddress::LocalHost;
        for (const QHostAddress& candidate : QNetworkInterface::allAddresses())
            if (candidate.protocol() == QAbstractSocket::IPv4Protocol && !candidate.isLoopback() &&
                !candidate.isLinkLocal()) {
                a = candidate;
                break;
            }
    }
    const QString host =
        a.protocol() == QAbstractSocket::IPv6Protocol ? "[" + a.toString() + "]" : a.toString();
    return "http://" + host + ":" + QString::number(port()) + "/";
}

void RemoteServer::settingsChanged() {
    const ModeImage now = d_->host.settings();
    if (sameSettings(now, d_->pushed))
        return;
    // One message per role, whatever the number of clients.
    std::map<RemoteRole, QByteArray> messages;
    for (auto& c : d_->clients) {
        if (c->gone)
            continue;
        auto [it, fresh] = messages.try_emplace(c->role);
        if (fresh) {
            const QJsonObject params = d_->api.changed(c->role, d_->pushed, now);
            if (!params.isEmpty())
                it->second = QJsonDocument(QJsonObject{{"type", "changed"}, {"params", params}})
                                 .toJson(QJsonDocument::Compact);
        }
        if (!it->second.isEmpty())
            d_->send(*c, it->second);
    }
    d_->pushed = now;
    d_->welcome.clear();
}

void RemoteServer::levelsChanged() {
    if (d_->clients.empty())
        return;
    QJsonObject s = d_->api.status();
    const QByteArray message =
        QJsonDocument(QJsonObject{{"type", "levels"}, {"levels", s["levels"]}})
            .toJson(QJsonDocument::Compact);
    for (auto& c : d_->clients)
        d_->send(*c, message);
}

} // namespace q7
