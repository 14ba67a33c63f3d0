// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/access.h"

#include "params/param_values.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace q7 {

namespace {

constexpr qint64 kMaxConfigBytes = 1 << 20;
constexpr std::size_t kMaxSessions = 4096;
constexpr std::size_t kMaxTracked = 4096;   // addresses with wrong PINs remembered
constexpr double kForgetMs = 3600.0 * 1000; // strikes are forgotten after an hour of quiet

std::string pinProblem(const std::string& pin, const char* which) {
    if (pin.empty())
        return {};
    if (pin.size() < 4 || pin.size() > 64)
        return std::string(which) + " must be 4 to 64 characters";
    for (unsigned char c : pin)
        if (c < 0x20 || c == 0x7F)
            return std::string(which) + " holds a control character";
    return {};
}

} // namespace

std::vector<RemoteGuestParam> defaultGuestParams() {
    return {{"mic.volume", {}, {}},
            {"music.volume", {}, {}},
            {"echo.volume", {}, {}},
            {"reverb.volume", {}, {}},
            {"mic.mute", {}, {}}};
}

bool splitListen(const std::string& listen, std::string& address, std::uint16_t& port,
                 std::string& error) {
    const std::size_t colon = listen.rfind(':');
    error = "listen address " + listen + " is not ADDR:PORT (e.g. 127.0.0.1:8470)";
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = listen.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return false; // an IPv6 address needs its brackets
    const std::string digits = listen.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int n = std::stoi(digits);
    if (n > 65535)
        return false;
    QHostAddress a;
    if (!a.setAddress(QString::fromStdString(host)))
        return false;
    address = host;
    port = std::uint16_t(n);
    error.clear();
    return true;
}

std::string RemoteConfig::problem() const {
    std::string address, error;
    std::uint16_t port = 0;
    if (!splitListen(listen, address, port, error))
        return error;
    if (auto e = pinProblem(ownerPin, "the owner PIN"); !e.empty())
        return e;
    if (auto e = pinProblem(guestPin, "the guest PIN"); !e.empty())
        return e;
    if (!ownerPin.empty() && ownerPin == guestPin)
        return "the owner and guest PINs are the same";
    for (std::size_t i = 0; i < guest.size(); ++i) {
        const RemoteGuestParam& g = guest[i];
        const ParamInfo* p = lookUpParam(g.param, error);
        if (!p)
            return "guest: " + error;
        for (std::size_t j = 0; j < i; ++j)
            if (guest[j].param == g.param)
                return "guest: " + g.param + " is listed twice";
        if (p->place == ParamPlace::Extra)
            return "guest: " + g.param + " is kept in mode files only";
        const bool number = p->kind == ValueKind::Number || p->kind == ValueKind::Ratio;
        if ((g.min || g.max) && !(number && p->hasRange))
            return "guest: " + g.param + " takes no limits";
        const double lo = g.min.value_or(p->min), hi = g.max.value_or(p->max);
        if (!std::isfinite(lo) || !std::isfinite(hi) || lo < p->min || hi > p->max || lo > hi)
            return "guest: the limits of " + g.param + " must lie within " + paramRangeText(*p);
    }
    return {};
}

