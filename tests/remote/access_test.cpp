// SPDX-License-Identifier: GPL-3.0-or-later
// The remote access file, PIN logins, sessions on virtual time and the wrong-PIN limit.
#include "remote/access.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using namespace q7;

namespace {

std::string write(const QTemporaryDir& dir, const std::string& text, mode_t mode = 0600) {
    const std::string path = dir.filePath("remote.json").toStdString();
    std::ofstream(path, std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
    return path;
}

RemoteConfig pins() {
    RemoteConfig c;
    c.ownerPin = "2468";
    c.guestPin = "1357";
    return c;
}

} // namespace

TEST(RemoteConfig, SavedOwnerOnlyAndReadBackWhole) {
    QTemporaryDir dir;
    RemoteConfig c = pins();
    c.listen = "0.0.0.0:9000";
    c.guestModes = false;
    c.guest = {{"music.volume", {}, 70.0}, {"echo.volume", 5.0, 60.0}};
    const std::string path = dir.filePath("remote.json").toStdString();
    std::string error;
    ASSERT_TRUE(c.save(path, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto back = RemoteConfig::load(path, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->listen, "0.0.0.0:9000");
    EXPECT_EQ(back->ownerPin, "2468");
    EXPECT_EQ(back->guestPin, "1357");
    EXPECT_FALSE(back->guestModes);
    ASSERT_EQ(back->guest.size(), 2u);
    EXPECT_EQ(back->guest[0].param, "music.volume");
    EXPECT_FALSE(back->guest[0].min);
    EXPECT_EQ(back->guest[0].max, 70.0);
    EXPECT_EQ(back->guest[1].min, 5.0);
    // Written again over the old one, still 0600.
    ASSERT_TRUE(back->save(path, error)) << error;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RemoteConfig, BadFilesAreRefusedWithTheReason) {
    QTemporaryDir dir;
    std::string error;
    const auto refused = [&](const std::string& text, const std::string& reason,
                             mode_t mode = 0600) {
        EXPECT_FALSE(RemoteConfig::load(write(dir, text, mode), error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << " → " << error;
    };
    refused(R"({"owner_pin": "2468"})", "other users may read it", 0644);
    refused(R"({"owner_pin": "2468")", "not a JSON object");
    refused(R"([1, 2])", "not a JSON object");
    refused(R"({"owner_pim": "2468"})", "unknown setting owner_pim");
    refused(R"({"owner_pin": 2468})", "owner_pin must be a string");
    refused(R"({"guest_open": "yes"})", "guest_open must be true or false");
    refused(R"({"owner_pin": "12"})", "4 to 64");
    refused(R"({"owner_pin": "2468", "guest_pin": "2468"})", "the same");
    refused(R"({"listen": "localhost"})", "not ADDR:PORT");
    refused(R"({"listen": "127.0.0.1:70000"})", "not ADDR:PORT");
    refused(R"({"guest": [{"param": "music.volum"}]})", "unknown parameter music.volum");
    refused(R"({"guest": [{"param": "music.volume", "max": 120}]})", "within 0..99");
    refused(R"({"guest": [{"param": "music.volume", "min": 50, "max": 40}]})", "within");
    refused(R"({"guest": [{"param": "mic.mute", "max": 1}]})", "takes no limits");
    refused(R"({"guest": [{"param": "music.volume", "max": "70"}]})", "wrong type");
    refused(R"({"guest": [{"param": "music.volume"}, {"param": "music.volume"}]})", "twice");
    EXPECT_FALSE(RemoteConfig::load(dir.filePath("none.json").toStdString(), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    // The defaults and an explicit empty list are both fine.
    EXPECT_TRUE(RemoteConfig::load(write(dir, "{}"), error)) << error;
    const auto none = RemoteConfig::load(write(dir, R"({"guest": []})"), error);
    ASSERT_TRUE(none) << error;
    EXPECT_TRUE(none->guest.empty());
    EXPECT_TRUE(RemoteConfig().problem().empty()) << RemoteConfig().problem();
}

TEST(RemoteAccess, PinsGiveRolesAndTokensEndByLogoutExpiryOrNewPins) {
    VirtualClock clock;
    RemoteAccess access(clock);
    EXPECT_EQ(access.login("2468", "a").result, RemoteAccess::Login::Closed) << "no PIN yet";
    access.setConfig(pins());
    const auto owner = access.login("2468", "a");
    ASSERT_EQ(owner.result, RemoteAccess::Login::Ok);
    EXPECT_EQ(owner.role, RemoteRole::Owner);
    const auto guest = access.login("1357", "a");
    EXPECT_EQ(guest.role, RemoteRole::Guest);
    EXPECT_EQ(access.login("", "a").result, RemoteAccess::Login::WrongPin) << "guests need the PIN";
    EXPECT_EQ(access.login("24680", "a").result, RemoteAccess::Login::WrongPin);
    // Tokens: 256 random bits as hex, never the same.
    std::set<std::string> tokens{owner.token, guest.token};
    for (int i = 0; i < 50; ++i)
        tokens.insert(access.login("1357", "b").token);
    EXPECT_EQ(tokens.size(), 52u);
    EXPECT_EQ(owner.token.size(), 64u);
    EXPECT_EQ(access.roleOf(owner.token), RemoteRole::Owner);
    EXPECT_EQ(access.roleOf(owner.token + "0"), RemoteRole::None);
    EXPECT_EQ(access.roleOf(""), RemoteRole::None);

    access.logout(guest.token);
    EXPECT_EQ(access.roleOf(guest.token), RemoteRole::None);

    // Each use renews the session; a quiet one ends.
    clock.advanceMs(RemoteAccess::kTokenLifetimeMs - 1);
    EXPECT_EQ(access.roleOf(owner.token), RemoteRole::Owner);
    clock.advanceMs(RemoteAccess::kTokenLifetimeMs);
    EXPECT_EQ(access.roleOf(owner.token), RemoteRole::None);

    const auto again = access.login("2468", "a");
    RemoteConfig open = pins();
    open.guestPin.clear();
    open.guestOpen = true;
    access.setConfig(open);
    EXPECT_EQ(access.roleOf(again.token), RemoteRole::None) << "new PINs end every session";
    EXPECT_EQ(access.login("", "a").role, RemoteRole::Guest) << "open guest access";
    EXPECT_EQ(access.login("2468", "a").role, RemoteRole::Owner);
}

TEST(RemoteAccess, FiveWrongPinsAMinuteThenAGrowingWaitEvenForTheRightOne) {
    VirtualClock clock;
    RemoteAccess access(clock);
    access.setConfig(pins());
    for (int i = 0; i < RemoteAccess::kFreeAttempts; ++i)
        EXPECT_EQ(access.login("0000", "10.0.0.9").result, RemoteAccess::Login::WrongPin) << i;
    auto r = access.login("2468", "10.0.0.9");
    EXPECT_EQ(r.result, RemoteAccess::Login::TooMany);
    EXPECT_GT(r.retryAfterMs, 0);
    EXPECT_EQ(access.login("2468", "10.0.0.10").result, RemoteAccess::Login::Ok)
        << "another address is not held back";
    // A minute on, one try; wrong again, the wait grows with each.
    double last = r.retryAfterMs;
    EXPECT_EQ(last, RemoteAccess::kWindowMs);
    for (int round = 0; round < 4; ++round) {
        clock.advanceMs(r.retryAfterMs);
        EXPECT_EQ(access.login("0000", "10.0.0.9").result, RemoteAccess::Login::WrongPin);
        r = access.login("2468", "10.0.0.9");
        ASSERT_EQ(r.result, RemoteAccess::Login::TooMany) << round;
        EXPECT_GT(r.retryAfterMs, last) << round;
        last = r.retryAfterMs;
    }
    clock.advanceMs(r.retryAfterMs);
    EXPECT_EQ(access.login("2468", "10.0.0.9").result, RemoteAccess::Login::Ok);
    EXPECT_EQ(access.login("0000", "10.0.0.9").result, RemoteAccess::Login::WrongPin)
        << "a good login clears the count";
}

TEST(RemoteAccess, GuestsReadAndWriteOnlyTheWhitelistWithinTheOwnersLimits) {
    VirtualClock clock;
    RemoteAccess access(clock);
    RemoteConfig c = pins();
    c.guest = {{"music.volume", {}, 70.0}, {"echo.volume", 10.0, {}}, {"mic.mute", {}, {}}};
    access.setConfig(c);
    const ParamInfo& music = *findParam("music.volume");
    const ParamInfo& echo = *findParam("echo.volume");
    const ParamInfo& main = *findParam("main.mute");
    const ParamInfo& extra = *findParam("extra.0");
    bool outside = false;
    EXPECT_TRUE(access.mayWrite(RemoteRole::Guest, music, 70, outside).empty());
    EXPECT_FALSE(access.mayWrite(RemoteRole::Guest, music, 71, outside).empty());
    EXPECT_TRUE(outside);
    EXPECT_FALSE(access.mayWrite(RemoteRole::Guest, echo, 9, outside).empty());
    EXPECT_TRUE(access.mayWrite(RemoteRole::Guest, echo, 99, outside).empty());
    EXPECT_FALSE(access.mayWrite(RemoteRole::Guest, main, 1, outside).empty());
    EXPECT_FALSE(outside) << "not whitelisted is a matter of role";
    EXPECT_TRUE(access.mayWrite(RemoteRole::Owner, music, 99, outside).empty());
    EXPECT_FALSE(access.mayWrite(RemoteRole::Owner, extra, 1, outside).empty());
    EXPECT_FALSE(access.mayWrite(RemoteRole::None, music, 1, outside).empty());
    EXPECT_TRUE(access.mayRead(RemoteRole::Guest, music));
    EXPECT_FALSE(access.mayRead(RemoteRole::Guest, main));
    EXPECT_TRUE(access.mayRead(RemoteRole::Owner, main));
    double lo = 0, hi = 0;
    access.limits(RemoteRole::Guest, music, lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 70);
    access.limits(RemoteRole::Owner, music, lo, hi);
    EXPECT_EQ(hi, 99);
    EXPECT_TRUE(access.mayRecallModes(RemoteRole::Guest));
    c.guestModes = false;
    access.setConfig(c);
    EXPECT_FALSE(access.mayRecallModes(RemoteRole::Guest));
    EXPECT_TRUE(access.mayRecallModes(RemoteRole::Owner));
}

TEST(RemoteAccess, SecretsCompareWhole) {
    EXPECT_TRUE(sameSecret("2468", "2468"));
    EXPECT_FALSE(sameSecret("2468", "246"));
    EXPECT_FALSE(sameSecret("2468", "24680"));
    EXPECT_FALSE(sameSecret("", "2468"));
    EXPECT_TRUE(sameSecret("", ""));
}
