// SPDX-License-Identifier: GPL-3.0-or-later
// Who may use the remote server and how far: the owner's and guests' PINs, the guests' whitelist
// with the owner's limits, session tokens, the wrong-PIN rate limit and the audit lines.
#pragma once

#include "params/param_names.h"
#include "protocol/clock.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

// A parameter guests may change, with the owner's limits in user units (within the
// parameter's own range, which always holds as well).
struct RemoteGuestParam {
    std::string param;
    std::optional<double> min, max;
};

// Mic volume, music volume, echo and reverb levels, mic mutes.
std::vector<RemoteGuestParam> defaultGuestParams();

// The server's settings, as the editor's dialog writes them and `q7ctl serve --config` reads
// them: {"listen": "127.0.0.1:8470", "owner_pin": "…", "guest_pin": "…", "guest_open": false,
// "guest_modes": true, "guest": [{"param": "music.volume", "max": 70}, …]}.
struct RemoteConfig {
    std::string listen = "127.0.0.1:8470";
    std::string ownerPin; // empty: no owner login (API closed to owners)
    std::string guestPin; // used when !guestOpen
    bool guestOpen = false;
    std::vector<RemoteGuestParam> guest = defaultGuestParams();
    bool guestModes = true; // guests may recall the four user modes

    // The file holds PINs: it must not be readable by others. A file that is not valid (bad
    // JSON, unknown parameter, wrong types, limits outside the range) is refused with error.
    static std::optional<RemoteConfig> load(const std::string& path, std::string& error);
    bool save(const std::string& path, std::string& error) const; // written 0600
    // The same checks as load, on a config made in code; empty when it is valid.
    std::string problem() const;
};

enum class RemoteRole { None, Guest, Owner };
const char* roleName(RemoteRole r); // "owner", "guest", "none"

// Sessions and the rate limit. Time comes from the clock, so tests run on virtual time.
class RemoteAccess {
public:
    static constexpr double kTokenLifetimeMs = 12.0 * 3600 * 1000; // renewed by every use
    static constexpr int kFreeAttempts = 5;                        // wrong PINs a minute
    static constexpr double kWindowMs = 60'000;

    explicit RemoteAccess(Clock& clock);
    void setConfig(const RemoteConfig& config); // ends every session when a PIN changes
    const RemoteConfig& config() const { return config_; }

    enum class Login { Ok, WrongPin, TooMany, Closed };
    struct LoginResult {
        Login result = Login::WrongPin;
        RemoteRole role = RemoteRole::None;
        std::string token;
        double retryAfterMs = 0; // TooMany
    };
    // address: the client's, for the rate limit. An empty pin with open guest access logs in a
    // guest.
    LoginResult login(const std::string& pin, const std::string& address);
    // The role a token holds now; None when unknown or expired.
    RemoteRole roleOf(const std::string& token);
    void logout(const std::string& token);
    void endAllSessions();

    // Guests: the whitelist entry for a parameter, null when guests may not touch it.
    const RemoteGuestParam* guestEntry(const ParamInfo& p) const;
    bool mayRead(RemoteRole r, const ParamInfo& p) const;
    // Empty when the role may set the parameter to this user value; else why not. outside is
    // set when the refusal is a limit (a 400), not the whitelist (a 403).
    std::string mayWrite(RemoteRole r, const ParamInfo& p, double userValue, bool& outside) const;
    // The limits a role sees for a parameter: its range narrowed by the owner's limits.
    void limits(RemoteRole r, const ParamInfo& p, double& min, double& max) const;
    bool mayRecallModes(RemoteRole r) const;

private:
    struct Session {
        RemoteRole role;
        double expiresMs;
    };
    struct Attempts {
        std::vector<double> wrongAt; // within the last window
        int strikes = 0;             // logins refused for too many tries, for the growing delay
        double blockedUntilMs = 0;
        double lastWrongMs = 0;
    };
    Clock& clock_;
    RemoteConfig config_;
    std::map<std::string, Session> sessions_; // keyed by a hash of the token, never the token
    std::map<std::string, Attempts> attempts_;
    std::map<std::string, std::size_t> guestIndex_;
};

// "ADDR:PORT" (an IPv6 address in brackets): false with error when it is not one.
bool splitListen(const std::string& listen, std::string& address, std::uint16_t& port,
                 std::string& error);

// A token's digest for keeping and comparing; tokens themselves are never stored or logged.
std::string tokenDigest(const std::string& token);
// Compares in time that does not depend on where the strings differ.
bool sameSecret(const std::string& a, const std::string& b);
// n random bytes from the system's generator, as lower-case hex.
std::string randomHex(std::size_t bytes);

} // namespace q7
