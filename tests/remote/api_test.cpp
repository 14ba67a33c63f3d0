// SPDX-License-Identifier: GPL-3.0-or-later
// The HTTP API over loopback against the simulated amplifier: every endpoint and error, roles,
// the whitelist and its limits, the wrong-PIN limit, expiry, and bad requests.
#include "remote_rig.h"

#include <QHostInfo>
#include <QTcpSocket>

using namespace q7;
using namespace q7::test;

namespace {

QByteArray body(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Raw bytes on a socket of its own; the server's answer, or what came before it hung up.
QByteArray rawExchange(quint16 port, const QByteArray& bytes, bool waitClose = true) {
    QTcpSocket s;
    s.connectToHost("127.0.0.1", port);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }));
    s.write(bytes);
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += s.readAll();
            return s.state() == QAbstractSocket::UnconnectedState ||
                   (!waitClose && got.contains("\r\n\r\n"));
        },
        20000);
    return got + s.readAll();
}

} // namespace

TEST(RemoteApi, OwnerAndGuestLogInAndSeeTheirOwnParameters) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const QString guest = rig.login("1357");
    EXPECT_NE(owner, guest);

    Reply me = rig.get("/api/v1/whoami", guest);
    ASSERT_EQ(me.status, 200) << me.body.toStdString();
    EXPECT_EQ(me.json["role"], "guest");
    EXPECT_EQ(me.json["modes"], true);
    const QJsonArray params = me.json["params"].toArray();
    ASSERT_EQ(params.size(), 4);
    QJsonObject music;
    for (const QJsonValue& v : params)
        if (v["name"] == "music.volume")
            music = v.toObject();
    EXPECT_EQ(music["label_en"], "Music Vol");
    EXPECT_FALSE(music["label_zh"].toString().isEmpty());
    EXPECT_EQ(music["min"].toDouble(), 0);
    EXPECT_EQ(music["max"].toDouble(), 70) << "the owner's limit, not the range's 99";
    EXPECT_EQ(music["step"].toDouble(), 1);
    EXPECT_EQ(music["kind"], "number");
    EXPECT_GT(rig.get("/api/v1/whoami", owner).json["params"].toArray().size(), 500);

    // Guests read only the whitelist; the owner reads everything.
    Reply all = rig.get("/api/v1/params", guest);
    EXPECT_EQ(all.json.keys(),
              QStringList({"echo.volume", "mic.mute", "mic.volume", "music.volume"}));
    EXPECT_EQ(all.json["mic.mute"], "off") << "switches are words";
    EXPECT_TRUE(all.json["music.volume"].isDouble());
    EXPECT_EQ(rig.get("/api/v1/params", owner).json.size(), qsizetype(paramTable().size()));
    Reply band = rig.get("/api/v1/params?prefix=main.eq.3", owner);
    EXPECT_EQ(band.json.keys(), QStringList({"main.eq.3.freq_hz", "main.eq.3.gain_db",
                                             "main.eq.3.q", "main.eq.3.type"}));
    EXPECT_TRUE(band.json["main.eq.3.type"].isString());
    EXPECT_EQ(rig.get("/api/v1/params?prefix=main.eq.3", guest).json.size(), 0);
    EXPECT_EQ(rig.get("/api/v1/params?prefix=nothing.here", owner).status, 404);
    EXPECT_EQ(rig.get("/api/v1/params?prefx=main", owner).status, 400);

    Reply one = rig.get("/api/v1/params/music.volume", guest);
    EXPECT_EQ(one.status, 200);
    EXPECT_EQ(one.json["name"], "music.volume");
    EXPECT_EQ(one.json["value"].toDouble(), rig.value("music.volume"));
    Reply hidden = rig.get("/api/v1/params/main.mute", guest);
    EXPECT_EQ(hidden.status, 403);
    EXPECT_EQ(hidden.json["param"], "main.mute");
    Reply unknown = rig.get("/api/v1/params/main.volum", owner);
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.json["param"], "main.volum");
    EXPECT_TRUE(unknown.json["error"].toString().contains("unknown parameter"));

    // Logging out ends the token; a second logout is harmless.
    EXPECT_EQ(rig.request("POST", "/api/v1/logout", {}, guest).status, 200);
    EXPECT_EQ(rig.get("/api/v1/params", guest).status, 401);
    EXPECT_EQ(rig.request("POST", "/api/v1/logout", {}, guest).status, 200);
    EXPECT_EQ(rig.get("/api/v1/params", owner).status, 200);
}

