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
#include <QTimer>
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

bool hasToken(const QByteArray& list, const char* token) {
    for (const QByteArray& t : list.split(','))
        if (t.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Qt closes the socket itself on a handshake it cannot complete, while a second look at the
// same socket is still queued; such requests are answered as HTTP instead.
bool wellFormedUpgrade(const ApiRequest& r) {
    return r.method == "GET" && !r.header("Host").isEmpty() &&
           !r.header("Sec-WebSocket-Key").isEmpty() &&
           hasToken(r.header("Sec-WebSocket-Version"), "13") &&
           hasToken(r.header("Connection"), "upgrade");
}

// Qt's HTTP server of 6.4 keeps a whole request in memory before handing it over, and never lets
// a connection go of its own accord. Sockets come through this listener, which counts what a
// request has sent and answers 413 (and hangs up) once it is more than a request may be, before
// it is buffered; and which closes a connection that is slow to send its request or idle
// between requests, so that silent sockets cannot take every place and keep the phones out.
class GuardedListener : public QTcpServer {
public:
    GuardedListener(Clock& clock, QObject* parent) : QTcpServer(parent), clock_(clock) {
        connect(&sweep_, &QTimer::timeout, this, &GuardedListener::closeStale);
        sweep_.start(kSweepMs);
    }

    // Qt has answered the request on socket; an upgraded one belongs to its WebSocket, which
    // keeps its own liveness.
    void answered(QTcpSocket* socket, bool upgraded) {
        if (Conn* c = find(socket)) {
            c->phase = upgraded ? Phase::Upgraded : Phase::Idle;
            c->deadline = clock_.nowMs() + RemoteServer::kIdleTimeoutMs;
        }
    }

    void closeStale() {
        const double now = clock_.nowMs();
        std::erase_if(conns_, [](const Conn& c) { return !c.socket; });
        for (Conn& c : conns_) {
            if (c.phase == Phase::Upgraded || now < c.deadline ||
                c.socket->state() == QAbstractSocket::UnconnectedState)
                continue;
            // Closing leaves the device open: a readyRead Qt has queued finds it readable still.
            if (c.socket->state() == QAbstractSocket::ClosingState) {
                c.socket->abort(); // a whole period without taking what it was sent
            } else {
                c.deadline = now + RemoteServer::kRequestTimeoutMs;
                c.socket->disconnectFromHost();
            }
        }
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Counted by what is open, not by signals: Qt cuts every connection of an upgraded
        // socket, its destroyed() too.
        if (openCount() >= kMaxSockets)
            closeStale();
        const bool full = openCount() >= kMaxSockets;
        conns_.push_back(
            {socket, Phase::Request, clock_.nowMs() + RemoteServer::kRequestTimeoutMs});
        if (full) // more than a room of phones: someone is flooding
            return refuse(socket, 503, "too many connections");
        // Connected before the HTTP server's own handler, so it runs first.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { guard(socket); });
        addPendingConnection(socket);
    }

private:
    static constexpr int kSweepMs = 1000;
    enum class Phase { Request, Idle, Upgraded };
    struct Conn {
        QPointer<QTcpSocket> socket;
        Phase phase;
        // A request must be whole by then; an idle connection is closed then.
        double deadline;
        qint64 seen = 0;
    };
    Clock& clock_;
    QTimer sweep_;
    std::vector<Conn> conns_;

    Conn* find(QTcpSocket* socket) {
        for (Conn& c : conns_)
            if (c.socket == socket)
                return &c;
        return nullptr;
    }

    std::size_t openCount() {
        std::erase_if(conns_, [](const Conn& c) { return !c.socket; });
        return std::size_t(std::count_if(conns_.begin(), conns_.end(), [](const Conn& c) {
            return c.socket->state() != QAbstractSocket::UnconnectedState;
        }));
    }

    void guard(QTcpSocket* socket) {
        Conn* c = find(socket);
        if (!c || !socket->isOpen())
            return;
        if (!socket->isTransactionStarted()) { // a new request begins
            c->seen = 0;
            // Its time runs from its first byte; a new connection's from connecting.
            if (c->phase == Phase::Idle) {
                c->phase = Phase::Request;
                c->deadline = clock_.nowMs() + RemoteServer::kRequestTimeoutMs;
            }
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
        c->seen += socket->bytesAvailable();
        if (c->seen > RemoteServer::kMaxBodyBytes + kMaxHeaderBytes)
            refuse(socket, 413, "the request is too large");
    }

    void refuse(QTcpSocket* socket, int status, const char* error) {
        disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        const QByteArray body =
            QJsonDocument(QJsonObject{{"error", error}, {"param", QJsonValue()}})
                .toJson(QJsonDocument::Compact);
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reasonPhrase(status) +
                      "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
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
        if (isUpgrade(request)) {
            const bool upgrading = onUpgrade(r).status == 0;
            if (upgrading)
                listener->answered(socket, true);
            return upgrading;
        }
        respond(request, socket, onRequest(r));
        listener->answered(socket, false);
        // Qt 6.4 keeps the connection open whatever the client asked for.
        if (hasToken(r.header("Connection"), "close"))
            socket->disconnectFromHost();
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        respond(request, socket,
                isUpgrade(request) ? onUpgrade(apiRequest(request))
                                   : jsonError(404, "no such address"));
        listener->answered(socket, false);
    }

public:
    std::function<ApiResponse(const ApiRequest&)> onUpgrade; // status 0: let it through
    GuardedListener* listener = nullptr;

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
            // Closed on the next turn: Qt still has a look at the socket queued, which would
            // find it closed now. One whose client has already gone is let go the same way.
            if (allowed.status != 0 || role == RemoteRole::None ||
                ws->state() != QAbstractSocket::ConnectedState) {
                const QString why = QJsonDocument::fromJson(allowed.body)["error"].toString();
                QMetaObject::invokeMethod(
                    ws,
                    [ws, why] {
                        ws->close(QWebSocketProtocol::CloseCodePolicyViolated, why);
                        ws->deleteLater();
                    },
                    Qt::QueuedConnection);
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
    d_->front->onUpgrade = [this](const ApiRequest& r) {
        return wellFormedUpgrade(r) ? d_->upgrade(r)
                                    : jsonError(400, "not a WebSocket handshake this server takes");
    };
    auto* listener = new GuardedListener(d_->clock, d_->front.get());
    d_->front->listener = listener;
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

void RemoteServer::closeStale() {
    if (d_->listener)
        d_->listener->closeStale();
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
