// SPDX-License-Identifier: GPL-3.0-or-later
// Connections that take their time, stay silent or vanish: each keeps a place only for a while,
// none leaves the server's count or Qt's log in a bad state, and the phones still get in.
#include "remote_rig.h"

#include <QTcpSocket>
#include <mutex>

using namespace q7;
using namespace q7::test;

namespace {

// Qt's warnings for the length of a test; the handler before it comes back after.
class QtMessages {
public:
    QtMessages() {
        std::lock_guard l(mutex());
        current() = this;
        previous_ = qInstallMessageHandler(&QtMessages::handle);
    }
    ~QtMessages() {
        std::lock_guard l(mutex());
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    QtMessages(const QtMessages&) = delete;
    QtMessages& operator=(const QtMessages&) = delete;

    std::vector<std::string> lines() {
        std::lock_guard l(mutex());
        return lines_;
    }

private:
    QtMessageHandler previous_ = nullptr;
    std::vector<std::string> lines_;

    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static QtMessages*& current() {
        static QtMessages* c = nullptr;
        return c;
    }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        std::lock_guard l(mutex());
        if (current())
            current()->lines_.push_back(text.toStdString());
    }
};

bool connectTo(QTcpSocket& s, quint16 port) {
    s.connectToHost("127.0.0.1", port);
    return QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }, 20000);
}

bool closedByServer(QTcpSocket& s) {
    return QTest::qWaitFor([&] { return s.state() == QAbstractSocket::UnconnectedState; }, 20000);
}

// Writes and waits for one whole answer (its headers, and a body of Content-Length).
QByteArray exchange(QTcpSocket& s, const QByteArray& request) {
    if (!request.isEmpty())
        s.write(request);
    QByteArray got;
    const auto whole = [&] {
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const qsizetype at = got.toLower().indexOf("content-length:");
        return at >= 0 &&
               got.size() >=
                   end + 4 +
                       got.mid(at + 15, got.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
    };
    (void)QTest::qWaitFor(
        [&] {
            got += s.readAll();
            return whole() || s.state() == QAbstractSocket::UnconnectedState;
        },
        20000);
    return got;
}

QByteArray statusRequest(const QString& token) {
    return "GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
           token.toUtf8() + "\r\n\r\n";
}

// Sockets written to on loopback have their bytes at the server once written; one request
// answered after them means the server has read them too.
void settle(RemoteRig& rig, const QString& token) {
    QTcpSocket s;
    ASSERT_TRUE(connectTo(s, rig.server.port()));
    ASSERT_TRUE(exchange(s, statusRequest(token)).startsWith("HTTP/1.1 200"));
}

void flush(QTcpSocket& s) {
    (void)QTest::qWaitFor([&] { return s.bytesToWrite() == 0; }, 20000);
}

} // namespace

TEST(RemoteConnections, ARequestHasTenSecondsFromItsFirstByteAndAnIdleOneAMinute) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const quint16 port = rig.server.port();
    const QByteArray request = statusRequest(owner);
    // Seconds from here on the virtual clock; the server looks at its connections at each.
    const double start = rig.amp.clock.nowMs();
    const auto at = [&](double s) {
        rig.amp.clock.advanceMs(start + s * 1000 - rig.amp.clock.nowMs());
        rig.server.closeStale();
    };

    // Half a request, then nothing.
    QTcpSocket half;
    ASSERT_TRUE(connectTo(half, port));
    half.write(request.left(30));
    flush(half);
    // A slow request that keeps coming, a part every three seconds, is whole within its time.
    QTcpSocket slow;
    ASSERT_TRUE(connectTo(slow, port));
    settle(rig, owner);
    const qsizetype third = request.size() / 3;
    slow.write(request.left(third));
    flush(slow);
    at(3);
    slow.write(request.mid(third, third));
    flush(slow);
    at(6);
    const QByteArray answer = exchange(slow, request.mid(2 * third));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.toStdString();
    at(10);
    EXPECT_TRUE(closedByServer(half)) << "half a request, ten seconds on";

    // The answered connection waits a minute for its next request, whose own time runs from
    // its first byte.
    at(65);
    slow.write(request.left(10));
    flush(slow);
    settle(rig, owner);
    at(74);
    EXPECT_TRUE(exchange(slow, request.mid(10)).startsWith("HTTP/1.1 200"));
    // Then a minute of silence ends it.
    at(134);
    EXPECT_TRUE(closedByServer(slow)) << "idle for a minute";

    // A WebSocket keeps its own liveness: an hour of quiet does not close it.
    auto ws = rig.socket(owner);
    Inbox inbox(*ws);
    ASSERT_TRUE(inbox.waitFor("changed"));
    at(134 + 3600);
    ws->sendTextMessage(R"({"type":"ping"})"); // answered with an error, but answered
    EXPECT_TRUE(inbox.waitFor("error"));
    EXPECT_EQ(ws->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(rig.server.clientCount(), 1);
}