TEST(RemoteApi, APatchIsOneEditStepSentToTheAmplifierAndAudited) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const std::size_t steps = rig.edits.history().size();
    const std::size_t before = rig.reportsSent();
    Reply r = rig.patch({{"mic.volume", 33},
                         {"main.mute", "on"},
                         {"main.eq.3.gain_db", "-4.5 dB"},
                         {"echo.volume", 21.0}},
                        owner);
    ASSERT_EQ(r.status, 200) << r.body.toStdString();
    EXPECT_EQ(r.json["mic.volume"].toDouble(), 33);
    EXPECT_EQ(r.json["main.mute"], "on");
    EXPECT_EQ(r.json["main.eq.3.gain_db"].toDouble(), -4.5);
    EXPECT_EQ(rig.edits.history().size(), steps + 1) << "one step for the whole patch";
    EXPECT_EQ(rig.value("mic.volume"), 33);
    EXPECT_EQ(rig.value("main.mute"), 1);
    EXPECT_GE(rig.reportsSent(), before + 3) << "each value went out";
    // The amplifier took them: a re-read would find what the store holds.
    EXPECT_TRUE(rig.edits.amplifierKnown());

    // PUT one value: its own step.
    Reply put = rig.request("PUT", "/api/v1/params/music.volume", body({{"value", 64}}), owner);
    ASSERT_EQ(put.status, 200) << put.body.toStdString();
    EXPECT_EQ(put.json["value"].toDouble(), 64);
    EXPECT_EQ(rig.edits.history().size(), steps + 2);

    ASSERT_GE(rig.audit.size(), 3u);
    const QString& line = rig.audit.back();
    EXPECT_TRUE(line.contains(" owner 127.0.0.1: music.volume ")) << line.toStdString();
    EXPECT_TRUE(line.contains("→ 64")) << line.toStdString();
    for (const QString& l : rig.audit) {
        EXPECT_FALSE(l.contains("2468")) << "no PIN in the log: " << l.toStdString();
        EXPECT_FALSE(l.contains(owner)) << "no token in the log";
    }
}