std::optional<RemoteConfig> RemoteConfig::load(const std::string& path, std::string& error) {
    const QString name = QString::fromStdString(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a file";
        return std::nullopt;
    }
    // It holds the PINs.
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        error = path + ": other users may read it (it holds the PINs): chmod 600 " + path;
        return std::nullopt;
    }
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        error = path + ": " + f.errorString().toStdString();
        return std::nullopt;
    }
    if (f.size() > kMaxConfigBytes) {
        error = path + ": too large for a remote access file";
        return std::nullopt;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(kMaxConfigBytes), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        error = path + ": not a JSON object" +
                (pe.error != QJsonParseError::NoError
                     ? " (" + pe.errorString().toStdString() + " at byte " +
                           std::to_string(pe.offset) + ")"
                     : std::string());
        return std::nullopt;
    }
    RemoteConfig c;
    const QJsonObject o = doc.object();
    auto bad = [&](const std::string& what) {
        error = path + ": " + what;
        return std::nullopt;
    };
    for (auto it = o.begin(); it != o.end(); ++it) {
        const std::string key = it.key().toStdString();
        const QJsonValue v = it.value();
        if (key == "listen" || key == "owner_pin" || key == "guest_pin") {
            if (!v.isString())
                return bad(key + " must be a string");
            std::string& field = key == "listen"      ? c.listen
                                 : key == "owner_pin" ? c.ownerPin
                                                      : c.guestPin;
            field = v.toString().toStdString();
        } else if (key == "guest_open" || key == "guest_modes") {
            if (!v.isBool())
                return bad(key + " must be true or false");
            (key == "guest_open" ? c.guestOpen : c.guestModes) = v.toBool();
        } else if (key == "guest") {
            if (!v.isArray())
                return bad("guest must be a list");
            c.guest.clear();
            for (const QJsonValue& e : v.toArray()) {
                if (!e.isObject())
                    return bad("each guest entry must be {\"param\": NAME, \"min\"?, \"max\"?}");
                RemoteGuestParam g;
                const QJsonObject eo = e.toObject();
                for (auto f2 = eo.begin(); f2 != eo.end(); ++f2) {
                    const QString k = f2.key();
                    if (k == "param" && f2.value().isString())
                        g.param = f2.value().toString().toStdString();
                    else if ((k == "min" || k == "max") && f2.value().isDouble())
                        (k == "min" ? g.min : g.max) = f2.value().toDouble();
                    else if ((k == "min" || k == "max") && f2.value().isNull())
                        continue;
                    else
                        return bad("guest entry field " + k.toStdString() +
                                   " is unknown or of the wrong type");
                }
                if (g.param.empty())
                    return bad("a guest entry lacks its param");
                c.guest.push_back(std::move(g));
            }
        } else {
            return bad("unknown setting " + key);
        }
    }
    if (const std::string p = c.problem(); !p.empty())
        return bad(p);
    error.clear();
    return c;
}

bool RemoteConfig::save(const std::string& path, std::string& error) const {
    if (const std::string p = problem(); !p.empty()) {
        error = p;
        return false;
    }
    QJsonArray g;
    for (const RemoteGuestParam& e : guest) {
        QJsonObject eo{{"param", QString::fromStdString(e.param)}};
        if (e.min)
            eo["min"] = *e.min;
        if (e.max)
            eo["max"] = *e.max;
        g.append(eo);
    }
    const QJsonObject o{{"listen", QString::fromStdString(listen)},
                        {"owner_pin", QString::fromStdString(ownerPin)},
                        {"guest_pin", QString::fromStdString(guestPin)},
                        {"guest_open", guestOpen},
                        {"guest_modes", guestModes},
                        {"guest", g}};
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Indented);
    // Created 0600 from the start (never readable by others, whatever the umask), then renamed
    // over the old file so it is never half-written.
    const std::string tmp = path + ".tmp-" + randomHex(6);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype at = 0; ok && at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, std::size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        at += n > 0 ? n : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    error = path + ": " + std::strerror(ok ? errno : savedErrno);
    ::unlink(tmp.c_str());
    return false;
}

const char* roleName(RemoteRole r) {
    switch (r) {
    case RemoteRole::Owner:
        return "owner";
    case RemoteRole::Guest:
        return "guest";
    case RemoteRole::None:
        break;
    }
    return "none";
}

std::string randomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    if (got < bytes) // no getrandom: Qt's system generator reads the kernel's as well
        QRandomGenerator::system()->generate(raw.begin() + std::ptrdiff_t(got), raw.end());
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 0xF]);
    }
    return out;
}

std::string tokenDigest(const std::string& token) {
    return QCryptographicHash::hash(QByteArray::fromStdString(token), QCryptographicHash::Sha256)
        .toStdString();
}

bool sameSecret(const std::string& a, const std::string& b) {
    // Digests of equal length: the time depends on neither the lengths nor the contents.
    const std::string x = tokenDigest(a), y = tokenDigest(b);
    unsigned char diff = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
        diff |= static_cast<unsigned char>(x[i] ^ y[i]);
    return diff == 0;
}

RemoteAccess::RemoteAccess(Clock& clock) : clock_(clock) {
    setConfig(config_);
}

void RemoteAccess::setConfig(const RemoteConfig& config) {
    if (config.ownerPin != config_.ownerPin || config.guestPin != config_.guestPin ||
        config.guestOpen != config_.guestOpen)
        sessions_.clear();
    config_ = config;
    guestIndex_.clear();
    for (std::size_t i = 0; i < config_.guest.size(); ++i)
        guestIndex_.emplace(config_.guest[i].param, i);
}

