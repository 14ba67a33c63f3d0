// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/api.h"

#include "params/mode_file.h"
#include "params/param_values.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>
#include <cmath>
#include <cstdlib>

namespace q7 {

namespace {

constexpr qsizetype kMaxValueText = 64;
const QString kApi = QStringLiteral("/api/v1/");

bool isWords(const ParamInfo& p) {
    return p.kind != ValueKind::Number && p.kind != ValueKind::Ratio && p.kind != ValueKind::Hex;
}

// Numbers in the unit's terms; words for switches and types (as get prints them in English).
QJsonValue valueJson(const ParamInfo& p, std::uint32_t raw) {
    if (isWords(p))
        return QString::fromStdString(formatValue(p, raw, true));
    const std::string text = paramJsonValue(p, raw);
    if (text == "null")
        return QJsonValue::Null;
    return std::strtod(text.c_str(), nullptr);
}

QByteArray toJson(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

ApiResponse json(int status, const QJsonObject& o) {
    ApiResponse r;
    r.status = status;
    r.body = toJson(o);
    return r;
}

bool parseObject(const QByteArray& body, QJsonObject& out, std::string& error) {
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError) {
        error = "malformed JSON: " + e.errorString().toStdString() + " at byte " +
                std::to_string(e.offset);
        return false;
    }
    if (!d.isObject()) {
        error = "the body must be a JSON object";
        return false;
    }
    out = d.object();
    return true;
}

// Text of a value in a client's JSON, for parseParamValue; empty with error on a wrong type.
std::string valueText(const ParamInfo& p, const QJsonValue& v, std::string& error) {
    if (v.isDouble())
        return jsonDouble(v.toDouble());
    if (v.isString()) {
        const QString s = v.toString();
        if (s.size() > kMaxValueText) {
            error = p.id + ": the value is too long";
            return {};
        }
        if (s.trimmed().isEmpty()) {
            error = p.id + ": the value is empty";
            return {};
        }
        return s.toStdString();
    }
    if (v.isBool() && (p.kind == ValueKind::OnOff || p.kind == ValueKind::OnWhenZero))
        return formatValue(p, paramChoices(p)[v.toBool() ? 1 : 0], true);
    error = p.id + ": the value must be a number" +
            (isWords(p) ? " or one of " + paramRangeText(p) : "");
    return {};
}

QByteArray contentTypeOf(const QString& name) {
    if (name.endsWith(".html"))
        return "text/html; charset=utf-8";
    if (name.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (name.endsWith(".css"))
        return "text/css; charset=utf-8";
    if (name.endsWith(".json"))
        return "application/json";
    if (name.endsWith(".svg"))
        return "image/svg+xml";
    if (name.endsWith(".png"))
        return "image/png";
    if (name.endsWith(".ico"))
        return "image/x-icon";
    if (name.endsWith(".woff2"))
        return "font/woff2";
    return "application/octet-stream";
}

ApiResponse methodNotAllowed(const char* allow) {
    ApiResponse r = jsonError(405, std::string("method not allowed here; use ") + allow);
    r.headers.emplace_back("Allow", allow);
    return r;
}

} // namespace

ApiResponse jsonError(int status, const std::string& error, const std::string& param) {
    QJsonObject o{{"error", QString::fromStdString(error)}};
    o["param"] = param.empty() ? QJsonValue(QJsonValue::Null) : QString::fromStdString(param);
    return json(status, o);
}

QByteArray ApiRequest::header(const QByteArray& name) const {
    for (const auto& [k, v] : headers)
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

bool RemoteApi::hostAllowed(const QByteArray& host) {
    const QString h = QString::fromLatin1(host).trimmed().toLower();
    if (h.isEmpty() || h.startsWith('[')) // none, or an IPv6 address
        return true;
    const QString name = h.section(':', 0, 0);
    if (!QHostAddress(name).isNull() || name == "localhost")
        return true;
    const QString own = QHostInfo::localHostName().toLower();
    return !own.isEmpty() && (name == own || name == own + ".local");
}

RemoteApi::RemoteApi(RemoteHost& host, RemoteAccess& access) : host_(host), access_(access) {}

std::string RemoteApi::tokenOf(const ApiRequest& r) const {
    const QByteArray auth = r.header("Authorization");
    if (auth.startsWith("Bearer "))
        return auth.mid(7).trimmed().toStdString();
    // The cookie goes with every request the browser makes to us, also those another site
    // starts: only our own page's (or a request naming no origin) counts.
    const QByteArray origin = r.header("Origin");
    if (!origin.isEmpty() && origin != "http://" + r.header("Host"))
        return {};
    for (const auto& [k, v] : r.headers) {
        if (k.compare("Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (QByteArray part : v.split(';')) {
            part = part.trimmed();
            if (part.startsWith("q7session="))
                return part.mid(10).toStdString();
        }
    }
    return {};
}

ApiResponse RemoteApi::handle(const ApiRequest& r) {
    const QString& path = r.path;
    const QByteArray& m = r.method;
    if (!hostAllowed(r.header("Host")))
        return jsonError(403, "this server answers to its addresses only, not to the name " +
                                  r.header("Host").left(80).toStdString());
    if (!path.startsWith(kApi))
        return m == "GET" ? page(r) : methodNotAllowed("GET");
    const QString rest = path.mid(kApi.size());
    if (rest == "openapi.json") {
        if (m != "GET")
            return methodNotAllowed("GET");
        QFile f(":/remote/openapi.json");
        f.open(QIODevice::ReadOnly);
        ApiResponse a;
        a.body = f.readAll();
        return a;
    }
    if (rest == "login")
        return m == "POST" ? login(r) : methodNotAllowed("POST");
    if (rest == "logout")
        return m == "POST" ? logout(r) : methodNotAllowed("POST");
    if (rest == "ws")
        return jsonError(400, "this address takes WebSocket connections");

    const RemoteRole role = access_.roleOf(tokenOf(r));
    const QStringList parts = rest.split('/');
    const bool known = rest == "whoami" || rest == "params" || rest == "status" ||
                       rest == "modefile" || (parts.size() == 2 && parts[0] == "params") ||
                       (parts.size() == 3 && parts[0] == "modes" && parts[2] == "recall");
    if (!known)
        return jsonError(404, "no such address: " + path.toStdString());
    if (role == RemoteRole::None)
        return jsonError(401, "log in first (POST /api/v1/login), or the session has ended");
    if (rest == "whoami")
        return m == "GET" ? whoami(role) : methodNotAllowed("GET");
    if (rest == "status")
        return m == "GET" ? json(200, status()) : methodNotAllowed("GET");
    if (rest == "params") {
        if (m == "GET")
            return getParams(role, r);
        return m == "PATCH" ? patchParams(role, r) : methodNotAllowed("GET, PATCH");
    }
    if (parts[0] == "params") {
        const std::string name = parts[1].toStdString();
        if (m == "GET")
            return getParam(role, name);
        return m == "PUT" ? putParam(role, r, name) : methodNotAllowed("GET, PUT");
    }
    if (parts[0] == "modes")
        return m == "POST" ? recall(role, r, parts[1]) : methodNotAllowed("POST");
    return m == "GET" || m == "PUT" ? modeFile(role, r) : methodNotAllowed("GET, PUT");
}

ApiResponse RemoteApi::login(const ApiRequest& r) {
    QJsonObject o;
    std::string error;
    if (!r.body.trimmed().isEmpty() && !parseObject(r.body, o, error))
        return jsonError(400, error);
    for (auto it = o.begin(); it != o.end(); ++it)
        if (it.key() != "pin")
            return jsonError(400, "unknown field " + it.key().toStdString());
    if (o.contains("pin") && !o["pin"].isString())
        return jsonError(400, "pin must be a string");
    const std::string pin = o["pin"].toString().toStdString();
    const RemoteAccess::LoginResult res = access_.login(pin, r.address.toStdString());
    switch (res.result) {
    case RemoteAccess::Login::Closed:
        return jsonError(403, "remote access has no PIN set");
    case RemoteAccess::Login::WrongPin:
        return jsonError(401, "wrong PIN");
    case RemoteAccess::Login::TooMany: {
        const long seconds = std::lround(std::ceil(res.retryAfterMs / 1000.0));
        if (onAudit)
            onAudit(RemoteRole::None, r.address, "login refused: too many wrong PINs");
        ApiResponse a =
            jsonError(429, "too many wrong PINs; try again in " + std::to_string(seconds) + " s");
        a.headers.emplace_back("Retry-After", QByteArray::number(qlonglong(seconds)));
        return a;
    }
    case RemoteAccess::Login::Ok:
        break;
    }
    if (onAudit)
        onAudit(res.role, r.address, "logged in");
    ApiResponse a =
        json(200, {{"token", QString::fromStdString(res.token)}, {"role", roleName(res.role)}});
    a.headers.emplace_back("Set-Cookie", "q7session=" + QByteArray::fromStdString(res.token) +
                                             "; HttpOnly; SameSite=Strict; Path=/");
    a.headers.emplace_back("Cache-Control", "no-store");
    return a;
}

ApiResponse RemoteApi::logout(const ApiRequest& r) {
    const std::string token = tokenOf(r);
    const RemoteRole role = access_.roleOf(token);
    if (role != RemoteRole::None) {
        access_.logout(token);
        if (onAudit)
            onAudit(role, r.address, "logged out");
        if (onLogout)
            onLogout(token);
    }
    ApiResponse a = json(200, {{"role", "none"}});
    a.headers.emplace_back("Set-Cookie",
                           "q7session=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0");
    return a;
}

ApiResponse RemoteApi::whoami(RemoteRole role) {
    QJsonArray params;
    for (const ParamInfo& p : paramTable()) {
        if (!access_.mayRead(role, p) || p.place == ParamPlace::Extra)
            continue;
        QJsonObject o{{"name", QString::fromStdString(p.id)},
                      {"label_zh", QString::fromStdString(paramName(p, false))},
                      {"label_en", QString::fromStdString(paramName(p, true))},
                      {"unit", QString::fromStdString(p.unit)},
                      {"kind", paramKindWord(p)}};
        if (isWords(p)) {
            QJsonArray values;
            for (std::uint32_t raw : paramChoices(p))
                values.append(QString::fromStdString(formatValue(p, raw, true)));
            o["values"] = values;
            o["min"] = QJsonValue::Null;
            o["max"] = QJsonValue::Null;
            o["step"] = QJsonValue::Null;
        } else {
            double lo = 0, hi = 255;
            if (p.hasRange)
                access_.limits(role, p, lo, hi);
            o["min"] = p.hasRange || p.kind == ValueKind::Hex ? QJsonValue(lo) : QJsonValue::Null;
            o["max"] = p.hasRange || p.kind == ValueKind::Hex ? QJsonValue(hi) : QJsonValue::Null;
            o["step"] = std::pow(10.0, -p.decimals);
        }
        params.append(o);
    }
    return json(
        200,
        {{"role", roleName(role)}, {"params", params}, {"modes", access_.mayRecallModes(role)}});
}

QJsonObject RemoteApi::readable(RemoteRole role, const ModeImage& image) const {
    QJsonObject o;
    for (const ParamInfo& p : paramTable())
        if (access_.mayRead(role, p))
            o[QString::fromStdString(p.id)] = valueJson(p, rawValue(p, image));
    return o;
}

QJsonObject RemoteApi::changed(RemoteRole role, const ModeImage& before,
                               const ModeImage& after) const {
    QJsonObject o;
    for (const ParamInfo& p : paramTable()) {
        const std::uint32_t raw = rawValue(p, after);
        if (raw != rawValue(p, before) && access_.mayRead(role, p))
            o[QString::fromStdString(p.id)] = valueJson(p, raw);
    }
    return o;
}

QJsonObject RemoteApi::status() const {
    const RemoteStatus s = host_.status();
    QJsonArray levels;
    for (double db : s.levelsDb)
        levels.append(std::isfinite(db) ? QJsonValue(db) : QJsonValue(QJsonValue::Null));
    QJsonObject o{{"connected", s.connected},
                  {"model", QString::fromStdString(s.model)},
                  {"input_format", QString::fromStdString(s.inputFormat)},
                  {"levels", levels}};
    o["mode"] = s.mode >= 1 && s.mode <= 4 ? QJsonValue(s.mode) : QJsonValue(QJsonValue::Null);
    return o;
}

ApiResponse RemoteApi::getParams(RemoteRole role, const ApiRequest& r) {
    const QUrlQuery q(r.query);
    std::vector<const ParamInfo*> wanted;
    for (const auto& [k, v] : q.queryItems(QUrl::FullyDecoded)) {
        if (k != "prefix")
            return jsonError(400, "unknown query field " + k.toStdString());
        std::string error;
        wanted = paramsMatching(v.toStdString(), error);
        if (wanted.empty())
            return jsonError(404, error, v.toStdString());
    }
    if (q.isEmpty())
        for (const ParamInfo& p : paramTable())
            wanted.push_back(&p);
    const ModeImage image = host_.settings();
    QJsonObject o;
    for (const ParamInfo* p : wanted)
        if (access_.mayRead(role, *p))
            o[QString::fromStdString(p->id)] = valueJson(*p, rawValue(*p, image));
    return json(200, o);
}

ApiResponse RemoteApi::getParam(RemoteRole role, const std::string& name) {
    std::string error;
    const ParamInfo* p = lookUpParam(name, error);
    if (!p)
        return jsonError(404, error, name);
    if (!access_.mayRead(role, *p))
        return jsonError(403, "guests may not read " + name, name);
    return json(200, {{"name", QString::fromStdString(p->id)},
                      {"value", valueJson(*p, rawValue(*p, host_.settings()))}});
}

bool RemoteApi::setValues(RemoteRole role, const QString& address, const QJsonObject& values,
                          Failure& f, QJsonObject* result) {
    std::vector<RemoteValue> out;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const std::string name = it.key().toStdString();
        f.param = name;
        const ParamInfo* p = lookUpParam(name, f.error);
        if (!p) {
            f.status = 400;
            return false;
        }
        // The whitelist before the value: a guest learns nothing of what it may not touch.
        bool outside = false;
        if (role == RemoteRole::Guest && !access_.guestEntry(*p)) {
            f.status = 403;
            f.error = access_.mayWrite(role, *p, 0, outside);
            return false;
        }
        const std::string text = valueText(*p, it.value(), f.error);
        if (text.empty()) {
            f.status = 400;
            return false;
        }
        const auto raw = parseParamValue(*p, text, f.error);
        if (!raw) {
            f.status = 400;
            return false;
        }
        f.error = access_.mayWrite(role, *p, userValue(*p, *raw), outside);
        if (!f.error.empty()) {
            f.status = outside ? 400 : 403;
            return false;
        }
        out.push_back({p, *raw});
    }
    f.param.clear();
    if (out.empty())
        return true;
    const ModeImage before = host_.settings();
    const RemoteOrigin who{roleName(role), address.toStdString()};
    if (!host_.apply(out, who, f.error)) {
        f.status = 409;
        return false;
    }
    const ModeImage after = host_.settings();
    std::string what;
    for (const RemoteValue& v : out) {
        const std::uint32_t now = rawValue(*v.param, after);
        what += (what.empty() ? "" : ", ") + v.param->id + " " +
                paramValueText(*v.param, rawValue(*v.param, before)) + " → " +
                paramValueText(*v.param, now);
        if (result)
            (*result)[QString::fromStdString(v.param->id)] = valueJson(*v.param, now);
    }
    if (onAudit)
        onAudit(role, address, what);
    if (onChanged)
        onChanged();
    return true;
}

ApiResponse RemoteApi::putParam(RemoteRole role, const ApiRequest& r, const std::string& name) {
    QJsonObject o;
    std::string error;
    if (!parseObject(r.body, o, error))
        return jsonError(400, error, name);
    for (auto it = o.begin(); it != o.end(); ++it)
        if (it.key() != "value")
            return jsonError(400, "unknown field " + it.key().toStdString(), name);
    if (!o.contains("value"))
        return jsonError(400, "the body needs {\"value\": V}", name);
    std::string lookup;
    if (!lookUpParam(name, lookup))
        return jsonError(404, lookup, name);
    Failure f;
    QJsonObject result;
    if (!setValues(role, r.address, {{QString::fromStdString(name), o["value"]}}, f, &result))
        return jsonError(f.status, f.error, f.param);
    return json(200, {{"name", QString::fromStdString(name)}, {"value", result.begin().value()}});
}

ApiResponse RemoteApi::patchParams(RemoteRole role, const ApiRequest& r) {
    QJsonObject o;
    std::string error;
    if (!parseObject(r.body, o, error))
        return jsonError(400, error);
    Failure f;
    QJsonObject result;
    if (!setValues(role, r.address, o, f, &result))
        return jsonError(f.status, f.error, f.param);
    return json(200, result);
}

ApiResponse RemoteApi::recall(RemoteRole role, const ApiRequest& r, const QString& n) {
    bool ok = false;
    const int mode = n.toInt(&ok);
    if (!ok || mode < 1 || mode > 4 || n.size() != 1)
        return jsonError(404, "user modes are 1 to 4");
    if (!access_.mayRecallModes(role))
        return jsonError(403, "guests may not recall modes here");
    std::string error;
    if (!host_.recallMode(mode, {roleName(role), r.address.toStdString()}, error))
        return jsonError(409, error);
    if (onAudit)
        onAudit(role, r.address, "recalled user mode " + std::to_string(mode));
    if (onChanged)
        onChanged();
    return json(200, {{"mode", mode}});
}

ApiResponse RemoteApi::modeFile(RemoteRole role, const ApiRequest& r) {
    if (role != RemoteRole::Owner)
        return jsonError(403, "only the owner may read or replace the whole settings");
    if (r.method == "GET") {
        ApiResponse a;
        const std::string bytes = host_.modeFile();
        a.body = QByteArray(bytes.data(), qsizetype(bytes.size()));
        a.contentType = "application/octet-stream";
        a.headers.emplace_back("Content-Disposition", "attachment; filename=\"settings.q7M\"");
        return a;
    }
    ModeImage image;
    const auto* data = reinterpret_cast<const std::uint8_t*>(r.body.constData());
    const ModeFileResult parsed = parseModeFile(std::span(data, std::size_t(r.body.size())), image);
    if (!parsed)
        return jsonError(400, describe(parsed, "the body"));
    const ModeImage before = host_.settings();
    std::string error;
    if (!host_.putModeFile(r.body.toStdString(), {"owner", r.address.toStdString()}, error))
        return jsonError(409, error);
    if (onAudit)
        onAudit(role, r.address,
                "replaced the settings with a mode file (" +
                    std::to_string(differences(before, host_.settings()).size()) +
                    " values changed)");
    if (onChanged)
        onChanged();
    return json(200, {{"changed", int(differences(before, host_.settings()).size())}});
}

ApiResponse RemoteApi::page(const ApiRequest& r) {
    QString name = r.path == "/" ? QStringLiteral("index.html") : r.path.mid(1);
    // Only the page's own files: plain names, nothing outside its folder.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]+(\\.[A-Za-z0-9]+)+$"));
    QFile f(":/remote/page/" + name);
    if (!plain.match(name).hasMatch() || !f.open(QIODevice::ReadOnly))
        return jsonError(404, "no such page");
    ApiResponse a;
    a.contentType = contentTypeOf(name);
    a.body = f.readAll();
    a.headers.emplace_back("Cache-Control", "no-cache");
    return a;
}

QByteArray RemoteApi::socketMessage(const std::string& token, const QString& address,
                                    const QByteArray& text, bool& ended) {
    const RemoteRole role = access_.roleOf(token);
    ended = role == RemoteRole::None;
    auto error = [](int status, const std::string& e, const std::string& param = {}) {
        QJsonObject o{{"type", "error"}, {"status", status}, {"error", QString::fromStdString(e)}};
        o["param"] = param.empty() ? QJsonValue(QJsonValue::Null) : QString::fromStdString(param);
        return toJson(o);
    };
    if (ended)
        return error(401, "the session has ended; log in again");
    QJsonObject o;
    std::string e;
    if (!parseObject(text, o, e))
        return error(400, e);
    if (o["type"] != "set")
        return error(400, "messages are {\"type\": \"set\", \"params\": {…}}");
    for (auto it = o.begin(); it != o.end(); ++it)
        if (it.key() != "type" && it.key() != "params")
            return error(400, "unknown field " + it.key().toStdString());
    if (!o["params"].isObject())
        return error(400, "params must be an object of names and values");
    Failure f;
    if (!setValues(role, address, o["params"].toObject(), f, nullptr))
        return error(f.status, f.error, f.param);
    return {};
}

} // namespace q7