TEST(RemoteApi, RefusalsNameTheParameterAndWriteNothing) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const QString guest = rig.login("1357");
    const std::size_t steps = rig.edits.history().size();
    const std::size_t reports = rig.reportsSent();
    struct Case {
        const char* what;
        QByteArray body;
        QString token;
        int status;
        const char* param;
    };
    const Case cases[] = {
        {"over the owner's limit", R"({"music.volume": 71})", guest, 400, "music.volume"},
        {"under the owner's limit", R"({"echo.volume": 9})", guest, 400, "echo.volume"},
        {"outside the range", R"({"mic.volume": 100})", owner, 400, "mic.volume"},
        {"not whitelisted", R"({"main.mute": "on"})", guest, 403, "main.mute"},
        {"one bad spoils the patch", R"({"mic.volume": 5, "music.volume": 90})", guest, 400,
         "music.volume"},
        {"unknown parameter", R"({"mic.volum": 5})", owner, 400, "mic.volum"},
        {"wrong type", R"({"mic.volume": [5]})", owner, 400, "mic.volume"},
        {"null", R"({"mic.volume": null})", owner, 400, "mic.volume"},
        {"boolean for a number", R"({"mic.volume": true})", owner, 400, "mic.volume"},
        {"word for a number", R"({"mic.volume": "loud"})", owner, 400, "mic.volume"},
        {"not a switch word", R"({"mic.mute": "maybe"})", guest, 400, "mic.mute"},
        {"empty text", R"({"mic.volume": "  "})", owner, 400, "mic.volume"},
        {"long text", "{\"mic.volume\": \"" + QByteArray(5000, '1') + "\"}", owner, 400,
         "mic.volume"},
        {"kept in files only", R"({"extra.0": 1})", owner, 400, "extra.0"},
        {"malformed JSON", R"({"mic.volume": 5)", owner, 400, nullptr},
        {"not an object", R"([["mic.volume", 5]])", owner, 400, nullptr},
        {"unicode junk", "{\"mic.volume\xF0\x9F\x8E\xA4\xC3\": \"\xEF\xBF\xBF\xED\xA0\x80\"}",
         owner, 400, nullptr},
        {"NaN text", R"({"mic.volume": "nan"})", owner, 400, "mic.volume"},
        {"huge number", R"({"mic.volume": 1e308})", owner, 400, "mic.volume"},
        {"no token", R"({"mic.volume": 5})", QString(), 401, nullptr},
        {"bad token", R"({"mic.volume": 5})", "0123abcd", 401, nullptr},
    };
    for (const Case& c : cases) {
        Reply r = rig.request("PATCH", "/api/v1/params", c.body, c.token);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.body.toStdString();
        EXPECT_TRUE(r.json["error"].isString()) << c.what;
        if (c.param) {
            EXPECT_EQ(r.json["param"], c.param) << c.what;
        }
    }
    // PUT's own shape.
    EXPECT_EQ(rig.request("PUT", "/api/v1/params/mic.volume", body({{"val", 5}}), owner).status,
              400);
    EXPECT_EQ(rig.request("PUT", "/api/v1/params/mic.volume", body({{"value", 5}, {"x", 1}}), owner)
                  .status,
              400);
    EXPECT_EQ(rig.request("PUT", "/api/v1/params/nope", body({{"value", 5}}), owner).status, 404);
    EXPECT_EQ(rig.request("PUT", "/api/v1/params/main.mute", body({{"value", 1}}), guest).status,
              403);
    EXPECT_EQ(rig.edits.history().size(), steps) << "nothing refused became a step";
    EXPECT_EQ(rig.reportsSent(), reports) << "nothing refused went out";

    // Guests' values within the limits, in any spelling the command line takes.
    EXPECT_EQ(rig.patch({{"music.volume", 70}, {"mic.mute", true}}, guest).status, 200);
    EXPECT_EQ(rig.value("mic.mute"), 1);
    EXPECT_EQ(rig.patch({{"mic.mute", "off"}, {"echo.volume", "10"}}, guest).status, 200);
    EXPECT_EQ(rig.value("echo.volume"), 10);
    // An empty patch changes nothing and makes no step.
    const std::size_t now = rig.edits.history().size();
    EXPECT_EQ(rig.patch({}, owner).status, 200);
    EXPECT_EQ(rig.edits.history().size(), now);
}

TEST(RemoteApi, NoAmplifierIsAConflict) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    rig.amp.c.link.CloseByRemoval();
    Reply r = rig.patch({{"mic.volume", 5}}, owner);
    EXPECT_EQ(r.status, 409);
    EXPECT_TRUE(r.json["error"].toString().contains("no amplifier"));
    EXPECT_EQ(rig.request("POST", "/api/v1/modes/2/recall", {}, owner).status, 409);
    Reply s = rig.get("/api/v1/status", owner);
    EXPECT_EQ(s.status, 200);
    EXPECT_EQ(s.json["connected"], false);
}