TEST(RemoteConnections, SilentSocketsInEveryPlaceKeepAPhoneOutOnlyUntilTheirTimeIsUp) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const quint16 port = rig.server.port();
    // Connections held open and silent, in small groups: the listen queue is short.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    while (silent.size() < 256) {
        const std::size_t from = silent.size();
        for (int i = 0; i < 16; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost("127.0.0.1", port);
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::all_of(
                    silent.begin() + std::ptrdiff_t(from), silent.end(),
                    [](const auto& s) { return s->state() == QAbstractSocket::ConnectedState; });
            },
            20000));
    }
    QTcpSocket phone;
    ASSERT_TRUE(connectTo(phone, port));
    const QByteArray full = exchange(phone, statusRequest(owner));
    EXPECT_TRUE(full.startsWith("HTTP/1.1 503")) << full.toStdString();

    rig.amp.clock.advanceMs(RemoteServer::kRequestTimeoutMs);
    QTcpSocket again;
    ASSERT_TRUE(connectTo(again, port));
    const QByteArray answer = exchange(again, statusRequest(owner));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.toStdString();
    for (const auto& s : silent) {
        ASSERT_TRUE(closedByServer(*s));
    }
    // The places are free again, the refused one's too.
    std::vector<std::unique_ptr<QTcpSocket>> next;
    for (int i = 0; i < 16; ++i) {
        next.push_back(std::make_unique<QTcpSocket>());
        ASSERT_TRUE(connectTo(*next.back(), port));
        EXPECT_TRUE(exchange(*next.back(), statusRequest(owner)).startsWith("HTTP/1.1 200")) << i;
    }
}

TEST(RemoteConnections, ClientsVanishingAtAnyPointLeaveNoWarningAndNoPlaceTaken) {
    RemoteRig rig;
    QtMessages messages;
    const QString owner = rig.login("2468");
    const quint16 port = rig.server.port();
    const QByteArray upgrade =
        "GET /api/v1/ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: "
        "Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
        "Authorization: Bearer " +
        owner.toUtf8() + "\r\n\r\n";
    QByteArray noKey = upgrade;
    noKey.replace("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "");
    QByteArray oldVersion = upgrade;
    oldVersion.replace("Version: 13", "Version: 8");
    const QByteArray status = statusRequest(owner);
    const QByteArray patch = "PATCH /api/v1/params HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Authorization: Bearer " +
                             owner.toUtf8() + "\r\nContent-Length: 40\r\n\r\n{\"mic.vol";
    // What each client sends before it goes (whole requests, pipelined ones, halves), and
    // whether it stays for an answer.
    const std::vector<std::pair<QByteArray, bool>> sends{
        {upgrade, false}, {upgrade, true},          {noKey, false},
        {noKey, true},    {oldVersion, false},      {oldVersion, true},
        {status, false},  {status + status, true},  {status + status.left(20), true},
        {patch, false},   {upgrade.left(40), false}};
    for (int round = 0; round < 3; ++round)
        for (const auto& [bytes, waitForAnswer] : sends) {
            QTcpSocket s;
            ASSERT_TRUE(connectTo(s, port));
            s.write(bytes);
            flush(s);
            if (waitForAnswer) {
                ASSERT_TRUE(QTest::qWaitFor(
                    [&] {
                        return s.bytesAvailable() > 0 ||
                               s.state() == QAbstractSocket::UnconnectedState;
                    },
                    20000));
            }
            s.abort();
            settle(rig, owner);
        }
    // Malformed handshakes are answered, as HTTP.
    for (const QByteArray& bad : {noKey, oldVersion}) {
        QTcpSocket s;
        ASSERT_TRUE(connectTo(s, port));
        const QByteArray answer = exchange(s, bad);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 400")) << answer.toStdString();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.server.clientCount() == 0; }, 20000))
        << "a WebSocket whose client had gone is still counted";

    // More WebSockets over an evening than there are places, a few at a time, take none for
    // good.
    for (int round = 0; round < 9; ++round) {
        std::vector<std::unique_ptr<QWebSocket>> phones;
        for (int i = 0; i < 32; ++i)
            phones.push_back(rig.socket(owner));
        const auto all = [&](QAbstractSocket::SocketState state) {
            return QTest::qWaitFor(
                [&] {
                    return std::all_of(phones.begin(), phones.end(),
                                       [&](const auto& ws) { return ws->state() == state; });
                },
                20000);
        };
        ASSERT_TRUE(all(QAbstractSocket::ConnectedState)) << round;
        for (const auto& ws : phones)
            ws->close();
        ASSERT_TRUE(all(QAbstractSocket::UnconnectedState)) << round;
    }
    EXPECT_EQ(rig.get("/api/v1/status", owner).status, 200);
    settle(rig, owner);
    // Qt notes every refused upgrade; the malformed ones above are refused.
    std::vector<std::string> unexpected = messages.lines();
    std::erase_if(unexpected, [](const std::string& line) {
        return line.starts_with("WebSocket received but no slots connected");
    });
    EXPECT_EQ(unexpected, std::vector<std::string>{});
}
