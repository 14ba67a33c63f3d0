// SPDX-License-Identifier: GPL-3.0-or-later
// The WebSocket: who may open one, pushes of every change to every client, edits sent on it,
// and a fuzz of random messages that must neither crash the server nor let a bad value in.
#include "remote_rig.h"

#include <QTcpSocket>
#include <random>

using namespace q7;
using namespace q7::test;

namespace {

bool opened(QWebSocket& ws) {
    const bool ok =
        QTest::qWaitFor([&] { return ws.state() == QAbstractSocket::ConnectedState; }, 20000);
    if (!ok)
        ADD_FAILURE() << "closed: " << ws.closeReason().toStdString() << " "
                      << ws.errorString().toStdString();
    return ok;
}

// Whether the server closes the socket (or never lets it open).
bool refused(QWebSocket& ws) {
    return QTest::qWaitFor([&] { return ws.state() == QAbstractSocket::UnconnectedState; }, 20000);
}

// A WebSocket opened by hand, for clients Qt's own class would not imitate.
bool handshake(QTcpSocket& raw, quint16 port, const QString& token) {
    raw.connectToHost("127.0.0.1", port);
    if (!QTest::qWaitFor([&] { return raw.state() == QAbstractSocket::ConnectedState; }))
        return false;
    raw.write("GET /api/v1/ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: "
              "Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
              "Authorization: Bearer " +
              token.toUtf8() + "\r\n\r\n");
    return true;
}

QString text(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

TEST(RemoteSocket, OnlyTheLoggedInFromThePagesOriginMayConnect) {
    RemoteRig rig;
    const QString guest = rig.login("1357");
    const QByteArray cookie = "q7session=" + guest.toUtf8();
    const QByteArray origin = "http://" + rig.base.mid(7).toUtf8();

    auto none = rig.socket({});
    EXPECT_TRUE(refused(*none)) << "no token";
    auto bad = rig.socket("feedface");
    EXPECT_TRUE(refused(*bad)) << "unknown token";
    auto foreign = rig.socket({}, {{"Cookie", cookie}, {"Origin", "http://evil.example"}});
    EXPECT_TRUE(refused(*foreign)) << "the cookie from another site's page";

    auto page = rig.socket({}, {{"Cookie", cookie}, {"Origin", origin}});
    Inbox inbox(*page);
    ASSERT_TRUE(opened(*page));
    auto script = rig.socket(guest);
    ASSERT_TRUE(opened(*script));
    // The first message is what the role may read, whole.
    ASSERT_TRUE(inbox.waitFor("changed"));
    EXPECT_EQ(inbox.messages[0]["params"].toObject().size(), 4);

    // Logging out closes the session's sockets.
    EXPECT_EQ(rig.request("POST", "/api/v1/logout", {}, guest).status, 200);
    EXPECT_TRUE(refused(*page));
    EXPECT_TRUE(refused(*script));

    // Another path on the same port is no socket.
    QWebSocket elsewhere;
    QNetworkRequest r(QUrl("ws://127.0.0.1:" + QString::number(rig.server.port()) + "/x"));
    r.setRawHeader("Authorization", "Bearer " + rig.login("2468").toUtf8());
    elsewhere.open(r);
    EXPECT_TRUE(refused(elsewhere));
}

TEST(RemoteSocket, EveryChangeFromAnySourceReachesEveryClient) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const QString guest = rig.login("1357");
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<std::unique_ptr<Inbox>> inboxes;
    for (int i = 0; i < 5; ++i) {
        sockets.push_back(rig.socket(i == 4 ? owner : guest));
        inboxes.push_back(std::make_unique<Inbox>(*sockets.back()));
        ASSERT_TRUE(opened(*sockets.back()));
        ASSERT_TRUE(inboxes.back()->waitFor("changed"));
    }
    auto everyone = [&](const char* name, const QJsonValue& value, int count = 5) {
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(inboxes[std::size_t(i)]->waitFor(
                "changed",
                [&](const QJsonObject& m) { return m["params"].toObject().value(name) == value; }))
                << name << " at client " << i;
    };

    // Through the API.
    ASSERT_EQ(rig.patch({{"music.volume", 55}}, owner).status, 200);
    everyone("music.volume", 55);
    // Through another phone's socket: one step, checked as a PATCH is.
    const std::size_t steps = rig.edits.history().size();
    sockets[1]->sendTextMessage(
        text({{"type", "set"}, {"params", QJsonObject{{"mic.volume", 44}}}}));
    everyone("mic.volume", 44);
    rig.amp.c.link.awaitReply();
    EXPECT_EQ(rig.edits.history().size(), steps + 1);
    EXPECT_EQ(rig.value("mic.volume"), 44);
    // From the editor's own pages: the holder says so.
    rig.edits.edit([](Dsp& d) {
        d.store().setCellInt(findParam("mic.mute")->index, 1);
        return d.sendCell(findParam("mic.mute")->index);
    });
    rig.server.settingsChanged();
    everyone("mic.mute", "on");
    // What guests may not read reaches only the owner.
    ASSERT_EQ(rig.patch({{"main.mute", "on"}, {"mic.volume", 45}}, owner).status, 200);
    everyone("mic.volume", 45);
    for (int i = 0; i < 4; ++i)
        for (const QJsonObject& m : inboxes[std::size_t(i)]->messages)
            EXPECT_FALSE(m["params"].toObject().contains("main.mute")) << i;
    EXPECT_TRUE(inboxes[4]->messages.back()["params"].toObject().contains("main.mute"));
    // Nothing changed: nothing pushed.
    const std::size_t count = inboxes[0]->messages.size();
    rig.server.settingsChanged();
    // Levels, to all.
    rig.host.levels = {-3.0, -12.5};
    rig.server.levelsChanged();
    for (auto& in : inboxes)
        EXPECT_TRUE(in->waitFor("levels", [](const QJsonObject& m) {
            return m["levels"].toArray() == QJsonArray({-3.0, -12.5});
        }));
    EXPECT_EQ(inboxes[0]->messages.size(), count + 1) << "only the levels came";

    // A refused set answers the sender alone, with the code a PATCH would get.
    sockets[2]->sendTextMessage(
        text({{"type", "set"}, {"params", QJsonObject{{"music.volume", 99}}}}));
    ASSERT_TRUE(inboxes[2]->waitFor("error"));
    EXPECT_EQ(inboxes[2]->messages.back()["status"], 400);
    EXPECT_EQ(inboxes[2]->messages.back()["param"], "music.volume");
    sockets[2]->sendTextMessage(text({{"type", "set"}, {"params", QJsonObject{{"top.mute", 1}}}}));
    ASSERT_TRUE(inboxes[2]->waitFor("error"));
    EXPECT_EQ(inboxes[2]->messages.back()["status"], 403);

    // A client that vanishes mid-message, and one that sends a binary frame, harm no one.
    QTcpSocket raw;
    ASSERT_TRUE(handshake(raw, rig.server.port(), guest));
    QByteArray handshake;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        handshake += raw.readAll();
        return handshake.contains("\r\n\r\n");
    }));
    EXPECT_TRUE(handshake.startsWith("HTTP/1.1 101"));
    raw.write(QByteArray::fromHex("817e1000") + QByteArray(100, 'x')); // 4096 announced, 100 sent
    (void)QTest::qWaitFor([&] { return raw.bytesToWrite() == 0; });
    raw.abort();
    sockets[3]->sendBinaryMessage("\x01\x02");
    ASSERT_TRUE(inboxes[3]->waitFor("error"));
    ASSERT_EQ(rig.patch({{"music.volume", 56}}, owner).status, 200);
    everyone("music.volume", 56);
}