TEST(RemoteApi, StatusModesAndTheModeFile) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const QString guest = rig.login("1357");
    Reply s = rig.get("/api/v1/status", guest);
    ASSERT_EQ(s.status, 200);
    EXPECT_EQ(s.json["connected"], true);
    EXPECT_EQ(s.json["model"], "Q7");
    EXPECT_TRUE(s.json["mode"].isNull());
    EXPECT_EQ(s.json["levels"].toArray(), QJsonArray({-20.5, -60.0}));

    EXPECT_EQ(rig.request("POST", "/api/v1/modes/3/recall", {}, guest).status, 200);
    EXPECT_EQ(rig.host.mode, 3);
    EXPECT_EQ(rig.get("/api/v1/status", guest).json["mode"], 3);
    for (const char* bad : {"0", "5", "x", "03", "-1"})
        EXPECT_EQ(
            rig.request("POST", QString("/api/v1/modes/%1/recall").arg(bad), {}, owner).status, 404)
            << bad;
    RemoteConfig c = testConfig();
    c.guestModes = false;
    rig.server.setConfig(c);
    EXPECT_EQ(rig.request("POST", "/api/v1/modes/1/recall", {}, guest).status, 403);
    EXPECT_EQ(rig.request("POST", "/api/v1/modes/1/recall", {}, owner).status, 200);

    // The whole settings, for the owner only.
    EXPECT_EQ(rig.get("/api/v1/modefile", guest).status, 403);
    Reply file = rig.get("/api/v1/modefile", owner);
    ASSERT_EQ(file.status, 200);
    EXPECT_EQ(file.header("content-type"), "application/octet-stream");
    const auto expected = modeFileBytes(settingsOf(rig.amp.store));
    EXPECT_EQ(file.body, QByteArray(reinterpret_cast<const char*>(expected.data()),
                                    qsizetype(expected.size())));
    // Changed and put back: one step, sent.
    ModeImage image = settingsOf(rig.amp.store);
    setParamValue(image, *findParam("mic.volume"), 12);
    const auto bytes = modeFileBytes(image);
    const std::size_t steps = rig.edits.history().size();
    Reply put = rig.request(
        "PUT", "/api/v1/modefile",
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), owner);
    EXPECT_EQ(put.status, 200) << put.body.toStdString();
    EXPECT_EQ(put.json["changed"], 1);
    EXPECT_EQ(rig.value("mic.volume"), 12);
    EXPECT_EQ(rig.edits.history().size(), steps + 1);
    EXPECT_EQ(rig.request("PUT", "/api/v1/modefile", "not a mode file", owner).status, 400);
    EXPECT_EQ(rig.request("PUT", "/api/v1/modefile", "x", guest).status, 403);
}

TEST(RemoteApi, AddressesMethodsAndTheDescription) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    EXPECT_EQ(rig.get("/api/v1/nothing", owner).status, 404);
    EXPECT_EQ(rig.get("/api/v2/params", owner).status, 404);
    EXPECT_EQ(rig.get("/api/v1/params", {}).status, 401);
    EXPECT_EQ(rig.get("/api/v1/whoami", {}).status, 401);
    EXPECT_EQ(rig.get("/api/v1/status", {}).status, 401);
    Reply wrong = rig.request("DELETE", "/api/v1/params", {}, owner);
    EXPECT_EQ(wrong.status, 405);
    EXPECT_EQ(wrong.header("allow"), "GET, PATCH");
    EXPECT_EQ(rig.get("/api/v1/login", {}).status, 405);
    EXPECT_EQ(rig.request("POST", "/api/v1/status", {}, owner).status, 405);
    EXPECT_EQ(rig.get("/api/v1/ws", owner).status, 400) << "a plain GET of the socket";

    Reply api = rig.get("/api/v1/openapi.json", {});
    ASSERT_EQ(api.status, 200);
    const QJsonObject paths = api.json["paths"].toObject();
    for (const char* p : {"/api/v1/login", "/api/v1/logout", "/api/v1/whoami", "/api/v1/params",
                          "/api/v1/params/{name}", "/api/v1/status", "/api/v1/modes/{n}/recall",
                          "/api/v1/modefile", "/api/v1/ws"})
        EXPECT_TRUE(paths.contains(p)) << p;

    // The page's files and nothing beside them.
    const bool page = QFile::exists(":/remote/page/index.html");
    EXPECT_EQ(rig.get("/", {}).status, page ? 200 : 404);
    for (const char* bad :
         {"/../openapi.json", "/%2e%2e/openapi.json", "/page/../../x", "/.hidden", "/index.html/"})
        EXPECT_EQ(rig.get(bad, {}).status, 404) << bad;
    EXPECT_EQ(rig.request("POST", "/", {}, {}).status, 405);
}

