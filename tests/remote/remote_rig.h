// SPDX-License-Identifier: GPL-3.0-or-later
// The remote server on loopback in front of an edit path on the simulated amplifier (virtual
// time, every report on the trace), and a client speaking HTTP and WebSocket with Qt's classes.
#pragma once

#include "device/rig.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_values.h"
#include "remote/server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <memory>

namespace q7::test {

// Holds the amplifier as the editor does: each apply is one step on the edit path, sent at once.
class TestHost : public RemoteHost {
public:
    TestHost(Rig& amp, EditPath& edits) : amp_(amp), edits_(edits) {}

    ModeImage settings() const override { return settingsOf(amp_.store); }
    bool apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
               std::string& error) override {
        if (!amp_.c.link.isOpen()) {
            error = "no amplifier is connected";
            return false;
        }
        EditPath::Scope step(edits_, {"远程 " + who.role, "Remote " + who.role});
        ModeImage image = settingsOf(amp_.store);
        for (const RemoteValue& v : values)
            setParamValue(image, *v.param, v.raw);
        replace(image);
        ++applied;
        return true;
    }
    RemoteStatus status() const override {
        RemoteStatus s;
        s.connected = amp_.c.link.isOpen();
        s.model = s.connected ? "Q7" : "";
        s.mode = mode;
        s.levelsDb = levels;
        return s;
    }
    bool recallMode(int m, const RemoteOrigin&, std::string& error) override {
        if (!amp_.c.link.isOpen()) {
            error = "no amplifier is connected";
            return false;
        }
        mode = m;
        return true;
    }
    std::string modeFile() const override {
        const auto bytes = modeFileBytes(settings());
        return std::string(bytes.begin(), bytes.end());
    }
    bool putModeFile(const std::string& bytes, const RemoteOrigin&, std::string& error) override {
        ModeImage image = settings();
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        if (!parseModeFile(std::span(data, bytes.size()), image)) {
            error = "not a mode file";
            return false;
        }
        if (!amp_.c.link.isOpen()) {
            error = "no amplifier is connected";
            return false;
        }
        EditPath::Scope step(edits_, {"远程模式文件", "Remote mode file"});
        replace(image);
        return true;
    }

    int applied = 0;
    int mode = 0;
    std::vector<double> levels{-20.5, -60.0};

private:
    Rig& amp_;
    EditPath& edits_;

    // Within the open step: the store takes the image and what differs goes out.
    void replace(const ModeImage& image) {
        const ModeImage before = settingsOf(amp_.store);
        applySettings(amp_.store, image);
        sendSettingsDifferences(edits_.dsp(), before);
    }
};

struct Reply {
    int status = 0;
    QByteArray body;
    QJsonObject json;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    QMap<QByteArray, QByteArray> headers;
};

inline RemoteConfig testConfig() {
    RemoteConfig c;
    c.ownerPin = "2468";
    c.guestPin = "1357";
    c.guest = {{"mic.volume", {}, {}},
               {"music.volume", {}, 70.0},
               {"echo.volume", 10.0, 80.0},
               {"mic.mute", {}, {}}};
    return c;
}

// Each request says who it is itself: no cookie is kept between them.
struct NoCookies : QNetworkCookieJar {
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

struct RemoteRig {
    explicit RemoteRig(RemoteConfig config = testConfig()) {
        net.setCookieJar(new NoCookies);
        EXPECT_TRUE(amp.c.link.OpenLink().opened);
        edits.amplifierHoldsStore();
        server.setConfig(config);
        QString error;
        EXPECT_TRUE(server.listen("127.0.0.1:0", &error)) << error.toStdString();
        base = "http://127.0.0.1:" + QString::number(server.port());
        QObject::connect(&server, &RemoteServer::audited,
                         [this](const QString& line) { audit.push_back(line); });
    }

    Reply request(const QByteArray& method, const QString& path, const QByteArray& body = {},
                  const QString& token = {},
                  const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        QNetworkRequest r(QUrl(base + path));
        if (!token.isEmpty())
            r.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        if (!body.isEmpty())
            r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        for (const auto& [k, v] : headers)
            r.setRawHeader(k, v);
        std::unique_ptr<QNetworkReply> reply(net.sendCustomRequest(r, method, body));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 20000));
        Reply out;
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        out.body = reply->readAll();
        out.error = reply->error();
        for (const auto& [k, v] : reply->rawHeaderPairs())
            out.headers[k.toLower()] = v;
        out.json = QJsonDocument::fromJson(out.body).object();
        // Let what the request sent reach the simulated amplifier (virtual time moves now).
        amp.c.link.awaitReply();
        return out;
    }
    Reply get(const QString& path, const QString& token) { return request("GET", path, {}, token); }
    Reply patch(const QJsonObject& o, const QString& token) {
        return request("PATCH", "/api/v1/params", QJsonDocument(o).toJson(), token);
    }
    QString login(const QString& pin) {
        const Reply r =
            request("POST", "/api/v1/login", QJsonDocument(QJsonObject{{"pin", pin}}).toJson());
        EXPECT_EQ(r.status, 200) << r.body.toStdString();
        return r.json["token"].toString();
    }
    double value(const char* id) { return userValue(*findParam(id), settingsOf(amp.store)); }
    std::size_t reportsSent() { return amp.sent().size(); }

    // A WebSocket client; opened with the token as Bearer, or with the given headers.
    std::unique_ptr<QWebSocket> socket(const QString& token,
                                       const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        auto ws = std::make_unique<QWebSocket>();
        QNetworkRequest r(QUrl("ws://127.0.0.1:" + QString::number(server.port()) + "/api/v1/ws"));
        if (!token.isEmpty())
            r.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        for (const auto& [k, v] : headers)
            r.setRawHeader(k, v);
        ws->open(r);
        return ws;
    }

    Rig amp;
    EditPath edits{amp.store, amp.c.link, amp.clock, [this] { return amp.c.link.isOpen(); }};
    TestHost host{amp, edits};
    RemoteServer server{host, amp.clock};
    QNetworkAccessManager net;
    QString base;
    std::vector<QString> audit;
};

// Collects a socket's messages as JSON objects.
struct Inbox {
    explicit Inbox(QWebSocket& ws) {
        QObject::connect(&ws, &QWebSocket::textMessageReceived, [this](const QString& text) {
            messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
        });
    }
    // Waits for a message of the type that satisfies test; true when it came.
    bool waitFor(const QString& type, const std::function<bool(const QJsonObject&)>& test = {}) {
        return QTest::qWaitFor(
            [&] {
                for (std::size_t i = seen; i < messages.size(); ++i)
                    if (messages[i]["type"] == type && (!test || test(messages[i]))) {
                        seen = i + 1;
                        return true;
                    }
                return false;
            },
            20000);
    }
    std::vector<QJsonObject> messages;
    std::size_t seen = 0;
};

} // namespace q7::test
