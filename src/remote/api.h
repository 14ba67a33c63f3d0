// SPDX-License-Identifier: GPL-3.0-or-later
// The HTTP API and the WebSocket messages, apart from the transport: a request in, a response
// out, checked against the caller's role. Runs on the holder's thread.
#pragma once

#include "remote/access.h"
#include "remote/host.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace q7 {

struct ApiRequest {
    QByteArray method; // "GET", "PUT", …
    QString path;      // decoded, without the query
    QString query;     // encoded, without '?'
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString address;                                 // the client's
    QByteArray header(const QByteArray& name) const; // first one, case-insensitive
};

struct ApiResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

class RemoteApi {
public:
    RemoteApi(RemoteHost& host, RemoteAccess& access);

    ApiResponse handle(const ApiRequest& request);

    // The session token a request carries: its Bearer token, or the page's session cookie
    // when the request comes from the page's own origin (or names none).
    std::string tokenOf(const ApiRequest& request) const;

    // Whether the Host a request names is one of ours: an address, "localhost" or this
    // computer's own name. A web page whose name its owner points at this computer (DNS
    // rebinding) names its own and is refused, so it cannot drive the amplifier through a
    // visitor's browser; a request naming none (a script speaking HTTP/1.0) passes.
    static bool hostAllowed(const QByteArray& host);

    // A WebSocket text message from a client with a token; the reply to send back, empty when
    // none is due. ended: the session is over, the server closes the socket.
    QByteArray socketMessage(const std::string& token, const QString& address,
                             const QByteArray& text, bool& ended);

    // The values a role may read, as {"name": value}; all of them, or those differing between
    // two images.
    QJsonObject readable(RemoteRole role, const ModeImage& image) const;
    QJsonObject changed(RemoteRole role, const ModeImage& before, const ModeImage& after) const;
    QJsonObject status() const;

    // "owner 127.0.0.1: music.volume 40 → 60"; the server adds the time.
    std::function<void(RemoteRole, const QString& address, const std::string& what)> onAudit;
    // After every change the API made.
    std::function<void()> onChanged;
    // A session ended by logout: its sockets close.
    std::function<void(const std::string& token)> onLogout;

private:
    struct Failure {
        int status = 400;
        std::string error;
        std::string param;
    };
    RemoteHost& host_;
    RemoteAccess& access_;

    ApiResponse login(const ApiRequest& r);
    ApiResponse logout(const ApiRequest& r);
    ApiResponse whoami(RemoteRole role);
    ApiResponse getParams(RemoteRole role, const ApiRequest& r);
    ApiResponse getParam(RemoteRole role, const std::string& name);
    ApiResponse putParam(RemoteRole role, const ApiRequest& r, const std::string& name);
    ApiResponse patchParams(RemoteRole role, const ApiRequest& r);
    ApiResponse recall(RemoteRole role, const ApiRequest& r, const QString& n);
    ApiResponse modeFile(RemoteRole role, const ApiRequest& r);
    ApiResponse page(const ApiRequest& r);

    // Checks every value of an object of names and values, then applies them as one step.
    bool setValues(RemoteRole role, const QString& address, const QJsonObject& values,
                   Failure& failure, QJsonObject* result);
};

ApiResponse jsonError(int status, const std::string& error, const std::string& param = {});

} // namespace q7