TEST(RemoteApi, WrongPinsAreLimitedAndTokensExpire) {
    RemoteRig rig;
    auto login = [&](const char* pin) {
        return rig.request("POST", "/api/v1/login", body({{"pin", pin}}));
    };
    for (int i = 0; i < 5; ++i) {
        Reply r = login("0000");
        EXPECT_EQ(r.status, 401) << i;
        EXPECT_EQ(r.json["error"], "wrong PIN");
    }
    Reply held = login("2468");
    EXPECT_EQ(held.status, 429) << "even the right PIN waits";
    EXPECT_EQ(held.header("retry-after"), "60");
    EXPECT_TRUE(rig.audit.back().contains("too many wrong PINs"));
    rig.amp.clock.advanceMs(60'000);
    Reply in = login("2468");
    ASSERT_EQ(in.status, 200);
    EXPECT_EQ(in.json["role"], "owner");
    const QString token = in.json["token"].toString();
    EXPECT_TRUE(in.header("set-cookie").startsWith("q7session=" + token.toUtf8()));
    EXPECT_TRUE(in.header("set-cookie").contains("HttpOnly"));
    EXPECT_TRUE(in.header("set-cookie").contains("SameSite=Strict"));

    // Bad logins.
    EXPECT_EQ(rig.request("POST", "/api/v1/login", R"({"pin": 2468})").status, 400);
    EXPECT_EQ(rig.request("POST", "/api/v1/login", R"({"pin": "2468", "role": "owner"})").status,
              400);
    EXPECT_EQ(rig.request("POST", "/api/v1/login", R"({"pin": )").status, 400);

    EXPECT_EQ(rig.get("/api/v1/status", token).status, 200);
    rig.amp.clock.advanceMs(RemoteAccess::kTokenLifetimeMs + 1);
    EXPECT_EQ(rig.get("/api/v1/status", token).status, 401) << "expired";

    RemoteConfig closed;
    rig.server.setConfig(closed);
    EXPECT_EQ(login("2468").status, 403) << "no PIN set: closed";
}

TEST(RemoteApi, TheCookieCountsOnlyFromThePagesOwnOrigin) {
    RemoteRig rig;
    const QString token = rig.login("1357");
    const QByteArray cookie = "q7session=" + token.toUtf8();
    const QByteArray host = rig.base.mid(7).toUtf8();
    auto patch = [&](const QByteArray& origin) {
        QList<QPair<QByteArray, QByteArray>> h{{"Cookie", cookie}};
        if (!origin.isEmpty())
            h.append({"Origin", origin});
        return rig.request("PATCH", "/api/v1/params", R"({"mic.volume": 40})", {}, h).status;
    };
    EXPECT_EQ(patch({}), 200);
    EXPECT_EQ(patch("http://" + host), 200);
    EXPECT_EQ(patch("http://evil.example"), 401);
    EXPECT_EQ(patch("null"), 401);
}

// A site whose name its owner points at this computer (DNS rebinding) is its own origin, so the
// origin rule alone would let its page in where guests need no PIN: the name it uses is refused.
TEST(RemoteApi, AnswersOnlyToItsAddressesAndThisComputersName) {
    RemoteRig rig;
    RemoteConfig open;
    open.guestOpen = true;
    rig.server.setConfig(open);
    const quint16 port = rig.server.port();
    const QByteArray login = R"({"pin": ""})";
    auto post = [&](const QByteArray& host) {
        return rawExchange(
            port, "POST /api/v1/login HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host +
                      "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(login.size()) + "\r\nConnection: close\r\n\r\n" + login);
    };
    const QByteArray p = ":" + QByteArray::number(port);
    EXPECT_TRUE(post("evil.example" + p).startsWith("HTTP/1.1 403"));
    EXPECT_FALSE(post("evil.example" + p).contains("token"));
    EXPECT_TRUE(post("127.0.0.1" + p).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(post("localhost" + p).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(post("[::1]" + p).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(post("192.168.1.20" + p).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(post(QHostInfo::localHostName().toUtf8() + p).startsWith("HTTP/1.1 200"));

    // The WebSocket is refused under a foreign name too, even with a good token.
    const QString token = rig.login("");
    QTcpSocket raw;
    raw.connectToHost("127.0.0.1", port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return raw.state() == QAbstractSocket::ConnectedState; }));
    raw.write("GET /api/v1/ws HTTP/1.1\r\nHost: evil.example" + p +
              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
              "Authorization: Bearer " +
              token.toUtf8() + "\r\n\r\n");
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        got += raw.readAll();
        return got.contains("\r\n\r\n") || raw.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_FALSE(got.startsWith("HTTP/1.1 101")) << got.toStdString();
}

TEST(RemoteApi, HugeSlowAndVanishingRequestsNeitherHurtNorBlock) {
    RemoteRig rig;
    const QString owner = rig.login("2468");
    const quint16 port = rig.server.port();
    // A body announced too large is refused before it is sent.
    QByteArray head = "PUT /api/v1/modefile HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                      owner.toUtf8() + "\r\nContent-Length: 100000000\r\n\r\n";
    EXPECT_TRUE(rawExchange(port, head).startsWith("HTTP/1.1 413")) << "announced";
    // One sent without a length (chunked, endless) is cut off once it passes the limit.
    QTcpSocket s;
    s.connectToHost("127.0.0.1", port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }));
    s.write(
        "PATCH /api/v1/params HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, ' ') + "\r\n";
    QByteArray answer;
    int chunks = 0;
    for (; chunks < 200 && s.state() == QAbstractSocket::ConnectedState; ++chunks) {
        s.write(chunk);
        (void)QTest::qWaitFor(
            [&] { return s.bytesToWrite() == 0 || s.state() != QAbstractSocket::ConnectedState; });
        answer += s.readAll();
    }
    EXPECT_LT(chunks, 100) << "cut off near 256 KiB, not buffered to the end";
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.state() == QAbstractSocket::UnconnectedState; }))
        << "12 MB later the server still listens";
    answer += s.readAll();
    EXPECT_TRUE(answer.isEmpty() || answer.startsWith("HTTP/1.1 413"))
        << answer.left(80).toStdString();

    // A slow client holds nothing up: half its request now, the rest after another's request.
    QTcpSocket slow;
    slow.connectToHost("127.0.0.1", port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.state() == QAbstractSocket::ConnectedState; }));
    slow.write("GET /api/v1/status HTTP/1.1\r\nHo");
    QTcpSocket gone;
    gone.connectToHost("127.0.0.1", port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.state() == QAbstractSocket::ConnectedState; }));
    gone.write("PATCH /api/v1/params HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
               owner.toUtf8() + "\r\nContent-Length: 40\r\n\r\n{\"mic.vol");
    (void)QTest::qWaitFor([&] { return gone.bytesToWrite() == 0; });
    gone.abort(); // vanished mid-message
    EXPECT_EQ(rig.get("/api/v1/status", owner).status, 200);
    slow.write("st: 127.0.0.1\r\nAuthorization: Bearer " + owner.toUtf8() + "\r\n\r\n");
    QByteArray got;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        got += slow.readAll();
        return got.contains("\"connected\"");
    }));
    EXPECT_TRUE(got.startsWith("HTTP/1.1 200"));
    // Keep-alive requests one after another are not mistaken for one large one.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(rig.request("PATCH", "/api/v1/params",
                              "{\"mic.volume\": 7, \"x\": \"" + QByteArray(100 * 1024, 'a') + "\"}",
                              owner)
                      .status,
                  400)
            << i;
    EXPECT_EQ(rig.value("mic.volume") == 7, false) << "the patch named an unknown parameter";
}

TEST(RemoteApi, ListeningAddressesAndThePagesAddress) {
    RemoteRig rig;
    EXPECT_EQ(rig.server.pageAddress(), rig.base + "/");
    QString error;
    RemoteServer second(rig.host, rig.amp.clock);
    EXPECT_FALSE(second.listen("127.0.0.1:" + QString::number(rig.server.port()), &error));
    EXPECT_TRUE(error.contains(QString::number(rig.server.port()))) << error.toStdString();
    EXPECT_FALSE(second.isListening());
    for (const char* bad : {"localhost:80", "127.0.0.1", "1.2.3.4:99999", "::1:80", ""}) {
        EXPECT_FALSE(second.listen(bad, &error)) << bad;
        EXPECT_TRUE(error.contains("ADDR:PORT")) << bad;
    }
    ASSERT_TRUE(second.listen("[::1]:0", &error)) << error.toStdString();
    EXPECT_EQ(second.pageAddress(), "http://[::1]:" + QString::number(second.port()) + "/");
    second.close();
    EXPECT_FALSE(second.isListening());
    EXPECT_EQ(second.port(), 0);
    EXPECT_EQ(rig.get("/api/v1/status", rig.login("2468")).status, 200)
        << "the first one serves on";
}