TEST(RemoteSocket, TenThousandRandomMessagesNeverCrashOrLetABadValueIn) {
    RemoteRig rig;
    const QString guest = rig.login("1357");
    auto ws = rig.socket(guest);
    Inbox inbox(*ws);
    ASSERT_TRUE(opened(*ws));
    ASSERT_TRUE(inbox.waitFor("changed"));

    std::mt19937 rng(2026);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* names[] = {"music.volume", "mic.volume", "echo.volume", "mic.mute",
                           "main.mute",    "top.mute",   "nope",        "",
                           "music",        "extra.0"};
    auto randomValue = [&]() -> QJsonValue {
        switch (pick(0, 7)) {
        case 0:
            return pick(-200, 200);
        case 1:
            return pick(-2000, 2000) / 10.0;
        case 2:
            return pick(0, 1) == 1;
        case 3:
            return QJsonValue::Null;
        case 4:
            return QJsonArray{pick(0, 9)};
        case 5:
            return QString::number(pick(0, 120)) + (pick(0, 1) ? " dB" : "");
        case 6:
            return QStringList{"on", "off", "开", "", "NaN", "1e999", "\u202e70"}[pick(0, 6)];
        }
        return QJsonObject{{"value", 1}};
    };
    int sets = 0;
    for (int i = 0; i < 10'000; ++i) {
        QByteArray m;
        switch (pick(0, 5)) {
        case 0: { // random bytes
            m.resize(pick(0, 64));
            for (char& c : m)
                c = char(pick(0, 255));
            break;
        }
        case 1: { // JSON of the wrong shape
            static const char* shapes[] = {"[]",
                                           "{}",
                                           "null",
                                           "{\"type\":\"set\"}",
                                           "{\"type\":\"get\",\"params\":{}}",
                                           "{\"type\":\"set\",\"params\":[1]}",
                                           "{\"type\":\"set\",\"params\":{},\"x\":1}",
                                           "\"set\""};
            m = shapes[pick(0, 7)];
            break;
        }
        case 2: { // a real message cut short
            m = "{\"type\":\"set\",\"params\":{\"music.volume\":" + QByteArray::number(pick(0, 99));
            m.chop(pick(0, int(m.size())));
            break;
        }
        default: { // a set of random names and values
            QJsonObject params;
            for (int k = pick(0, 3); k > 0; --k)
                params[names[pick(0, 9)]] = randomValue();
            m = QJsonDocument(QJsonObject{{"type", "set"}, {"params", params}})
                    .toJson(QJsonDocument::Compact);
            ++sets;
        }
        }
        if (pick(0, 20) == 0)
            ws->sendBinaryMessage(m);
        else
            ws->sendTextMessage(QString::fromUtf8(m));
        if (i % 500 == 499) { // let the server keep up, and the amplifier take what went out
            ws->sendTextMessage(
                text({{"type", "set"}, {"params", QJsonObject{{"mic.volume", i % 100}}}}));
            ASSERT_TRUE(inbox.waitFor("changed", [&](const QJsonObject& o) {
                return o["params"].toObject().value("mic.volume") == i % 100 ||
                       rig.value("mic.volume") == i % 100;
            })) << i;
            rig.amp.c.link.awaitReply();
            EXPECT_LE(rig.value("music.volume"), 70) << "the owner's limit held at " << i;
            EXPECT_GE(rig.value("echo.volume"), 10) << i;
            EXPECT_EQ(rig.value("main.mute"), 0) << "never whitelisted";
            EXPECT_EQ(rig.value("top.mute"), 0) << "never whitelisted";
        }
    }
    EXPECT_GT(sets, 5000);
    EXPECT_GT(rig.host.applied, 20);
    // Still serving, and what the store holds went out: nothing lost.
    EXPECT_EQ(ws->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(rig.get("/api/v1/status", guest).status, 200);
    EXPECT_TRUE(rig.edits.amplifierKnown());
    EXPECT_EQ(rig.edits.unscopedEdits(), 0);
}

TEST(RemoteSocket, AClientThatStopsReadingIsLetGoAndHoldsNoOneUp) {
    RemoteRig rig;
    const QString guest = rig.login("1357");
    auto good = rig.socket(guest);
    Inbox inbox(*good);
    ASSERT_TRUE(opened(*good));
    // A client that completes the handshake and then never reads.
    QTcpSocket stuck;
    stuck.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    stuck.setReadBufferSize(4096);
    ASSERT_TRUE(handshake(stuck, rig.server.port(), guest));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.server.clientCount() == 2; }));
    // Large level messages, many of them: far more than the kernel's buffers hold.
    rig.host.levels.assign(8000, -12.25);
    for (int i = 0; i < 300 && rig.server.clientCount() == 2; ++i) {
        rig.server.levelsChanged();
        ASSERT_TRUE(inbox.waitFor("levels")) << "the reading client keeps up, at " << i;
    }
    EXPECT_EQ(rig.server.clientCount(), 1) << "the stuck client was let go";
    EXPECT_EQ(good->state(), QAbstractSocket::ConnectedState);
}