RemoteAccess::LoginResult RemoteAccess::login(const std::string& pin, const std::string& address) {
    const double now = clock_.nowMs();
    LoginResult r;
    const bool ownerOk = !config_.ownerPin.empty();
    const bool guestOk = config_.guestOpen || !config_.guestPin.empty();
    if (!ownerOk && !guestOk) {
        r.result = Login::Closed;
        return r;
    }
    Attempts& a = attempts_[address];
    std::erase_if(a.wrongAt, [now](double t) { return t <= now - kWindowMs; });
    if (a.blockedUntilMs > now) {
        r.result = Login::TooMany;
        r.retryAfterMs = a.blockedUntilMs - now;
        return r;
    }
    // Both PINs are compared every time, so the time taken says nothing about either.
    const bool owner = ownerOk && sameSecret(pin, config_.ownerPin);
    const bool guest = !config_.guestPin.empty() && sameSecret(pin, config_.guestPin);
    if (owner)
        r.role = RemoteRole::Owner;
    else if (guest || (config_.guestOpen && pin.empty()))
        r.role = RemoteRole::Guest;
    if (r.role == RemoteRole::None) {
        if (now - a.lastWrongMs > kForgetMs)
            a.strikes = 0;
        a.wrongAt.push_back(now);
        a.lastWrongMs = now;
        // Five a minute; then a minute's wait, and each wrong PIN after it doubles the wait.
        if (int(a.wrongAt.size()) >= kFreeAttempts || a.strikes > 0) {
            a.blockedUntilMs = now + kWindowMs * double(1 << std::min(a.strikes, 6));
            ++a.strikes;
        }
        r.result = Login::WrongPin;
    } else {
        attempts_.erase(address);
        r.result = Login::Ok;
        r.token = randomHex(32);
        if (sessions_.size() >= kMaxSessions) // the one nearest its end goes
            sessions_.erase(std::min_element(sessions_.begin(), sessions_.end(),
                                             [](const auto& x, const auto& y) {
                                                 return x.second.expiresMs < y.second.expiresMs;
                                             }));
        sessions_[tokenDigest(r.token)] = Session{r.role, now + kTokenLifetimeMs};
    }
    if (attempts_.size() > kMaxTracked)
        std::erase_if(attempts_, [now](const auto& e) {
            return e.second.wrongAt.empty() && e.second.lastWrongMs < now - kForgetMs;
        });
    return r;
}

RemoteRole RemoteAccess::roleOf(const std::string& token) {
    if (token.empty())
        return RemoteRole::None;
    const auto it = sessions_.find(tokenDigest(token));
    if (it == sessions_.end())
        return RemoteRole::None;
    const double now = clock_.nowMs();
    if (it->second.expiresMs <= now) {
        sessions_.erase(it);
        return RemoteRole::None;
    }
    it->second.expiresMs = now + kTokenLifetimeMs;
    return it->second.role;
}

void RemoteAccess::logout(const std::string& token) {
    sessions_.erase(tokenDigest(token));
}

void RemoteAccess::endAllSessions() {
    sessions_.clear();
}

const RemoteGuestParam* RemoteAccess::guestEntry(const ParamInfo& p) const {
    const auto it = guestIndex_.find(p.id);
    return it == guestIndex_.end() ? nullptr : &config_.guest[it->second];
}

bool RemoteAccess::mayRead(RemoteRole r, const ParamInfo& p) const {
    return r == RemoteRole::Owner || (r == RemoteRole::Guest && guestEntry(p));
}

void RemoteAccess::limits(RemoteRole r, const ParamInfo& p, double& min, double& max) const {
    min = p.min;
    max = p.max;
    if (r != RemoteRole::Guest)
        return;
    if (const RemoteGuestParam* g = guestEntry(p)) {
        min = std::max(min, g->min.value_or(min));
        max = std::min(max, g->max.value_or(max));
    }
}

std::string RemoteAccess::mayWrite(RemoteRole r, const ParamInfo& p, double userValue,
                                   bool& outside) const {
    outside = false;
    if (r == RemoteRole::None)
        return "log in first";
    if (p.place == ParamPlace::Extra) {
        outside = true;
        return p.id + " is kept in mode files only";
    }
    if (r == RemoteRole::Owner)
        return {};
    const RemoteGuestParam* g = guestEntry(p);
    if (!g)
        return "guests may not change " + p.id;
    double lo = 0, hi = 0;
    limits(r, p, lo, hi);
    if ((g->min || g->max) && (userValue < lo || userValue > hi)) {
        outside = true;
        return p.id + ": " + jsonDouble(userValue) + " is outside the guests' limits " +
               jsonDouble(lo) + ".." + jsonDouble(hi);
    }
    return {};
}

bool RemoteAccess::mayRecallModes(RemoteRole r) const {
    return r == RemoteRole::Owner || (r == RemoteRole::Guest && config_.guestModes);
}

} // namespace q7
